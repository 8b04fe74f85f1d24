// Whether any of a fixed set of parts occurs in a str, in one scan of the
// str. Used by Filter when every part is an exact str; the answers are
// those of `part in item` for each part. Of three ways to match, build()
// takes the one its cost estimate finds cheapest for the parts and the
// expected amount of text: a full automaton table, window hashing per part
// length, or an automaton with hashed edges. Time is linear in the parts
// plus the items and memory a few words per code point of the parts.
//
// This is the matcher's one public header; the others in this folder are
// the ways of matching and what they share.
#ifndef TESSAVOR_MATCHER_SUBSTRING_MATCHER_HPP
#define TESSAVOR_MATCHER_SUBSTRING_MATCHER_HPP

#include "matcher/dense.hpp"
#include "matcher/parts.hpp"
#include "matcher/sparse.hpp"
#include "matcher/windows.hpp"

namespace tessavor::matcher {

class SubstringMatcher {
public:
    enum class Built {
        kFailed,     // MemoryError is set
        kNotAllStrs, // some part is not an exact str: nothing is kept
        kReady,
    };

    // Builds the matcher for `parts`, an exact list, tuple, set or frozenset,
    // for about `text_length` code points of items to come.
    Built build(PyObject *parts, Py_ssize_t text_length);

    // Whether some part occurs in `item`, a ready exact str.
    bool matches(PyObject *item) const;

private:
    enum class Strategy { kNone, kAlways, kDense, kWindows, kSparse };
    enum class Collected { kFailed, kNotAllStrs, kHasEmpty, kNonEmpty };

    Collected collect(PyObject *parts);
    int list_lengths();
    Strategy choose(Py_ssize_t text_length, Py_ssize_t dense_entries) const;

    Strategy strategy_ = Strategy::kNone;
    PartList parts_;
    DenseAutomaton dense_;
    WindowHash windows_;
    SparseAutomaton sparse_;
};

} // namespace tessavor::matcher

#endif
