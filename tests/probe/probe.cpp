// _tessavor_probe: the matcher behind Filter, alone, for the tests. It runs
// the matcher under a plan the caller forces and reports the plan it made,
// so that every way of matching can be tried on every case. Built from the
// same matcher sources as the module, in the test build only.
//
//   filter(items, parts, plan=None) -> the items that hold some part
//   plan(parts, text_length, plan=None) -> dict: the plan, and what it built
//   costs() -> dict: the cost model the plan weighs the ways by
//   rows_at(...), run_depth(...) -> the plan's rules on given numbers
//   process_key() -> the multiplier window hashing keys its tables with
//
// `items` is a list of exact strs; `parts` an exact list, tuple, set or
// frozenset of exact strs. `plan` forces any of "way" ("windows",
// "automaton"), "rows" ("auto", "all", "root") and "runs" ("auto",
// "early", "none"); the rest is chosen as Filter would.
#include <string.h>

#include "matcher/plan.hpp"
#include "matcher/process_key.hpp"
#include "matcher/substring_matcher.hpp"
#include "matcher/ways.hpp"

namespace {

using tessavor::Ref;
using namespace tessavor::matcher;

// One option of a plan: its key, its names, and the values they stand for.
template <typename Value> struct Option {
    const char *key;
    const char *names[3];
    Value values[3];
    int count;
};

const Option<Way> kWays = {"way", {"windows", "automaton"}, {Way::kWindowHash, Way::kAutomaton}, 2};
const Option<Rows> kRows = {
    "rows", {"auto", "all", "root"}, {Rows::kByBranching, Rows::kEveryDepth, Rows::kRootOnly}, 3};
const Option<Runs> kRuns = {
    "runs", {"auto", "early", "none"}, {Runs::kByOdds, Runs::kFromStart, Runs::kNone}, 3};

// The value `name` stands for among the option's; 0, or -1 with ValueError.
template <typename Value> int choose(const Option<Value> &option, const char *name, Value *out)
{
    for (int i = 0; i < option.count; ++i) {
        if (strcmp(name, option.names[i]) == 0) {
            *out = option.values[i];
            return 0;
        }
    }
    PyErr_Format(PyExc_ValueError, "plan[%s]: no such choice: '%s'", option.key, name);
    return -1;
}

// Reads one option from `plan`; 1 when present, 0 when absent, -1 with an
// exception set.
template <typename Value> int read_option(PyObject *plan, const Option<Value> &option, Value *out)
{
    PyObject *given = PyDict_GetItemString(plan, option.key); // borrowed
    if (given == nullptr) {
        return 0;
    }
    if (!PyUnicode_Check(given)) {
        PyErr_Format(PyExc_ValueError, "plan[%s]: no such choice: %R", option.key, given);
        return -1;
    }
    const char *name = PyUnicode_AsUTF8(given);
    return name != nullptr && choose(option, name, out) == 0 ? 1 : -1;
}

template <typename Value> const char *name_of(const Option<Value> &option, Value value)
{
    for (int i = 0; i < option.count; ++i) {
        if (option.values[i] == value) {
            return option.names[i];
        }
    }
    return "?";
}

// The Choice that `plan` (None or a dict) asks for. Returns 0, or -1 with
// an exception set.
int read_choice(PyObject *plan, Choice *choice)
{
    if (plan == nullptr || plan == Py_None) {
        return 0;
    }
    if (!PyDict_Check(plan)) {
        PyErr_SetString(PyExc_TypeError, "plan must be None or a dict");
        return -1;
    }
    Py_ssize_t known = 0;
    int found = read_option(plan, kWays, &choice->way);
    if (found < 0) {
        return -1;
    }
    choice->force_way = found == 1;
    known += found;
    found = read_option(plan, kRows, &choice->rows);
    if (found < 0) {
        return -1;
    }
    known += found;
    found = read_option(plan, kRuns, &choice->runs);
    if (found < 0) {
        return -1;
    }
    if (known + found != PyDict_GET_SIZE(plan)) {
        PyErr_Format(PyExc_ValueError, "plan: unknown keys in %R", plan);
        return -1;
    }
    return 0;
}

// Builds `matcher`; 0, or -1 with an exception set (ValueError where the
// forced way does not serve the parts).
int build(Ways &matcher, PyObject *parts, Py_ssize_t text_length, PyObject *plan)
{
    Choice choice;
    if (read_choice(plan, &choice) < 0) {
        return -1;
    }
    if (SubstringMatcher::parts_in(parts) < 0) {
        PyErr_SetString(PyExc_TypeError, "parts must be an exact list, tuple, set or frozenset");
        return -1;
    }
    switch (matcher.build(parts, text_length, choice)) {
    case SubstringMatcher::Built::kFailed:
        return -1;
    case SubstringMatcher::Built::kDeclined:
        // Every part was read: it is the way that does not serve them.
        if (matcher.parts().count == SubstringMatcher::parts_in(parts)) {
            PyErr_SetString(PyExc_ValueError, "the plan's way does not serve these parts");
        } else {
            PyErr_SetString(PyExc_TypeError, "every part must be an exact str");
        }
        return -1;
    case SubstringMatcher::Built::kReady:
        return 0;
    }
    return 0;
}

// The items that hold some part, by `matcher` built for `parts` under
// `plan`: each item alone and two side by side, as Filter takes them (the
// two must agree).
PyObject *filtered(Ways &matcher, PyObject *items, PyObject *parts, PyObject *plan)
{
    Py_ssize_t count = PyList_GET_SIZE(items), text = 0;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject *item = PyList_GET_ITEM(items, i);
        if (!PyUnicode_CheckExact(item)) {
            PyErr_SetString(PyExc_TypeError, "every item must be an exact str");
            return nullptr;
        }
        text += PyUnicode_GET_LENGTH(item);
    }
    if (build(matcher, parts, text, plan) < 0) {
        return nullptr;
    }
    Ref kept = Ref::steal(PyList_New(0));
    if (!kept) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < count; i += 2) {
        PyObject *a = PyList_GET_ITEM(items, i);
        PyObject *b = i + 1 < count ? PyList_GET_ITEM(items, i + 1) : a;
        bool found[2];
        matcher.matches_two(a, b, found);
        if (found[0] != matcher.matches(a) || found[1] != matcher.matches(b)) {
            PyErr_Format(PyExc_AssertionError, "matches and matches_two differ at item %zd", i);
            return nullptr;
        }
        for (int k = 0; k < (i + 1 < count ? 2 : 1); ++k) {
            if (found[k] && PyList_Append(kept.get(), k == 0 ? a : b) < 0) {
                return nullptr;
            }
        }
    }
    return kept.release();
}

