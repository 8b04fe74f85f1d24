// Whether any of a fixed set of parts occurs in a str, in one scan of the
// str. Used by Filter when every part is an exact str; the answers are
// those of `part in item` for each part. build() takes whichever of two
// ways its cost estimate finds cheaper for the parts and the expected amount
// of text: window hashing, for parts of at most eight one-byte code points,
// or an automaton for any parts. Either way time is linear in the parts
// plus the items, with a bound that no choice of parts can raise, and
// memory a few words per code point of the parts.
//
// This is the matcher's one public header; the others in this folder are
// the ways of matching and what they share.
#ifndef TESSAVOR_MATCHER_SUBSTRING_MATCHER_HPP
#define TESSAVOR_MATCHER_SUBSTRING_MATCHER_HPP

#include "matcher/automaton.hpp"
#include "matcher/classes.hpp"
#include "matcher/parts.hpp"
#include "matcher/windows.hpp"

namespace tessavor::matcher {

class SubstringMatcher {
public:
    enum class Built {
        kFailed,   // MemoryError is set
        kDeclined, // some part is not an exact str, or the parts are too long: nothing is kept
        kReady,
    };

    // Builds the matcher for `parts`, an exact list, tuple, set or frozenset,
    // for about `text_length` code points of items to come.
    Built build(PyObject *parts, Py_ssize_t text_length);

    // Whether some part occurs in `item`, a ready exact str.
    bool matches(PyObject *item) const;
    // The same for two items, into found[0] and found[1]; faster than two
    // calls where the scans can go side by side.
    void matches_two(PyObject *a, PyObject *b, bool found[2]) const;

private:
    enum class Strategy { kNone, kAlways, kWindows, kAutomaton };
    enum class Collected { kFailed, kNotAllStrs, kHasEmpty, kNonEmpty };

    Collected collect(PyObject *parts);
    int list_lengths();
    Py_ssize_t row_entries() const;
    Strategy choose(Py_ssize_t text_length) const;

    Strategy strategy_ = Strategy::kNone;
    PartList parts_;
    CharClasses classes_;
    WindowHash windows_;
    Automaton automaton_;
};

} // namespace tessavor::matcher

#endif
