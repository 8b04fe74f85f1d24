// Whether any of a fixed set of parts occurs in a str, in one scan of the
// str. Used by Filter when every part is an exact str; the answers are
// those of `part in item` for each part. Of three ways to match, build()
// takes the one its cost estimate finds cheapest for the parts and the
// expected amount of text: a full automaton table, window hashing per part
// length, or an automaton with hashed edges. Time is linear in the parts
// plus the items and memory a few words per code point of the parts.
#ifndef TESSAVOR_TRACKER_SUBSTRING_MATCHER_HPP
#define TESSAVOR_TRACKER_SUBSTRING_MATCHER_HPP

#include "tracker/matcher_dense.hpp"
#include "tracker/matcher_parts.hpp"
#include "tracker/matcher_sparse.hpp"
#include "tracker/matcher_windows.hpp"

namespace tessavor::tracker {

class SubstringMatcher {
public:
    enum class Strategy { kNone, kAlways, kDense, kWindows, kSparse };

    // Builds the matcher for `parts`, an exact list, tuple, set or frozenset,
    // for about `text_length` code points of items to come. Returns 1 when
    // built, 0 when some part is not an exact str (nothing is kept then),
    // -1 with MemoryError set.
    int build(PyObject *parts, Py_ssize_t text_length);

    // Whether some part occurs in `item`, a ready exact str.
    bool matches(PyObject *item) const;

private:
    int collect(PyObject *parts);
    Strategy choose(Py_ssize_t text_length, Py_ssize_t lengths, Py_ssize_t dense_entries) const;

    Strategy strategy_ = Strategy::kNone;
    PartList parts_;
    DenseAutomaton dense_;
    WindowHash windows_;
    SparseAutomaton sparse_;
};

} // namespace tessavor::tracker

#endif
