// Aho-Corasick over code points as a full transition table: one load per
// code point of the item. The table has a row per state and a column per
// distinct code point of the parts, so it suits parts that are few or made
// of few distinct code points.
#ifndef TESSAVOR_MATCHER_DENSE_HPP
#define TESSAVOR_MATCHER_DENSE_HPP

#include "matcher/parts.hpp"

namespace tessavor::matcher {

class DenseAutomaton {
public:
    // Gives every code point of the parts its column. Returns 0, or -1 with
    // MemoryError set.
    int classify(const PartList &parts);
    // Entries the table would have: known after classify().
    Py_ssize_t table_entries(const PartList &parts) const { return (parts.total + 1) * width_; }
    // Builds the table (after classify()). Returns 0, or -1 with MemoryError.
    int build(const PartList &parts);
    bool matches(PyObject *item) const;

private:
    int build_trie(const PartList &parts);
    int resolve_failures();
    int32_t char_class(Py_UCS4 c) const;
    template <typename Char> bool scan(const Char *data, Py_ssize_t length) const;

    int32_t low_class_[256] = {}; // classes of code points below 256 (0: in no part)
    Buffer<Py_UCS4> high_chars_;  // sorted code points from 256 up that occur in parts
    int32_t high_count_ = 0;
    int32_t high_base_ = 0; // class of high_chars_[0]
    int32_t width_ = 0;     // classes, the "in no part" class 0 included
    int32_t states_ = 0;
    Buffer<unsigned char> accepting_; // per state: some part ends here
    // next state's row offset for (row offset + class), or kAccept when the
    // transition completes a part.
    Buffer<int32_t> table_;
};

} // namespace tessavor::matcher

#endif