bool parse_scan_args(PyObject *args, PyObject *kwargs, const char *format, PyObject **items,
                     PyObject **parts, PyObject **plan)
{
    static const char *keywords[] = {"items", "parts", "plan", nullptr};
    *plan = Py_None;
    return PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char **>(keywords),
                                       &PyList_Type, items, parts, plan);
}

PyObject *probe_filter(PyObject *, PyObject *args, PyObject *kwargs)
{
    PyObject *items, *parts, *plan;
    if (!parse_scan_args(args, kwargs, "O!O|O:filter", &items, &parts, &plan)) {
        return nullptr;
    }
    Ways matcher;
    return filtered(matcher, items, parts, plan);
}

PyObject *probe_along(PyObject *, PyObject *args, PyObject *kwargs)
{
    PyObject *items, *parts, *plan;
    if (!parse_scan_args(args, kwargs, "O!O|O:along", &items, &parts, &plan)) {
        return nullptr;
    }
    Ways matcher;
    Ref kept = Ref::steal(filtered(matcher, items, parts, plan));
    if (!kept) {
        return nullptr;
    }
    bool automaton = matcher.plan().way == Way::kAutomaton;
    return PyLong_FromSsize_t(automaton ? matcher.automaton().along_points() : 0);
}

const char *way_name(Way way)
{
    switch (way) {
    case Way::kAlways:
        return "always";
    case Way::kWindowHash:
        return "windows";
    case Way::kAutomaton:
        return "automaton";
    default:
        return "none";
    }
}

