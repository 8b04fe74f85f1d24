// Whether any of a fixed set of parts occurs in a str, in one scan of the
// str: an Aho-Corasick automaton over code points, built as a full table.
// Used by Filter when every part is an exact str; the answers are those of
// `part in item` for each part.
#ifndef TESSAVOR_TRACKER_SUBSTRING_MATCHER_HPP
#define TESSAVOR_TRACKER_SUBSTRING_MATCHER_HPP

#include <stdint.h>

#include "module/ref.hpp"

namespace tessavor::tracker {

class SubstringMatcher {
public:
    SubstringMatcher() = default;
    ~SubstringMatcher();
    SubstringMatcher(const SubstringMatcher &) = delete;
    SubstringMatcher &operator=(const SubstringMatcher &) = delete;

    // Builds the automaton for `parts`, an exact list or tuple whose items
    // are all exact strs. Returns 1 when built, 0 when the automaton would
    // be too large to be worth it, -1 with MemoryError set.
    int build(PyObject *parts);

    // Whether some part occurs in `item`, an exact str.
    bool matches(PyObject *item) const;

private:
    int classify_parts(PyObject *parts, Py_ssize_t total);
    int build_trie(PyObject *parts);
    int resolve_failures();
    int32_t char_class(Py_UCS4 c) const;
    template <typename Char> bool scan(const Char *data, Py_ssize_t length) const;

    bool always_ = false;           // an empty part is in every str
    int32_t low_class_[256] = {};   // classes of code points below 256 (0: in no part)
    Py_UCS4 *high_chars_ = nullptr; // sorted code points from 256 up that occur in parts
    int32_t high_count_ = 0;
    int32_t high_base_ = 0; // class of high_chars_[0]
    int32_t width_ = 0;     // classes, the "in no part" class 0 included
    int32_t states_ = 0;
    Py_ssize_t table_size_ = 0;
    unsigned char *accepting_ = nullptr; // per state: some part ends here
    // next state's row offset for (row offset + class), or kAccept when the
    // transition completes a part.
    int32_t *table_ = nullptr;
};

} // namespace tessavor::tracker

#endif
