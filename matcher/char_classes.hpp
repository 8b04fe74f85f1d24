// Code points, whatever a str's storage width: reading a str at its own
// width (scan_str), and the classes of the parts' code points. Every code
// point that occurs in some part gets a number from 1 up, in the order the
// parts first show it, and every other code point 0. The automaton's
// transitions are indexed by class, so its rows are as wide as the parts'
// distinct code points, not as the whole of Unicode. The classes are all
// numbered by prepare() and read-only afterwards.
#ifndef TESSAVOR_MATCHER_CHAR_CLASSES_HPP
#define TESSAVOR_MATCHER_CHAR_CLASSES_HPP

#include <assert.h>

#include "matcher/parts.hpp"

namespace tessavor::matcher {

// Calls `scan(const Char *data, Py_ssize_t length)` with the storage of
// `item`, a ready str, at its own width.
template <typename Scan> bool scan_str(PyObject *item, Scan &&scan)
{
    Py_ssize_t length = PyUnicode_GET_LENGTH(item);
    switch (PyUnicode_KIND(item)) {
    case PyUnicode_1BYTE_KIND:
        return scan(PyUnicode_1BYTE_DATA(item), length);
    case PyUnicode_2BYTE_KIND:
        return scan(PyUnicode_2BYTE_DATA(item), length);
    default:
        return scan(PyUnicode_4BYTE_DATA(item), length);
    }
}

class CharClasses {
public:
    // Numbers the code points of `parts` and writes each part's classes
    // into `text` (parts.total entries), one part after another. Returns
    // 0, or -1 with MemoryError set.
    int prepare(const PartList &parts, int32_t *text);

    // Classes in use, class 0 included.
    int32_t width() const { return width_; }

    int32_t of(Py_UCS4 c) const
    {
        Py_UCS4 page = c >> kPageBits;
        return page < pages_ ? blocks_[pages_of_[page] + (c & kPageMask)] : 0;
    }
    // The classes of code points below 256 (pages 0 to 3, in order), for
    // one-byte text.
    const int32_t *low() const { return blocks_.get() + pages_of_[0]; }
    // The class of a code point read from a str of that width: one-byte
    // code points straight from their blocks.
    int32_t of_char(Py_UCS1 c) const { return low()[c]; }
    int32_t of_char(Py_UCS2 c) const { return of(c); }
    int32_t of_char(Py_UCS4 c) const { return of(c); }

private:
    static constexpr int kPageBits = 6;
    static constexpr Py_UCS4 kPageMask = (1u << kPageBits) - 1;

    bool allocate(const PartList &parts);
    void number(const PartList &parts, int32_t *text);

    // Two levels, so that memory follows the pages the parts use: a page of
    // 64 code points maps to a block of 64 classes in blocks_, and every
    // page no part uses to block 0, all zeros. At most 0x4400 pages.
    Buffer<int32_t> pages_of_; // per page up to the highest used: offset of its block
    Py_UCS4 pages_ = 0;
    Buffer<int32_t> blocks_;
    int32_t width_ = 1;
};

} // namespace tessavor::matcher

#endif
