// Aho-Corasick over code points with hashed edges: a trie whose transitions
// live in one open-addressing table keyed by (state, code point), failure
// links followed where a transition is missing. Memory is a few words per
// code point of the parts, whatever the parts are; a scan takes amortised
// constant time per code point of the item.
#ifndef TESSAVOR_MATCHER_SPARSE_HPP
#define TESSAVOR_MATCHER_SPARSE_HPP

#include "matcher/parts.hpp"

namespace tessavor::matcher {

class SparseAutomaton {
public:
    // The most states (code points of the parts, plus one) it can hold.
    static constexpr Py_ssize_t kMaxStates = Py_ssize_t(1) << 30;

    // Returns 0, or -1 with MemoryError set; parts.total < kMaxStates.
    int build(const PartList &parts);
    bool matches(PyObject *item) const;

private:
    int build_trie(const PartList &parts);
    void link_failures();
    int32_t child(int32_t state, Py_UCS4 c) const;
    int32_t add_child(int32_t state, Py_UCS4 c);
    int32_t advance(int32_t state, Py_UCS4 c) const;
    template <typename Char> bool scan(const Char *data, Py_ssize_t length) const;

    int32_t states_ = 0;
    // Per state but the root: its parent and the code point that leads to
    // it, as parent << 21 | code point (code points need 21 bits).
    Buffer<uint64_t> edge_;
    Buffer<int32_t> fail_;
    Buffer<unsigned char> accepting_; // some part ends here or at a suffix
    // States by the hash of their edge; 0 (the root, nobody's child) is empty.
    Buffer<int32_t> slots_;
    int slot_shift_ = 0;
    Py_ssize_t slot_mask_ = 0;
    int32_t root_low_[256] = {}; // the root's transitions on code points below 256
};

} // namespace tessavor::matcher

#endif
