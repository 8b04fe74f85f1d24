#include "tracker/matcher_windows.hpp"

namespace tessavor::tracker {

namespace {

// The rolling hash is the polynomial sum of c[i] * kBase^(L-1-i), modulo
// 2^64; kMix spreads it before its top bits pick a slot and a filter bit.
constexpr uint64_t kBase = 0x100000001b3ull;
constexpr uint64_t kMix = 0x9e3779b97f4a7c15ull;

inline uint64_t mixed(uint64_t hash, Py_ssize_t length)
{
    return (hash + static_cast<uint64_t>(length)) * kMix;
}

} // namespace

int WindowHash::build(const PartList &parts, Py_ssize_t lengths)
{
    parts_ = &parts;
    Py_ssize_t capacity = power_of_two_at_least(parts.count + parts.count / 2);
    Py_ssize_t filter_bits = power_of_two_at_least(parts.count * 8 > 64 ? parts.count * 8 : 64);
    Buffer<unsigned char> seen;
    if (!slots_.allocate(capacity) || !filter_.allocate(filter_bits / 64) ||
        !lengths_.allocate(lengths) || !seen.allocate(parts.longest + 1)) {
        return -1;
    }
    slot_shift_ = 64 - log2_of(capacity);
    slot_mask_ = capacity - 1;
    filter_shift_ = 64 - log2_of(filter_bits);

    for (Py_ssize_t i = 0; i < parts.count; ++i) {
        seen[part_length(parts.items[i])] = 1;
    }
    length_count_ = 0;
    for (Py_ssize_t length = 1; length <= parts.longest; ++length) {
        if (seen[length]) {
            uint64_t power = 1;
            for (Py_ssize_t k = 0; k < length; ++k) {
                power *= kBase;
            }
            lengths_[length_count_++] = Length{length, power};
        }
    }
    for (Py_ssize_t i = 0; i < parts.count; ++i) {
        insert(parts.items[i], static_cast<int32_t>(i));
    }
    return 0;
}

// Adds one part unless an equal one is in already. The table has room for
// every part, so there is always an empty slot to stop at.
bool WindowHash::insert(PyObject *part, int32_t index)
{
    Py_ssize_t length = part_length(part);
    uint64_t hash = 0;
    for (Py_ssize_t j = 0; j < length; ++j) {
        hash = hash * kBase + part_char(part, j);
    }
    uint64_t key = mixed(hash, length);
    uint64_t bit = key >> filter_shift_;
    filter_[static_cast<Py_ssize_t>(bit >> 6)] |= uint64_t(1) << (bit & 63);
    Py_ssize_t slot = static_cast<Py_ssize_t>(key >> slot_shift_);
    for (;; slot = (slot + 1) & slot_mask_) {
        Slot &entry = slots_[slot];
        if (entry.part == 0) {
            entry = Slot{static_cast<uint32_t>(key), index + 1};
            return true;
        }
        if (entry.check == static_cast<uint32_t>(key)) {
            PyObject *other = parts_->items[entry.part - 1];
            if (scan_str(part, [other](auto *data, Py_ssize_t n) {
                    return part_equals(other, data, n);
                })) {
                return false;
            }
        }
    }
}

template <typename Char>
bool WindowHash::holds(uint64_t hash, Py_ssize_t length, const Char *window) const
{
    uint64_t key = mixed(hash, length);
    uint64_t bit = key >> filter_shift_;
    if (!((filter_[static_cast<Py_ssize_t>(bit >> 6)] >> (bit & 63)) & 1)) {
        return false;
    }
    for (Py_ssize_t slot = static_cast<Py_ssize_t>(key >> slot_shift_);;
         slot = (slot + 1) & slot_mask_) {
        const Slot &entry = slots_[slot];
        if (entry.part == 0) {
            return false;
        }
        if (entry.check == static_cast<uint32_t>(key) &&
            part_equals(parts_->items[entry.part - 1], window, length)) {
            return true;
        }
    }
}

template <typename Char> bool WindowHash::scan(const Char *data, Py_ssize_t length) const
{
    for (Py_ssize_t k = 0; k < length_count_; ++k) {
        Py_ssize_t width = lengths_[k].length;
        if (width > length) {
            break;
        }
        uint64_t hash = 0;
        for (Py_ssize_t i = 0; i < width; ++i) {
            hash = hash * kBase + data[i];
        }
        if (holds(hash, width, data)) {
            return true;
        }
        uint64_t top = lengths_[k].top_power;
        for (Py_ssize_t i = width; i < length; ++i) {
            hash = hash * kBase + data[i] - top * data[i - width];
            if (holds(hash, width, data + i - width + 1)) {
                return true;
            }
        }
    }
    return false;
}

bool WindowHash::matches(PyObject *item) const
{
    return scan_str(item, [this](auto *data, Py_ssize_t length) { return scan(data, length); });
}

} // namespace tessavor::tracker
