// Character classes: every code point that occurs in some part gets a
// number from 1 up, every other code point 0. The automaton's transitions
// are indexed by class, so its rows are as wide as the parts' distinct code
// points, not as the whole of Unicode.
#ifndef TESSAVOR_MATCHER_CLASSES_HPP
#define TESSAVOR_MATCHER_CLASSES_HPP

#include "matcher/parts.hpp"

namespace tessavor::matcher {

class CharClasses {
public:
    // Makes room for the code points of the parts, none of them numbered
    // yet. Returns 0, or -1 with MemoryError set.
    int prepare(const PartList &parts);

    // The class of a code point of the parts, given the next number on its
    // first appearance.
    int32_t classify(Py_UCS4 c)
    {
        int32_t &cls = blocks_[pages_of_[c >> kPageBits] + (c & kPageMask)];
        if (cls == 0) {
            cls = width_++;
        }
        return cls;
    }

    // Classes in use, class 0 included.
    int32_t width() const { return width_; }

    int32_t of(Py_UCS4 c) const
    {
        Py_UCS4 page = c >> kPageBits;
        return page < pages_ ? blocks_[pages_of_[page] + (c & kPageMask)] : 0;
    }
    // The classes of code points below 256 (pages 0 to 3), for one-byte text.
    const int32_t *low() const { return blocks_.get() + pages_of_[0]; }

private:
    static constexpr int kPageBits = 6;
    static constexpr Py_UCS4 kPageMask = (1u << kPageBits) - 1;

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
