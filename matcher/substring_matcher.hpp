// Whether any of a fixed set of parts occurs in a str, in one scan of the
// str. Used by Filter when every part is an exact str; the answers are
// those of `part in item` for each part. Time is linear in the parts plus
// the items, with a bound that no choice of parts can raise, and memory a
// few words per code point of the parts. How it matches is its plan's
// choice (plan.hpp), behind this front (ways.hpp, which the tests' probe
// drives under a forced plan).
#ifndef TESSAVOR_MATCHER_SUBSTRING_MATCHER_HPP
#define TESSAVOR_MATCHER_SUBSTRING_MATCHER_HPP

#include "module/ref.hpp"

namespace tessavor::matcher {

class Ways;

class SubstringMatcher {
public:
    enum class Built {
        kFailed,   // MemoryError is set
        kDeclined, // some part is not an exact str, or no way serves the parts: nothing is kept
        kReady,
    };

    SubstringMatcher() = default;
    ~SubstringMatcher();
    SubstringMatcher(const SubstringMatcher &) = delete;
    SubstringMatcher &operator=(const SubstringMatcher &) = delete;

    // How many parts `parts` holds when it is of a shape the matcher reads
    // (an exact list, tuple, set or frozenset), else -1.
    static Py_ssize_t parts_in(PyObject *parts);

    // Builds the matcher for `parts`, of a shape parts_in() accepts, for
    // about `text_length` code points of items to come.
    Built build(PyObject *parts, Py_ssize_t text_length);

    // Whether some part occurs in `item`, a ready exact str (once ready).
    bool matches(PyObject *item) const;
    // The same for two items, into found[0] and found[1]; faster than two
    // calls where the scans can go side by side.
    void matches_two(PyObject *a, PyObject *b, bool found[2]) const;

private:
    Ways *ways_ = nullptr;
};

} // namespace tessavor::matcher

#endif
