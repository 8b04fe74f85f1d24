#include "matcher/window_hash.hpp"

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

// Whether a window's code points are all below 256: a window of wider text
// that has a part's number is not the part otherwise, as packing is
// one-to-one only below 256. Always true of one-byte text.
template <typename Char> inline bool below_256(const Char *window, Py_ssize_t length)
{
    for (Py_ssize_t i = 0; i < length; ++i) {
        if (window[i] > 0xff) {
            return false;
        }
    }
    return true;
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
    // Each length's set has room for all the parts of that length, half as
    // many again at least, so that there is always an empty slot to stop at.
    Py_ssize_t of_length[kMaxLength + 1] = {};
    for (Py_ssize_t i = 0; i < parts.count; ++i) {
        ++of_length[part_length(parts.items[i])];
    }
    Py_ssize_t slots = 0;
    for (Py_ssize_t k = 0; k < parts.length_count; ++k) {
        Py_ssize_t count = of_length[parts.lengths[k]];
        Py_ssize_t capacity = power_of_two_at_least(count + count / 2);
        tables_[k] = Table{slots, capacity - 1, 64 - log2_of(capacity)};
        slots += capacity;
    }
    Py_ssize_t filter_bits = power_of_two_at_least(parts.count * 32 > 64 ? parts.count * 32 : 64);
    if (!slots_.resize(slots) || !filter_.allocate(filter_bits / 64) ||
        !pairs_.allocate(kPairWords)) {
        return -1;
    }
    for (Py_ssize_t i = 0; i < slots; ++i) {
        slots_[i] = kEmpty;
    }
    filter_shift_ = 64 - log2_of(filter_bits);
    for (Py_ssize_t i = 0; i < parts.count; ++i) {
        PyObject *part = parts.items[i];
        Py_ssize_t length = part_length(part);
        const Py_UCS1 *data = PyUnicode_1BYTE_DATA(part);
        // A part of one code point starts every window that starts with it.
        for (int next = 0; next < (length == 1 ? 256 : 1); ++next) {
            uint32_t pair = data[0] | (length == 1 ? next : data[1]) << 8;
            pairs_[pair >> 6] |= uint64_t(1) << (pair & 63);
        }
        Py_ssize_t k = 0;
        while (parts.lengths[k] != length) {
            ++k;
        }
        insert(tables_[k], packed(data, length), length);
    }
    return 0;
}

// Adds one part's number unless it is in already.
void WindowHash::insert(const Table &table, uint64_t value, Py_ssize_t length)
{
    uint64_t key = mixed(value, length);
    uint64_t bit = key >> filter_shift_;
    filter_[static_cast<Py_ssize_t>(bit >> 6)] |= uint64_t(1) << (bit & 63);
    if (value == kEmpty) {
        all_ones_ = true;
        return;
    }
    for (Py_ssize_t slot = static_cast<Py_ssize_t>(key >> table.shift);;
         slot = (slot + 1) & table.mask) {
        uint64_t &entry = slots_[table.first + slot];
        if (entry == kEmpty) {
            entry = value;
            return;
        }
        if (entry == value) {
            return;
        }
    }
}

// Whether a window whose code points are all below 256, packed as
// `value`, is a part. The filter bit is tested inline, so that the common
// miss costs no call.
inline bool WindowHash::holds(const Table &table, uint64_t value, Py_ssize_t length) const
{
    uint64_t key = mixed(value, length);
    return in_filter(key) && in_table(table, key, value);
}

bool WindowHash::in_table(const Table &table, uint64_t key, uint64_t value) const
{
    if (value == kEmpty) {
        return all_ones_;
    }
    for (Py_ssize_t slot = static_cast<Py_ssize_t>(key >> table.shift);;
         slot = (slot + 1) & table.mask) {
        uint64_t entry = slots_[table.first + slot];
        if (entry == value) {
            return true;
        }
        if (entry == kEmpty) {
            return false;
        }
    }
}

template <typename Char> bool WindowHash::scan(const Char *data, Py_ssize_t length) const
{
    for (Py_ssize_t k = 0; k < parts_->length_count; ++k) {
        Py_ssize_t width = parts_->lengths[k];
        const Table &table = tables_[k];
        Py_ssize_t i = 0;
        if constexpr (sizeof(Char) == 1) {
            // One load per window while eight bytes remain; the windows after
            // that are shifted out of the item's last eight bytes.
            uint64_t mask = low_bytes(width);
            // Four windows a step, read in one load: the first two code
            // points of each are looked up in the pairs' bits together, so
            // that most steps cost one branch and no multiplication.
            for (; i + 11 <= length; i += 4) {
                uint64_t head = load8(data + i);
                if (!(starts_part(head) | starts_part(head >> 8) | starts_part(head >> 16) |
                      starts_part(head >> 24))) {
                    continue;
                }
                for (Py_ssize_t j = i; j < i + 4; ++j) {
                    if (holds(table, load8(data + j) & mask, width)) {
                        return true;
                    }
                }
            }
            for (; i + 8 <= length; ++i) {
                if (holds(table, load8(data + i) & mask, width)) {
                    return true;
                }
            }
            if (length >= 8) {
                uint64_t last = load8(data + length - 8);
                for (; i + width <= length; ++i) {
                    uint64_t value = (last >> (8 * (i + 8 - length))) & mask;
                    if (holds(table, value, width)) {
                        return true;
                    }
                }
            }
        }
        for (; i + width <= length; ++i) {
            if (holds(table, packed(data + i, width), width) && below_256(data + i, width)) {
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
