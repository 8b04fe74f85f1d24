#include "matcher/windows.hpp"

#include <cstring>

namespace tessavor::matcher {

namespace {

// A window's code points packed a byte apart, the first lowest. For code
// points below 256 this is the window itself; wider ones overlap their
// neighbours, so such a window may share a part's number (and is then
// confirmed) but never matches wrongly.
template <typename Char> inline uint64_t packed(const Char *window, Py_ssize_t length)
{
    uint64_t value = 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        value += static_cast<uint64_t>(window[i]) << (8 * i);
    }
    return value;
}

inline uint64_t low_bytes(Py_ssize_t length)
{
    return length == WindowHash::kMaxLength ? ~uint64_t(0) : (uint64_t(1) << (8 * length)) - 1;
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

// Multiply-shift by the secret odd key: the top bits pick a slot and a
// filter bit, and no two parts collide more often than at random for a list
// written without the key. The length is added so that "ab" and "ab\0"
// part ways (at most eight (number, length) pairs share a sum).
inline uint64_t WindowHash::mixed(uint64_t packed, Py_ssize_t length) const
{
    return (packed + static_cast<uint64_t>(length)) * key_;
}

int WindowHash::build(const PartList &parts, uint64_t key)
{
    parts_ = &parts;
    key_ = key;
    Py_ssize_t capacity = power_of_two_at_least(parts.count + parts.count / 2);
    Py_ssize_t filter_bits = power_of_two_at_least(parts.count * 32 > 64 ? parts.count * 32 : 64);
    if (!slots_.allocate(capacity) || !filter_.allocate(filter_bits / 64)) {
        return -1;
    }
    slot_shift_ = 64 - log2_of(capacity);
    slot_mask_ = capacity - 1;
    filter_shift_ = 64 - log2_of(filter_bits);
    for (Py_ssize_t i = 0; i < parts.count; ++i) {
        PyObject *part = parts.items[i];
        Py_ssize_t length = part_length(part);
        insert(packed(PyUnicode_1BYTE_DATA(part), length), static_cast<int32_t>(length),
               static_cast<int32_t>(i));
    }
    return 0;
}

// Adds one part unless an equal one is in already. The table has room for
// every part, so there is always an empty slot to stop at.
void WindowHash::insert(uint64_t value, int32_t length, int32_t part)
{
    uint64_t key = mixed(value, length);
    uint64_t bit = key >> filter_shift_;
    filter_[static_cast<Py_ssize_t>(bit >> 6)] |= uint64_t(1) << (bit & 63);
    for (Py_ssize_t slot = static_cast<Py_ssize_t>(key >> slot_shift_);;
         slot = (slot + 1) & slot_mask_) {
        Slot &entry = slots_[slot];
        if (entry.length == 0) {
            entry = Slot{value, length, part};
            return;
        }
        if (entry.packed == value && entry.length == length) {
            return;
        }
    }
}

// Whether the window packed as `value` is a part. The filter bit is tested
// inline, so that the common miss costs no call.
template <typename Char>
inline bool WindowHash::holds(uint64_t value, Py_ssize_t length, const Char *window) const
{
    uint64_t key = mixed(value, length);
    uint64_t bit = key >> filter_shift_;
    if (!((filter_[static_cast<Py_ssize_t>(bit >> 6)] >> (bit & 63)) & 1)) {
        return false;
    }
    return in_slots(key, value, length, window);
}

// At most one part has the window's number and length; only in text wider
// than a byte can the window differ from it, and then it is compared once.
template <typename Char>
bool WindowHash::in_slots(uint64_t key, uint64_t value, Py_ssize_t length,
                          const Char *window) const
{
    for (Py_ssize_t slot = static_cast<Py_ssize_t>(key >> slot_shift_);;
         slot = (slot + 1) & slot_mask_) {
        const Slot &entry = slots_[slot];
        if (entry.length == 0) {
            return false;
        }
        if (entry.packed == value && entry.length == length) {
            return sizeof(Char) == 1 || part_equals(parts_->items[entry.part], window, length);
        }
    }
}

template <typename Char> bool WindowHash::scan(const Char *data, Py_ssize_t length) const
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
                    uint64_t value = (last >> (8 * (i + 8 - length))) & mask;
                    if (holds(value, width, data + i)) {
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
