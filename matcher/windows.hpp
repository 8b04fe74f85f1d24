// Window hashing for parts of at most eight code points below 256: for each
// distinct part length, every window of an item is packed into a 64-bit
// number a byte per code point (for one-byte text, one load) and looked up
// in a hash set of the parts. Packing is one-to-one for such parts, so a
// window's lookup compares numbers, never code points, except in wider text
// where it confirms the one part with its number. The set's hash is keyed
// by the process's secret. A scan costs the item's length times the number
// of distinct part lengths, at most eight, however many parts there are.
#ifndef TESSAVOR_MATCHER_WINDOWS_HPP
#define TESSAVOR_MATCHER_WINDOWS_HPP

#include "matcher/parts.hpp"

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
    struct Slot {
        uint64_t packed; // the part's code points, a byte each, the first lowest
        int32_t length;  // 0 for an empty slot
        int32_t part;    // index in the part list
    };

    void insert(uint64_t packed, int32_t length, int32_t part);
    uint64_t mixed(uint64_t packed, Py_ssize_t length) const;
    template <typename Char> bool holds(uint64_t packed, Py_ssize_t length, const Char *window) const;
    template <typename Char>
    bool in_slots(uint64_t key, uint64_t packed, Py_ssize_t length, const Char *window) const;
    template <typename Char> bool scan(const Char *data, Py_ssize_t length) const;

    const PartList *parts_ = nullptr;
    uint64_t key_ = 0;
    Buffer<Slot> slots_;
    int slot_shift_ = 0;
    Py_ssize_t slot_mask_ = 0;
    // One bit per hash prefix, set for the parts' hashes: most windows that
    // match no part are told apart here, in less memory than the slots.
    Buffer<uint64_t> filter_;
    int filter_shift_ = 0;
};

} // namespace tessavor::matcher

#endif
