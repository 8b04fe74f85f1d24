#include "matcher/substring_matcher.hpp"

#include "matcher/process_key.hpp"

namespace tessavor::matcher {

namespace {

// Rough nanoseconds per unit of work of each way, measured with Filter on
// random parts and items: building is paid once, scanning per code point of
// the items.
constexpr double kWindowPart = 25.0;   // one part into the hash set
constexpr double kWindowStep = 2.0;    // one window of an item, per part length
constexpr double kTriePoint = 15.0;    // one code point of a part into the automaton
constexpr double kRowEntry = 0.3;      // filling one entry of a full row
constexpr double kAutomatonStep = 3.0; // one code point of an item

// Full rows take at most 12 bytes per code point of the parts plus 8 MiB:
// they serve the build (failure links found in one step) as well as the
// scan.
constexpr Py_ssize_t kRowEntriesFixed = Py_ssize_t(1) << 21;
constexpr Py_ssize_t kRowEntriesPerPoint = 3;

} // namespace

// Takes the parts into parts_. Which shapes may be read here, with no
// Python code running and no effect on what Filter answers, is Filter's
// concern: this only reads exact lists, tuples, sets and frozensets.
SubstringMatcher::Collected SubstringMatcher::collect(PyObject *parts)
{
    bool sequence = PyList_CheckExact(parts) || PyTuple_CheckExact(parts);
    Py_ssize_t count = sequence ? Py_SIZE(parts) : PySet_GET_SIZE(parts);
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
        if (PyUnicode_READY(part) < 0) {
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
int SubstringMatcher::list_lengths()
{
    Buffer<unsigned char> seen;
    if (!seen.allocate(parts_.longest + 1)) {
        return -1;
    }
    Py_ssize_t distinct = 0;
    for (Py_ssize_t i = 0; i < parts_.count; ++i) {
        unsigned char &mark = seen[part_length(parts_.items[i])];
        distinct += !mark;
        mark = 1;
    }
    if (!parts_.lengths.allocate(distinct)) {
        return -1;
    }
    for (Py_ssize_t length = 1; length <= parts_.longest; ++length) {
        if (seen[length]) {
            parts_.lengths[parts_.length_count++] = length;
        }
    }
    return 0;
}

Py_ssize_t SubstringMatcher::row_entries() const
{
    return kRowEntriesFixed + kRowEntriesPerPoint * parts_.total;
}

// The cheaper way that serves the parts, or kNone when neither does (the
// automaton numbers its states in 32 bits).
SubstringMatcher::Strategy SubstringMatcher::choose(Py_ssize_t text_length) const
{
    bool automaton_serves = parts_.total < Automaton::kMaxTotal;
    if (!WindowHash::serves(parts_)) {
        return automaton_serves ? Strategy::kAutomaton : Strategy::kNone;
    }
    if (!automaton_serves) {
        return Strategy::kWindows;
    }
    double text = static_cast<double>(text_length);
    double windows = kWindowPart * static_cast<double>(parts_.count) +
                     kWindowStep * static_cast<double>(parts_.length_count) * text;
    double automaton = kTriePoint * static_cast<double>(parts_.total) +
                       kRowEntry * static_cast<double>(row_entries()) + kAutomatonStep * text;
    return automaton < windows ? Strategy::kAutomaton : Strategy::kWindows;
}

SubstringMatcher::Built SubstringMatcher::build(PyObject *parts, Py_ssize_t text_length)
{
    switch (collect(parts)) {
    case Collected::kFailed:
        return Built::kFailed;
    case Collected::kNotAllStrs:
        return Built::kDeclined;
    case Collected::kHasEmpty:
        // An empty part is in every str.
        strategy_ = Strategy::kAlways;
        return Built::kReady;
    case Collected::kNonEmpty:
        break;
    }
    // Only window hashing, and its cost estimate, go by the part lengths.
    if (WindowHash::serves(parts_) && list_lengths() < 0) {
        return Built::kFailed;
    }
    strategy_ = choose(text_length);
    switch (strategy_) {
    case Strategy::kWindows: {
        uint64_t key;
        return process_key(&key) && windows_.build(parts_, key) == 0 ? Built::kReady
                                                                     : Built::kFailed;
    }
    case Strategy::kAutomaton:
        return classes_.prepare(parts_) == 0 &&
                       automaton_.build(parts_, classes_, row_entries()) == 0
                   ? Built::kReady
                   : Built::kFailed;
    default:
        return Built::kDeclined;
    }
}

bool SubstringMatcher::matches(PyObject *item) const
{
    switch (strategy_) {
    case Strategy::kAlways:
        return true;
    case Strategy::kWindows:
        return windows_.matches(item);
    case Strategy::kAutomaton:
        return automaton_.matches(item);
    default:
        return false;
    }
}

void SubstringMatcher::matches_two(PyObject *a, PyObject *b, bool found[2]) const
{
    if (strategy_ == Strategy::kAutomaton && PyUnicode_KIND(a) == PyUnicode_1BYTE_KIND &&
        PyUnicode_KIND(b) == PyUnicode_1BYTE_KIND) {
        automaton_.matches_two(PyUnicode_1BYTE_DATA(a), PyUnicode_GET_LENGTH(a),
                               PyUnicode_1BYTE_DATA(b), PyUnicode_GET_LENGTH(b), found);
        return;
    }
    found[0] = matches(a);
    found[1] = matches(b);
}

} // namespace tessavor::matcher
