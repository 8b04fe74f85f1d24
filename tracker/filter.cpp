// Prod.Filter: the items of `string` that contain at least one part of
// `substr`, by the containment operator (`part in item`).
#include "matcher/substring_matcher.hpp"
#include "module/errors.hpp"
#include "module/traceback.hpp"
#include "module/versions.hpp"
#include "tracker/bodies.hpp"
#include "tracker/walk.hpp"

namespace tessavor::tracker {

namespace {

using matcher::SubstringMatcher;

// The item test's own traceback entries carry this name.
const char kTestName[] = "genexpr";
// From `def Filter(self, string, substr):` on.
constexpr int kSetupLine = 0; // the call's working state (the matcher)
constexpr int kWalkLine = 1;  // the result list and the walk over `string`
constexpr int kTestLine = 2;  // the item test: is some part of `substr` in the item
// Below this many items or item-part pairs, testing each pair directly is
// cheaper than building a matcher.
constexpr Py_ssize_t kMatcherMinItems = 8;
constexpr Py_ssize_t kMatcherMinPairs = 64;
// Items whose lengths estimate the text's length.
constexpr Py_ssize_t kSampledItems = 64;

// A StopIteration may not leave the item test: as from a generator, it turns
// into RuntimeError, with the StopIteration as its context.
void replace_stop_iteration()
{
    if (!PyErr_ExceptionMatches(PyExc_StopIteration)) {
        return;
    }
    FetchedError stop;
    raise_message(PyExc_RuntimeError, "generator raised StopIteration");
    FetchedError runtime;
    // Both are exception instances: a fetched exception always is.
    PyException_SetContext(runtime.value(), stop.take().release()); // steals
    runtime.restore();
}

// What the item test found.
enum class Test {
    kNone,   // no part of `substr` is in the item
    kFound,  // some part is
    kFailed, // the test failed; its entry is added
};

// The item test: whether some part of `substr` is in `item`.
Test item_test(const MethodSpec &method, PyObject *item, PyObject *substr)
{
    // Containment checks may run arbitrary code (a __contains__).
    WalkResult walked = walk(substr, [item](PyObject *part) {
        int rc = PySequence_Contains(item, part);
        return rc < 0 ? Visit::kFailed : rc > 0 ? Visit::kStop : Visit::kNext;
    });
    switch (walked) {
    case WalkResult::kEnded:
        return Test::kNone;
    case WalkResult::kStopped:
        return Test::kFound;
    case WalkResult::kFailed:
    case WalkResult::kVisitFailed:
        break;
    }
    replace_stop_iteration();
    add_traceback(kTestName, line_of(method, kTestLine));
    return Test::kFailed;
}

// Tests one item of `string` and keeps it in `result` when it matches.
Visit consider(const MethodSpec &method, PyObject *result, PyObject *item, PyObject *substr)
{
    Test found = item_test(method, item, substr);
    if (found == Test::kFailed) {
        add_traceback(method.traceback_name, line_of(method, kTestLine));
        return Visit::kFailed;
    }
    if (found == Test::kFound && PyList_Append(result, item) < 0) {
        add_traceback(method.traceback_name, line_of(method, kWalkLine));
        return Visit::kFailed;
    }
    return Visit::kNext;
}

bool exact_sequence(PyObject *obj)
{
    return PyList_CheckExact(obj) || PyTuple_CheckExact(obj);
}

// Code points in the leading exact, ready str items: what the matcher will
// scan, as far as it can tell before scanning. Only the cost of the ways
// of matching goes by it, so it is estimated from at most kSampledItems
// items spread over the list, not read from every item's object.
Py_ssize_t leading_text_length(PyObject *string)
{
    Py_ssize_t count = Py_SIZE(string);
    Py_ssize_t stride = count / kSampledItems + 1;
    Py_ssize_t sampled = 0, total = 0, i = 0;
    for (; i < count; i += stride, ++sampled) {
        PyObject *item = sequence_item(string, i);
        if (!PyUnicode_CheckExact(item) || !versions::unicode_is_ready(item)) {
            count = i; // the matcher stops at or before it
            break;
        }
        total += PyUnicode_GET_LENGTH(item);
    }
    return sampled == 0 ? 0 : static_cast<Py_ssize_t>(static_cast<double>(total) / sampled * count);
}

// The matcher's path: an exact list or tuple of items, and parts that are
// all exact strs, held in a shape the matcher reads. For each such shape,
// reading every part up front, in any order, gives what the item test
// would find:
// - an exact list or tuple: read by position, no Python code runs;
// - an exact set or frozenset: its own iterator runs no Python code (the
//   elements are only read, not hashed or compared), and nothing else can
//   change the set while the matcher runs.
// With every part an exact str, `part in item` for an exact str item is a
// plain substring search that calls no Python code and cannot fail, so the
// answer (some part is in the item) depends neither on the order of the
// parts nor on where the test would have stopped, and no traceback entry
// is ever added along the way. Anything else, a subclass included, takes
// the general path, whose iterator and containment calls may run code.
//
// The matcher serves the leading items that are exact strs; no Python code
// runs while it does, so neither `string` nor `substr` can change
// meanwhile. Returns the index of the first item it did not serve, or -1
// on failure.
Py_ssize_t match_leading_strs(const MethodSpec &method, PyObject *result, PyObject *string,
                              PyObject *substr)
{
    Py_ssize_t count = Py_SIZE(string);
    Py_ssize_t parts = SubstringMatcher::parts_in(substr);
    if (parts < 0 || count < kMatcherMinItems || count * parts < kMatcherMinPairs) {
        return 0;
    }
    SubstringMatcher matcher;
    switch (matcher.build(substr, leading_text_length(string))) {
    case SubstringMatcher::Built::kFailed:
        return fail_status(method.traceback_name, line_of(method, kSetupLine));
    case SubstringMatcher::Built::kDeclined:
        return 0;
    case SubstringMatcher::Built::kReady:
        break;
    }
    Py_ssize_t i = 0;
    while (i < count) {
        PyObject *item = sequence_item(string, i);
        if (!PyUnicode_CheckExact(item)) {
            break;
        }
        if (versions::unicode_ready(item) < 0) {
            PyErr_Clear(); // the general path meets the same error and reports it
            break;
        }
        // Two items at a time where the next is a ready exact str too.
        PyObject *next = i + 1 < count ? sequence_item(string, i + 1) : nullptr;
        bool pair =
            next != nullptr && PyUnicode_CheckExact(next) && versions::unicode_is_ready(next);
        bool found[2] = {false, false};
        if (pair) {
            matcher.matches_two(item, next, found);
        } else {
            found[0] = matcher.matches(item);
        }
        for (int k = 0; k < (pair ? 2 : 1); ++k) {
            if (found[k] && PyList_Append(result, sequence_item(string, i + k)) < 0) {
                return fail_status(method.traceback_name, line_of(method, kWalkLine));
            }
        }
        i += pair ? 2 : 1;
    }
    return i;
}

} // namespace

PyObject *filter(const MethodSpec &method, PyObject *const *args)
{
    PyObject *string = args[1];
    PyObject *substr = args[2];
    const int walk_line = line_of(method, kWalkLine);
    Ref result = Ref::steal(PyList_New(0));
    if (!result) {
        return fail_at(method.traceback_name, walk_line);
    }
    Py_ssize_t start = 0;
    if (exact_sequence(string)) {
        start = match_leading_strs(method, result.get(), string, substr);
        if (start < 0) {
            return nullptr;
        }
    }
    // The rest by the general path, from where the matcher stopped.
    WalkResult walked = walk(
        string, [&](PyObject *item) { return consider(method, result.get(), item, substr); },
        start);
    switch (walked) {
    case WalkResult::kEnded:
        return result.release();
    case WalkResult::kFailed:
        return fail_at(method.traceback_name, walk_line);
    case WalkResult::kStopped: // consider() never asks to stop
    case WalkResult::kVisitFailed:
        break;
    }
    assert(walked == WalkResult::kVisitFailed && PyErr_Occurred());
    return nullptr;
}

} // namespace tessavor::tracker
