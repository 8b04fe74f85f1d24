#include "matcher/dense.hpp"

#include <stdlib.h>

namespace tessavor::matcher {

namespace {

constexpr int32_t kAccept = -1;

int compare_chars(const void *a, const void *b)
{
    Py_UCS4 x = *static_cast<const Py_UCS4 *>(a), y = *static_cast<const Py_UCS4 *>(b);
    return x < y ? -1 : x > y;
}

} // namespace

int32_t DenseAutomaton::char_class(Py_UCS4 c) const
{
    if (c < 256) {
        return low_class_[c];
    }
    int32_t lo = 0, hi = high_count_;
    while (lo < hi) {
        int32_t mid = lo + (hi - lo) / 2;
        if (high_chars_[mid] < c) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo < high_count_ && high_chars_[lo] == c ? high_base_ + lo : 0;
}

// Gives every code point that occurs in a part a class of its own: those
// below 256 through low_class_, the others by their rank in high_chars_.
int DenseAutomaton::classify(const PartList &parts)
{
    bool seen_low[256] = {};
    if (!high_chars_.allocate(parts.total)) {
        return -1;
    }
    Py_ssize_t high = 0;
    for (Py_ssize_t i = 0; i < parts.count; ++i) {
        PyObject *part = parts.items[i];
        int kind = PyUnicode_KIND(part);
        const void *data = PyUnicode_DATA(part);
        for (Py_ssize_t j = 0; j < part_length(part); ++j) {
            Py_UCS4 c = PyUnicode_READ(kind, data, j);
            if (c < 256) {
                seen_low[c] = true;
            } else {
                high_chars_[high++] = c;
            }
        }
    }
    qsort(high_chars_.get(), static_cast<size_t>(high), sizeof(Py_UCS4), compare_chars);
    Py_ssize_t unique = 0;
    for (Py_ssize_t i = 0; i < high; ++i) {
        if (unique == 0 || high_chars_[unique - 1] != high_chars_[i]) {
            high_chars_[unique++] = high_chars_[i];
        }
    }
    high_count_ = static_cast<int32_t>(unique);
    // Low code points take the classes from 1 in order of value; high ones
    // follow, so that char_class can compute theirs from the rank.
    int32_t next = 1;
    for (int c = 0; c < 256; ++c) {
        low_class_[c] = seen_low[c] ? next++ : 0;
    }
    high_base_ = next;
    width_ = next + high_count_;
    return 0;
}

int DenseAutomaton::build(const PartList &parts)
{
    if (!table_.allocate(table_entries(parts)) || !accepting_.allocate(parts.total + 1)) {
        return -1;
    }
    if (build_trie(parts) < 0 || resolve_failures() < 0) {
        return -1;
    }
    return 0;
}

// The trie of the parts: a state per distinct prefix. Entries hold the row
// offset of a child, 0 where there is none (the root is nobody's child).
int DenseAutomaton::build_trie(const PartList &parts)
{
    states_ = 1;
    for (Py_ssize_t i = 0; i < parts.count; ++i) {
        PyObject *part = parts.items[i];
        int kind = PyUnicode_KIND(part);
        const void *data = PyUnicode_DATA(part);
        int32_t row = 0;
        for (Py_ssize_t j = 0; j < part_length(part); ++j) {
            int32_t *entry = &table_[row + char_class(PyUnicode_READ(kind, data, j))];
            if (*entry == 0) {
                *entry = states_++ * width_;
            }
            row = *entry;
        }
        accepting_[row / width_] = 1;
    }
    return 0;
}

// Turns the trie into a full transition table, breadth first: a missing
// transition takes the one of the longest proper suffix that is a prefix
// (the failure state). A transition into a state where some part ends is
// marked kAccept: scanning stops there, so such states need no rows.
int DenseAutomaton::resolve_failures()
{
    Buffer<int32_t> queue, fail;
    if (!queue.allocate(states_) || !fail.allocate(states_)) {
        return -1;
    }
    int32_t head = 0, tail = 0;
    for (int32_t cls = 0; cls < width_; ++cls) {
        int32_t child = table_[cls];
        if (child != 0) {
            fail[child / width_] = 0;
            queue[tail++] = child / width_;
            if (accepting_[child / width_]) {
                table_[cls] = kAccept;
            }
        }
    }
    while (head < tail) {
        int32_t state = queue[head++];
        if (accepting_[state]) {
            continue;
        }
        int32_t *row = &table_[state * width_];
        const int32_t *fail_row = &table_[fail[state]];
        for (int32_t cls = 0; cls < width_; ++cls) {
            if (row[cls] == 0) {
                row[cls] = fail_row[cls];
                continue;
            }
            int32_t child = row[cls] / width_;
            int32_t via_fail = fail_row[cls];
            if (via_fail == kAccept) {
                accepting_[child] = 1;
            } else {
                fail[child] = via_fail;
            }
            if (accepting_[child]) {
                row[cls] = kAccept;
            }
            queue[tail++] = child;
        }
    }
    return 0;
}

template <typename Char> bool DenseAutomaton::scan(const Char *data, Py_ssize_t length) const
{
    int32_t row = 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        Py_UCS4 c = data[i];
        int32_t cls = sizeof(Char) == 1 ? low_class_[c] : char_class(c);
        row = table_[row + cls];
        if (row == kAccept) {
            return true;
        }
    }
    return false;
}

bool DenseAutomaton::matches(PyObject *item) const
{
    return scan_str(item, [this](auto *data, Py_ssize_t length) { return scan(data, length); });
}

} // namespace tessavor::matcher
