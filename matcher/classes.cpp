#include "matcher/classes.hpp"

namespace tessavor::matcher {

namespace {

constexpr Py_UCS4 kPages = 0x110000 >> 6;
constexpr Py_UCS4 kLowPages = 256 >> 6;

// Calls `visit(c)` for every code point of every part, in order.
template <typename Visit> void each_char(const PartList &parts, Visit &&visit)
{
    for (Py_ssize_t i = 0; i < parts.count; ++i) {
        scan_str(parts.items[i], [&visit](auto *data, Py_ssize_t length) {
            for (Py_ssize_t j = 0; j < length; ++j) {
                visit(static_cast<Py_UCS4>(data[j]));
            }
            return false;
        });
    }
}

} // namespace

int CharClasses::prepare(const PartList &parts)
{
    // Which pages the parts use. The pages below 256 always have blocks, in
    // order, for one-byte text to index directly.
    unsigned char used[kPages] = {1, 1, 1, 1};
    Py_UCS4 highest = 0;
    if (parts.wide) {
        each_char(parts, [&used, &highest](Py_UCS4 c) {
            used[c >> kPageBits] = 1;
            highest = c > highest ? c : highest;
        });
    }
    pages_ = (highest >> kPageBits) + 1;
    pages_ = pages_ < kLowPages ? kLowPages : pages_;
    if (!pages_of_.allocate(pages_)) {
        return -1;
    }
    int32_t blocks = 1; // block 0: the zeros of unused pages
    for (Py_UCS4 page = 0; page < pages_; ++page) {
        if (used[page]) {
            pages_of_[page] = blocks++ << kPageBits;
        }
    }
    if (!blocks_.allocate(static_cast<Py_ssize_t>(blocks) << kPageBits)) {
        return -1;
    }
    return 0;
}

} // namespace tessavor::matcher
