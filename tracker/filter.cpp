// Prod.Filter: the items of `string` that contain at least one part of
// `substr`, by the containment operator (`part in item`).
#include "module/errors.hpp"
#include "module/traceback.hpp"
#include "tracker/bodies.hpp"
#include "tracker/substring_matcher.hpp"
#include "tracker/walk.hpp"

namespace tessavor::tracker {

namespace {

const char kFilterName[] = "tessavor.prod.Prod.Filter";
const char kTestName[] = "genexpr";
constexpr int kSetupLine = 94;
constexpr int kWalkLine = 95;
constexpr int kTestLine = 96;
// Below this many items or item-part pairs, testing each pair directly is
// cheaper than building a matcher.
constexpr Py_ssize_t kMatcherMinItems = 8;
constexpr Py_ssize_t kMatcherMinPairs = 64;

// A StopIteration may not leave the item test: as from a generator, it turns
// into RuntimeError, with the StopIteration as its context.
void replace_stop_iteration()
{
    if (!PyErr_ExceptionMatches(PyExc_StopIteration)) {
        return;
    }
    PyObject *type, *value, *tb;
    fetch_normalized(&type, &value, &tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    raise_message(PyExc_RuntimeError, "generator raised StopIteration");
    PyObject *rtype, *rvalue, *rtb;
    fetch_normalized(&rtype, &rvalue, &rtb);
    if (PyExceptionInstance_Check(rvalue) && PyExceptionInstance_Check(value)) {
        PyException_SetContext(rvalue, value); // steals
    } else {
        Py_DECREF(value);
    }
    PyErr_Restore(rtype, rvalue, rtb);
}

// The item test: 1 when some part of `substr` is in `item`, 0 when none is,
// -1 with its entry added.
int item_test(PyObject *item, PyObject *substr)
{
    // Containment checks may run arbitrary code (a __contains__).
    int rc = walk(substr, [item](PyObject *part) { return PySequence_Contains(item, part); });
    if (rc == kWalkFailed || rc == kWalkVisitFailed) {
        replace_stop_iteration();
        return fail_status(kTestName, kTestLine);
    }
    return rc == kWalkStopped;
}

// Tests one item of `string` and keeps it in `result` when it matches.
int consider(PyObject *result, PyObject *item, PyObject *substr)
{
    int found = item_test(item, substr);
    if (found < 0) {
        return fail_status(kFilterName, kTestLine);
    }
    if (found && PyList_Append(result, item) < 0) {
        return fail_status(kFilterName, kWalkLine);
    }
    return 0;
}

bool exact_sequence(PyObject *obj)
{
    return PyList_CheckExact(obj) || PyTuple_CheckExact(obj);
}

bool all_exact_str(PyObject *parts)
{
    for (Py_ssize_t j = 0; j < Py_SIZE(parts); ++j) {
        if (!PyUnicode_CheckExact(sequence_item(parts, j))) {
            return false;
        }
    }
    return true;
}

// The matcher's path: exact lists or tuples, every part an exact str. It
// serves the leading items that are exact strs; no Python code runs while
// it does, so neither sequence can change meanwhile. Returns the index of
// the first item it did not serve, or -1 on failure.
Py_ssize_t match_leading_strs(PyObject *result, PyObject *string, PyObject *substr)
{
    Py_ssize_t count = Py_SIZE(string);
    if (count < kMatcherMinItems || count * Py_SIZE(substr) < kMatcherMinPairs ||
        !all_exact_str(substr)) {
        return 0;
    }
    SubstringMatcher matcher;
    int built = matcher.build(substr);
    if (built < 0) {
        return fail_status(kFilterName, kSetupLine);
    }
    if (built == 0) {
        return 0;
    }
    Py_ssize_t i = 0;
    for (; i < count; ++i) {
        PyObject *item = sequence_item(string, i);
        if (!PyUnicode_CheckExact(item)) {
            break;
        }
        if (PyUnicode_READY(item) < 0) {
            PyErr_Clear(); // the general path meets the same error and reports it
            break;
        }
        if (matcher.matches(item) && PyList_Append(result, item) < 0) {
            return fail_status(kFilterName, kWalkLine);
        }
    }
    return i;
}

} // namespace

PyObject *filter(PyObject *const *args)
{
    PyObject *string = args[1];
    PyObject *substr = args[2];
    Ref result = Ref::steal(PyList_New(0));
    if (!result) {
        return fail_at(kFilterName, kWalkLine);
    }
    Py_ssize_t start = 0;
    if (exact_sequence(string) && exact_sequence(substr)) {
        start = match_leading_strs(result.get(), string, substr);
        if (start < 0) {
            return nullptr;
        }
    }
    // The rest by the general path, from where the matcher stopped.
    int rc =
        walk(string, [&](PyObject *item) { return consider(result.get(), item, substr); }, start);
    if (rc == kWalkFailed) {
        return fail_at(kFilterName, kWalkLine);
    }
    if (rc != kWalkEnded) {
        return nullptr;
    }
    return result.release();
}

} // namespace tessavor::tracker