PyObject *probe_plan(PyObject *, PyObject *args, PyObject *kwargs)
{
    static const char *keywords[] = {"parts", "text_length", "plan", nullptr};
    PyObject *parts, *plan = Py_None;
    Py_ssize_t text_length;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "On|O:plan", const_cast<char **>(keywords),
                                     &parts, &text_length, &plan)) {
        return nullptr;
    }
    Ways matcher;
    if (build(matcher, parts, text_length, plan) < 0) {
        return nullptr;
    }
    const Plan &made = matcher.plan();
    if (made.way != Way::kAutomaton) {
        return Py_BuildValue("{ss}", "way", way_name(made.way));
    }
    const Automaton::Facts &facts = matcher.automaton().facts();
    return Py_BuildValue("{ss ss ss sn si si sn sn sn sn}", "way", way_name(made.way), "rows",
                         name_of(kRows, made.rows), "runs", name_of(kRuns, made.runs), "row_budget",
                         made.row_budget, "chain_rows", int(made.chain_rows), "run_ahead",
                         int(made.run_ahead), "states", facts.states, "row_depths",
                         facts.row_depths, "row_entries", facts.row_entries, "run_states",
                         facts.runs);
}

// The plan's rules, on numbers of the caller's choosing: its bounds, seen
// from tests without building parts that reach them.
PyObject *probe_rows_at(PyObject *, PyObject *args)
{
    Plan plan;
    const char *rows;
    Py_ssize_t depth, entries, live, states;
    int width, above;
    if (!PyArg_ParseTuple(args, "snnnnnip:rows_at", &rows, &plan.row_budget, &depth, &entries,
                          &live, &states, &width, &above)) {
        return nullptr;
    }
    if (choose(kRows, rows, &plan.rows) < 0) {
        return nullptr;
    }
    return PyBool_FromLong(plan.rows_at(depth, entries, live, states, width, above));
}

PyObject *probe_run_depth(PyObject *, PyObject *args)
{
    Plan plan;
    const char *runs;
    Py_ssize_t parts;
    int points;
    if (!PyArg_ParseTuple(args, "sni:run_depth", &runs, &parts, &points)) {
        return nullptr;
    }
    if (choose(kRuns, runs, &plan.runs) < 0) {
        return nullptr;
    }
    Py_ssize_t depth = plan.run_depth(parts, points);
    return depth == Plan::kNoRun ? Py_NewRef(Py_None) : PyLong_FromSsize_t(depth);
}

PyObject *probe_process_key(PyObject *, PyObject *)
{
    uint64_t key;
    return process_key(&key) ? PyLong_FromUnsignedLongLong(key) : nullptr;
}

PyObject *probe_costs(PyObject *, PyObject *)
{
    return Py_BuildValue("{sd sd sd sd sd}", "window_part", kCosts.window_part, "window_step",
                         kCosts.window_step, "trie_point", kCosts.trie_point, "row_entry",
                         kCosts.row_entry, "automaton_step", kCosts.automaton_step);
}

PyMethodDef probe_methods[] = {
    {"filter", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(probe_filter)),
     METH_VARARGS | METH_KEYWORDS,
     "filter(items, parts, plan=None): the items that hold some part"},
    {"along", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(probe_along)),
     METH_VARARGS | METH_KEYWORDS,
     "along(items, parts, plan=None): how many code points filter()'s scans went along runs"},
    {"plan", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(probe_plan)),
     METH_VARARGS | METH_KEYWORDS, "plan(parts, text_length, plan=None): the plan and its build"},
    {"rows_at", probe_rows_at, METH_VARARGS,
     "rows_at(rows, budget, depth, entries, live, states, width, above): whether a depth gets "
     "rows"},
    {"run_depth", probe_run_depth, METH_VARARGS,
     "run_depth(runs, parts, points): where runs may start, or None"},
    {"process_key", probe_process_key, METH_NOARGS,
     "process_key(): the multiplier window hashing keys its tables with in this process"},
    {"costs", probe_costs, METH_NOARGS,
     "costs(): the cost model the plan weighs the ways by, in rough nanoseconds per unit"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef probe_module = {
    PyModuleDef_HEAD_INIT,
    "_tessavor_probe",
    "The matcher under a forced plan, for the tests.",
    -1,
    probe_methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

} // namespace

PyMODINIT_FUNC PyInit__tessavor_probe(void)
{
    return PyModule_Create(&probe_module);
}
