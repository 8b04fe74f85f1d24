#include "matcher/windows.hpp"

#include <cstring>

namespace tessavor::matcher {

namespace {

// The rolling hash is the polynomial sum of c[i] * kBase^(L-1-i), modulo
// 2^64; kMix spreads it before its top bits pick a slot and a filter bit.
constexpr uint64_t kBase = 0x100000001b3ull;

inline uint64_t mixed(uint64_t hash, Py_ssize_t length)
{
    return (hash + static_cast<uint64_t>(length)) * kMix;
}

// When no part is longer than WindowHash::kPackedMax (8), a window's hash is
// its code points packed a byte apart, the first lowest: sum c[i] << 8i,
// modulo 2^64. For one-byte text that is the window itself as a
// little-endian load, so the scan reads each window with one load and a mask
// instead of rolling. Wider code points overlap, which only costs a check on
// a hit.
template <typename Char> inline uint64_t packed(const Char *window, Py_ssize_t length)
{
    uint64_t key = 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        key += static_cast<uint64_t>(window[i]) << (8 * i);
    }
    return key;
}

inline uint64_t low_bytes(Py_ssize_t length)
{
    return length == WindowHash::kPackedMax ? ~uint64_t(0) : (uint64_t(1) << (8 * length)) - 1;
}

// The eight bytes at `at` as a number whose lowest byte is the first.
inline uint64_t load8(const Py_UCS1 *at)
{
    uint64_t word;
    memcpy(&word, at, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
}

} // namespace

int WindowHash::build(const PartList &parts)
{
    parts_ = &parts;
    Py_ssize_t capacity = power_of_two_at_least(parts.count + parts.count / 2);
    Py_ssize_t filter_bits = power_of_two_at_least(parts.count * 32 > 64 ? parts.count * 32 : 64);
    if (!slots_.allocate(capacity) || !filter_.allocate(filter_bits / 64) ||
        !top_powers_.allocate(parts.length_count)) {
        return -1;
    }
    slot_shift_ = 64 - log2_of(capacity);
    slot_mask_ = capacity - 1;
    filter_shift_ = 64 - log2_of(filter_bits);

    packed_ = parts.longest <= kPackedMax;
    for (Py_ssize_t k = 0; k < parts.length_count; ++k) {
        uint64_t power = 1;
        for (Py_ssize_t i = 0; i < parts.lengths[k]; ++i) {
            power *= kBase;
        }
        top_powers_[k] = power;
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
        Py_UCS4 c = part_char(part, j);
        hash = packed_ ? hash + (static_cast<uint64_t>(c) << (8 * j)) : hash * kBase + c;
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

// Whether the window whose hash is `hash` is a part. The filter bit is
// tested inline, so that the common miss costs no call; the slots are
// looked at only when it is set.
template <typename Char>
inline bool WindowHash::holds(uint64_t hash, Py_ssize_t length, const Char *window) const
{
    uint64_t key = mixed(hash, length);
    uint64_t bit = key >> filter_shift_;
    if (!((filter_[static_cast<Py_ssize_t>(bit >> 6)] >> (bit & 63)) & 1)) {
        return false;
    }
    return in_slots(key, length, window);
}

template <typename Char>
bool WindowHash::in_slots(uint64_t key, Py_ssize_t length, const Char *window) const
{
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
    if (packed_) {
        return scan_packed(data, length);
    }
    for (Py_ssize_t k = 0; k < parts_->length_count; ++k) {
        Py_ssize_t width = parts_->lengths[k];
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
        uint64_t top = top_powers_[k];
        for (Py_ssize_t i = width; i < length; ++i) {
            hash = hash * kBase + data[i] - top * data[i - width];
            if (holds(hash, width, data + i - width + 1)) {
                return true;
            }
        }
    }
    return false;
}

template <typename Char> bool WindowHash::scan_packed(const Char *data, Py_ssize_t length) const
{
    for (Py_ssize_t k = 0; k < parts_->length_count; ++k) {
        Py_ssize_t width = parts_->lengths[k];
        Py_ssize_t i = 0;
        if constexpr (sizeof(Char) == 1) {
            // One load per window while eight bytes remain; the windows after
            // that are shifted out of the item's last eight bytes.
            uint64_t mask = low_bytes(width);
            for (; i + 8 <= length; ++i) {
                if (holds(load8(data + i) & mask, width, data + i)) {
                    return true;
                }
            }
            if (length >= 8) {
                uint64_t last = load8(data + length - 8);
                for (; i + width <= length; ++i) {
                    uint64_t key = (last >> (8 * (i + 8 - length))) & mask;
                    if (holds(key, width, data + i)) {
                        return true;
                    }
                }
            }
        }
        for (; i + width <= length; ++i) {
            if (holds(packed(data + i, width), width, data + i)) {
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

} // namespace tessavor::matcher
