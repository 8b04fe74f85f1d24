// Window hashing for parts of at most eight code points below 256: for each
// distinct part length, every window of an item is packed into a 64-bit
// number a byte per code point (for one-byte text, one load) and looked up
// in that length's hash set of the parts' numbers. Packing is one-to-one for
// such parts and windows, so a lookup compares numbers, never code points;
// in wider text a window that has the number of a part is the part when its
// code points are all below 256. The sets' hash is keyed by the process's
// secret. A scan costs the item's length times the number of distinct part
// lengths, at most eight, however many parts there are.
#ifndef TESSAVOR_MATCHER_WINDOW_HASH_HPP
#define TESSAVOR_MATCHER_WINDOW_HASH_HPP

#include "matcher/char_classes.hpp"

namespace tessavor::matcher {

class WindowHash {
public:
    static constexpr Py_ssize_t kMaxLength = 8;

    // Whether window hashing can serve the parts.
    static bool serves(const PartList &parts) { return !parts.wide && parts.longest <= kMaxLength; }

    // Returns 0, or -1 with MemoryError set. `parts` must outlive the
    // matcher; `key` is an odd multiplier.
    int build(const PartList &parts, uint64_t key);
    bool matches(PyObject *item) const;

private:
    // A length's set: open addressing over slots_[first, first + mask + 1).
    struct Table {
        Py_ssize_t first;
        Py_ssize_t mask;
        int shift;
    };
    // Marks an empty slot. Only a part of eight U+00FF packs to it, which
    // all_ones_ records instead.
    static constexpr uint64_t kEmpty = ~uint64_t(0);

    void insert(const Table &table, uint64_t packed, Py_ssize_t length);
    uint64_t mixed(uint64_t packed, Py_ssize_t length) const;
    bool holds(const Table &table, uint64_t packed, Py_ssize_t length) const;
    bool in_table(const Table &table, uint64_t key, uint64_t packed) const;
    // Whether the filter has the bit of a window's key: false for most
    // windows that match no part.
    bool in_filter(uint64_t key) const
    {
        uint64_t bit = key >> filter_shift_;
        return (filter_[static_cast<Py_ssize_t>(bit >> 6)] >> (bit & 63)) & 1;
    }
    template <typename Char> bool scan(const Char *data, Py_ssize_t length) const;

    const PartList *parts_ = nullptr;
    uint64_t key_ = 0;
    Table tables_[kMaxLength] = {}; // by the index of the length in parts_->lengths
    Buffer<uint64_t> slots_;
    bool all_ones_ = false;
    // One bit per hash prefix, set for the parts' hashes: most windows that
    // match no part are told apart here, in less memory than the slots.
    Buffer<uint64_t> filter_;
    int filter_shift_ = 0;
    // One bit for each pair of code points below 256 that some part starts
    // with (any pair after a part of one code point): in one-byte text,
    // most windows that match no part start with a pair that has no bit.
    static constexpr Py_ssize_t kPairWords = (256 * 256) / 64;
    Buffer<uint64_t> pairs_;
    // The bit of the pair in the lowest two bytes of `bytes` (the first
    // lowest): 1 when some part starts with it, else 0.
    uint64_t starts_part(uint64_t bytes) const
    {
        uint32_t pair = static_cast<uint32_t>(bytes & 0xFFFF);
        return (pairs_[pair >> 6] >> (pair & 63)) & 1;
    }
};

} // namespace tessavor::matcher

#endif
