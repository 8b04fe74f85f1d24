#include "matcher/substring_matcher.hpp"

namespace tessavor::matcher {

namespace {

// The largest full table worth its memory: 8 MiB, or 32 bytes per code
// point of the parts where that is more.
Py_ssize_t dense_entry_limit(Py_ssize_t total)
{
    return (Py_ssize_t(1) << 21) + 8 * total;
}

// Rough nanoseconds per unit of work of each way, measured with Filter on
// random parts and items: building is paid once, scanning per code point of
// the items.
constexpr double kDenseEntry = 0.4;     // filling one table entry
constexpr double kDenseTriePoint = 6.0; // one code point of a part into the trie
constexpr double kDenseStep = 1.5;      // one code point of an item, table in cache
constexpr double kDenseFarStep = 4.0;   // the same, table far larger than the cache
constexpr double kWindowPart = 25.0;    // one part into the hash set
constexpr double kWindowPoint = 2.0;    // hashing one code point of a part
constexpr double kWindowStep = 4.5;     // one window of an item, per part length
constexpr double kPackedStep = 2.0;     // the same, windows read whole (no part over 8)
constexpr double kSparsePoint = 50.0;   // one code point of a part into the automaton
constexpr double kSparseStep = 40.0;    // one code point of an item
constexpr Py_ssize_t kCacheBytes = Py_ssize_t(1) << 20;

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

SubstringMatcher::Strategy SubstringMatcher::choose(Py_ssize_t text_length,
                                                    Py_ssize_t dense_entries) const
{
    double text = static_cast<double>(text_length);
    double total = static_cast<double>(parts_.total);
    double windows = kWindowPart * static_cast<double>(parts_.count) + kWindowPoint * total +
                     (parts_.longest <= WindowHash::kPackedMax ? kPackedStep : kWindowStep) *
                         static_cast<double>(parts_.length_count) * text;
    Strategy best = Strategy::kWindows;
    double best_cost = windows;
    if (parts_.total < SparseAutomaton::kMaxStates) {
        double sparse = kSparsePoint * total + kSparseStep * text;
        if (sparse < best_cost) {
            best = Strategy::kSparse;
            best_cost = sparse;
        }
    }
    if (dense_entries > 0) {
        double step = dense_entries * 4 > kCacheBytes ? kDenseFarStep : kDenseStep;
        double dense = kDenseEntry * static_cast<double>(dense_entries) + kDenseTriePoint * total +
                       step * text;
        if (dense < best_cost) {
            best = Strategy::kDense;
        }
    }
    return best;
}

SubstringMatcher::Built SubstringMatcher::build(PyObject *parts, Py_ssize_t text_length)
{
    switch (collect(parts)) {
    case Collected::kFailed:
        return Built::kFailed;
    case Collected::kNotAllStrs:
        return Built::kNotAllStrs;
    case Collected::kHasEmpty:
        // An empty part is in every str.
        strategy_ = Strategy::kAlways;
        return Built::kReady;
    case Collected::kNonEmpty:
        break;
    }
    if (list_lengths() < 0) {
        return Built::kFailed;
    }
    // Classifying code points costs a sort of the parts' code points: only
    // where a table could be small enough at all (two columns at least).
    Py_ssize_t dense_entries = 0;
    Py_ssize_t limit = dense_entry_limit(parts_.total);
    if ((parts_.total + 1) * 2 <= limit) {
        if (dense_.classify(parts_) < 0) {
            return Built::kFailed;
        }
        dense_entries = dense_.table_entries(parts_);
        if (dense_entries > limit) {
            dense_entries = 0;
        }
    }
    strategy_ = choose(text_length, dense_entries);
    int rc;
    switch (strategy_) {
    case Strategy::kDense:
        rc = dense_.build(parts_);
        break;
    case Strategy::kSparse:
        rc = sparse_.build(parts_);
        break;
    default:
        rc = windows_.build(parts_);
        break;
    }
    return rc < 0 ? Built::kFailed : Built::kReady;
}

bool SubstringMatcher::matches(PyObject *item) const
{
    switch (strategy_) {
    case Strategy::kAlways:
        return true;
    case Strategy::kDense:
        return dense_.matches(item);
    case Strategy::kSparse:
        return sparse_.matches(item);
    case Strategy::kWindows:
        return windows_.matches(item);
    default:
        return false;
    }
}

} // namespace tessavor::matcher
