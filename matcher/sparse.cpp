#include "matcher/sparse.hpp"

namespace tessavor::matcher {

namespace {

constexpr int kCharBits = 21;
constexpr uint64_t kCharMask = (uint64_t(1) << kCharBits) - 1;

inline uint64_t edge_key(int32_t state, Py_UCS4 c)
{
    return static_cast<uint64_t>(state) << kCharBits | c;
}

} // namespace

int32_t SparseAutomaton::child(int32_t state, Py_UCS4 c) const
{
    if (state == 0 && c < 256) {
        return root_low_[c];
    }
    uint64_t key = edge_key(state, c);
    for (Py_ssize_t slot = static_cast<Py_ssize_t>((key * kMix) >> slot_shift_);;
         slot = (slot + 1) & slot_mask_) {
        int32_t found = slots_[slot];
        if (found == 0 || edge_[found] == key) {
            return found;
        }
    }
}

int32_t SparseAutomaton::add_child(int32_t state, Py_UCS4 c)
{
    int32_t made = states_++;
    uint64_t key = edge_key(state, c);
    edge_[made] = key;
    if (state == 0 && c < 256) {
        root_low_[c] = made;
        return made;
    }
    Py_ssize_t slot = static_cast<Py_ssize_t>((key * kMix) >> slot_shift_);
    while (slots_[slot] != 0) {
        slot = (slot + 1) & slot_mask_;
    }
    slots_[slot] = made;
    return made;
}

int SparseAutomaton::build(const PartList &parts)
{
    Py_ssize_t most = parts.total + 1;
    Py_ssize_t capacity = power_of_two_at_least(most + most / 2);
    if (!edge_.allocate(most) || !fail_.allocate(most) || !accepting_.allocate(most) ||
        !slots_.allocate(capacity)) {
        return -1;
    }
    slot_shift_ = 64 - log2_of(capacity);
    slot_mask_ = capacity - 1;
    if (build_trie(parts) < 0) {
        return -1;
    }
    link_failures();
    return 0;
}

// Inserts the parts a column at a time: first code point of every part,
// then the second of those that have one, and so on. States are then
// numbered by depth, which is the order the failure links need.
int SparseAutomaton::build_trie(const PartList &parts)
{
    Buffer<int32_t> active, at;
    if (!active.allocate(parts.count) || !at.allocate(parts.count)) {
        return -1;
    }
    Py_ssize_t live = parts.count;
    for (Py_ssize_t i = 0; i < live; ++i) {
        active[i] = static_cast<int32_t>(i);
    }
    states_ = 1;
    for (Py_ssize_t depth = 0; live > 0; ++depth) {
        Py_ssize_t kept = 0;
        for (Py_ssize_t k = 0; k < live; ++k) {
            int32_t index = active[k];
            PyObject *part = parts.items[index];
            Py_UCS4 c = part_char(part, depth);
            int32_t next = child(at[index], c);
            if (next == 0) {
                next = add_child(at[index], c);
            }
            at[index] = next;
            if (depth + 1 == part_length(part)) {
                accepting_[next] = 1;
            } else {
                active[kept++] = index;
            }
        }
        live = kept;
    }
    return 0;
}

// The state reached from `state` on `c`: its child on `c`, else that of
// the nearest state along its failure links that has one, else the root.
inline int32_t SparseAutomaton::advance(int32_t state, Py_UCS4 c) const
{
    for (;;) {
        int32_t next = child(state, c);
        if (next != 0 || state == 0) {
            return next;
        }
        state = fail_[state];
    }
}

// The failure link of a state is the longest proper suffix of its prefix
// that is itself a prefix; a state accepts when that suffix does. States
// come in order of depth, so their parents' links are known.
void SparseAutomaton::link_failures()
{
    for (int32_t state = 1; state < states_; ++state) {
        int32_t parent = static_cast<int32_t>(edge_[state] >> kCharBits);
        Py_UCS4 c = static_cast<Py_UCS4>(edge_[state] & kCharMask);
        int32_t link = parent == 0 ? 0 : advance(fail_[parent], c);
        fail_[state] = link;
        accepting_[state] |= accepting_[link];
    }
}

template <typename Char> bool SparseAutomaton::scan(const Char *data, Py_ssize_t length) const
{
    int32_t state = 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        state = advance(state, data[i]);
        if (accepting_[state]) {
            return true;
        }
    }
    return false;
}

bool SparseAutomaton::matches(PyObject *item) const
{
    return scan_str(item, [this](auto *data, Py_ssize_t length) { return scan(data, length); });
}

} // namespace tessavor::matcher
