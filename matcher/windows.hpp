// Window hashing: for each distinct part length, a rolling hash slides over
// the item and every window is looked up in one hash set of the parts, a
// hit confirmed by comparing the code points. A scan costs the item's length
// times the number of distinct part lengths, so this suits parts of few
// lengths, however many parts there are.
#ifndef TESSAVOR_MATCHER_WINDOWS_HPP
#define TESSAVOR_MATCHER_WINDOWS_HPP

#include "matcher/parts.hpp"

namespace tessavor::matcher {

class WindowHash {
public:
    // Parts up to this long are hashed by packing their code points a byte
    // apart, which one-byte text reads a window at a time.
    static constexpr Py_ssize_t kPackedMax = 8;

    // Returns 0, or -1 with MemoryError set. `parts` must outlive the
    // matcher.
    int build(const PartList &parts);
    bool matches(PyObject *item) const;

private:
    struct Slot {
        uint32_t check; // low bits of the mixed hash
        int32_t part;   // index in the part list plus one; 0 for an empty slot
    };

    bool insert(PyObject *part, int32_t index);
    template <typename Char> bool scan(const Char *data, Py_ssize_t length) const;
    template <typename Char> bool scan_packed(const Char *data, Py_ssize_t length) const;
    template <typename Char> bool holds(uint64_t hash, Py_ssize_t length, const Char *window) const;
    template <typename Char>
    bool in_slots(uint64_t key, Py_ssize_t length, const Char *window) const;

    const PartList *parts_ = nullptr;
    Buffer<Slot> slots_;
    Buffer<uint64_t> top_powers_; // the hash base to the power of each of parts_->lengths
    bool packed_ = false;         // windows hash by packing: no part is longer than kPackedMax
    int slot_shift_ = 0;
    Py_ssize_t slot_mask_ = 0;
    // One bit per hash prefix, set for the parts' hashes: most windows that
    // match no part are told apart here, in less memory than the slots.
    Buffer<uint64_t> filter_;
    int filter_shift_ = 0;
};

} // namespace tessavor::matcher

#endif
