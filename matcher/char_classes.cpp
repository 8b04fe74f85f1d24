#include "matcher/char_classes.hpp"

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

// Makes room for the code points of the parts, none of them numbered yet.
// False with MemoryError set when it cannot.
bool CharClasses::allocate(const PartList &parts)
{
    // Which pages the parts use. The pages below 256 always have blocks, in
    // order, for one-byte text to index directly.
    bool used[kPages] = {true, true, true, true};
    Py_UCS4 highest = 0;
    if (parts.wide) {
        each_char(parts, [&used, &highest](Py_UCS4 c) {
            used[c >> kPageBits] = true;
            highest = c > highest ? c : highest;
        });
    }
    pages_ = (highest >> kPageBits) + 1;
    pages_ = pages_ < kLowPages ? kLowPages : pages_;
    if (!pages_of_.allocate(pages_)) {
        return false;
    }
    int32_t blocks = 1; // block 0: the zeros of unused pages
    for (Py_UCS4 page = 0; page < pages_; ++page) {
        if (used[page]) {
            pages_of_[page] = blocks++ << kPageBits;
        }
    }
    return blocks_.allocate(static_cast<Py_ssize_t>(blocks) << kPageBits);
}

// Gives each code point the next number on its first appearance.
void CharClasses::number(const PartList &parts, int32_t *text)
{
    auto classify = [this](Py_UCS4 c) {
        int32_t &cls = blocks_[pages_of_[c >> kPageBits] + (c & kPageMask)];
        if (cls == 0) {
            cls = width_++;
        }
        return cls;
    };
    Py_ssize_t at = 0;
    for (Py_ssize_t i = 0; i < parts.count; ++i) {
        scan_str(parts.items[i], [&classify, text, &at](auto *data, Py_ssize_t length) {
            int32_t *out = text + at;
            for (Py_ssize_t j = 0; j < length; ++j) {
                out[j] = classify(data[j]);
            }
            at += length;
            return false;
        });
    }
    assert(at == parts.total);
}

int CharClasses::prepare(const PartList &parts, int32_t *text)
{
    assert(width_ == 1); // prepared once
    if (!allocate(parts)) {
        return -1;
    }
    number(parts, text);
    assert(width_ >= 2 && width_ <= parts.total + 1);
    return 0;
}

} // namespace tessavor::matcher
