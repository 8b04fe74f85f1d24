#include "matcher/substring_matcher.hpp"

#include <new>

#include "matcher/process_key.hpp"
#include "matcher/ways.hpp"
#include "module/versions.hpp"

namespace tessavor::matcher {

Py_ssize_t SubstringMatcher::parts_in(PyObject *parts)
{
    if (PyList_CheckExact(parts) || PyTuple_CheckExact(parts)) {
        return Py_SIZE(parts);
    }
    return PyAnySet_CheckExact(parts) ? PySet_GET_SIZE(parts) : -1;
}

SubstringMatcher::~SubstringMatcher()
{
    if (ways_ != nullptr) {
        ways_->~Ways();
        PyMem_Free(ways_);
    }
}

SubstringMatcher::Built SubstringMatcher::build(PyObject *parts, Py_ssize_t text_length)
{
    assert(ways_ == nullptr && parts_in(parts) >= 0); // built once, from a shape it reads
    void *memory = PyMem_Malloc(sizeof(Ways));
    if (memory == nullptr) {
        PyErr_NoMemory();
        return Built::kFailed;
    }
    ways_ = new (memory) Ways();
    return ways_->build(parts, text_length, Choice{});
}

bool SubstringMatcher::matches(PyObject *item) const
{
    return ways_->matches(item);
}

void SubstringMatcher::matches_two(PyObject *a, PyObject *b, bool found[2]) const
{
    ways_->matches_two(a, b, found);
}

// Takes the parts into parts_. Which shapes may be read here, with no
// Python code running and no effect on what Filter answers, is Filter's
// concern: this reads exact lists, tuples, sets and frozensets.
Ways::Collected Ways::collect(PyObject *parts)
{
    bool sequence = PyList_CheckExact(parts) || PyTuple_CheckExact(parts);
    Py_ssize_t count = SubstringMatcher::parts_in(parts);
    if (!parts_.items.allocate(count)) {
        return Collected::kFailed;
    }
    Ref iterator;
    if (!sequence) {
        // A set iterator over an exact set runs no Python code; the set
        // keeps every element alive, so the references it hands out are
        // given back at once.
        iterator = Ref::steal(PyObject_GetIter(parts));
        if (!iterator) {
            return Collected::kFailed;
        }
    }
    bool has_empty = false;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject *part;
        if (sequence) {
            part = PySequence_Fast_ITEMS(parts)[i];
        } else {
            Ref next = Ref::steal(PyIter_Next(iterator.get()));
            if (!next) {
                if (PyErr_Occurred()) {
                    return Collected::kFailed;
                }
                break; // not expected: nothing can change the set meanwhile
            }
            part = next.get();
        }
        if (!PyUnicode_CheckExact(part)) {
            return Collected::kNotAllStrs;
        }
        if (versions::unicode_ready(part) < 0) {
            return Collected::kFailed;
        }
        Py_ssize_t length = part_length(part);
        has_empty = has_empty || length == 0;
        parts_.wide = parts_.wide || PyUnicode_KIND(part) != PyUnicode_1BYTE_KIND;
        parts_.items[parts_.count++] = part;
        parts_.total += length;
        parts_.longest = length > parts_.longest ? length : parts_.longest;
    }
    return has_empty ? Collected::kHasEmpty : Collected::kNonEmpty;
}

// Lists the distinct part lengths of parts_, ascending. Returns 0, or -1
// with MemoryError set.
int Ways::list_lengths()
{
    // Whether some part is 1, 2, ... longest code points long: none is empty here.
    Buffer<bool> seen;
    if (!seen.allocate(parts_.longest)) {
        return -1;
    }
    Py_ssize_t distinct = 0;
    for (Py_ssize_t i = 0; i < parts_.count; ++i) {
        bool &mark = seen[part_length(parts_.items[i]) - 1];
        distinct += !mark;
        mark = true;
    }
    if (!parts_.lengths.allocate(distinct)) {
        return -1;
    }
    for (Py_ssize_t i = 0; i < parts_.longest; ++i) {
        if (seen[i]) {
            parts_.lengths[parts_.length_count++] = i + 1;
        }
    }
    return 0;
}

SubstringMatcher::Built Ways::build(PyObject *parts, Py_ssize_t text_length, const Choice &choice)
{
    switch (collect(parts)) {
    case Collected::kFailed:
        return SubstringMatcher::Built::kFailed;
    case Collected::kNotAllStrs:
        return SubstringMatcher::Built::kDeclined;
    case Collected::kHasEmpty:
        // An empty part is in every str, whatever is forced.
        plan_.way = Way::kAlways;
        return SubstringMatcher::Built::kReady;
    case Collected::kNonEmpty:
        break;
    }
    // Only window hashing, and its cost estimate, go by the part lengths.
    if (WindowHash::serves(parts_) && list_lengths() < 0) {
        return SubstringMatcher::Built::kFailed;
    }
    plan_ = make_plan(parts_, text_length, choice);
    int built = 0;
    switch (plan_.way) {
    case Way::kWindowHash: {
        uint64_t key;
        built = process_key(&key) ? windows_.build(parts_, key) : -1;
        break;
    }
    case Way::kAutomaton:
        built = automaton_.build(parts_, plan_);
        break;
    default:
        return SubstringMatcher::Built::kDeclined;
    }
    return built == 0 ? SubstringMatcher::Built::kReady : SubstringMatcher::Built::kFailed;
}

bool Ways::matches(PyObject *item) const
{
    switch (plan_.way) {
    case Way::kAlways:
        return true;
    case Way::kWindowHash:
        return windows_.matches(item);
    case Way::kAutomaton:
        return automaton_.matches(item);
    default:
        return false;
    }
}

void Ways::matches_two(PyObject *a, PyObject *b, bool found[2]) const
{
    if (plan_.way == Way::kAutomaton && PyUnicode_KIND(a) == PyUnicode_1BYTE_KIND &&
        PyUnicode_KIND(b) == PyUnicode_1BYTE_KIND) {
        automaton_.matches_two(PyUnicode_1BYTE_DATA(a), PyUnicode_GET_LENGTH(a),
                               PyUnicode_1BYTE_DATA(b), PyUnicode_GET_LENGTH(b), found);
        return;
    }
    found[0] = matches(a);
    found[1] = matches(b);
}

} // namespace tessavor::matcher
