// Aho-Corasick over character classes. The trie is built a depth at a time
// without hashing, so no list of parts can slow it down
// (automaton_builder.hpp); the records and rows it makes are laid out as
// automaton_layout.hpp says, and scanned by automaton_scan.cpp. Shallow
// states, where a scan spends nearly all of its time, get full rows (one
// load per code point) as the plan says; deeper ones keep their children
// sorted by class and follow failure links. Deep in a long chain, a scan of
// one-byte text compares the text with the chain's code points, eight at a
// time, instead of stepping. Time is linear in the parts and in the text,
// memory a few words per code point of the parts plus the rows, whose
// number the plan bounds.
#ifndef TESSAVOR_MATCHER_AUTOMATON_HPP
#define TESSAVOR_MATCHER_AUTOMATON_HPP

#include "matcher/automaton_layout.hpp"
#include "matcher/char_classes.hpp"
#include "matcher/plan.hpp"

namespace tessavor::matcher {

class Automaton {
public:
    // What a build made, for reading back.
    struct Facts {
        Py_ssize_t states = 0;      // the root included
        Py_ssize_t row_depths = 0;  // depths whose states got rows (the root's is depth 0)
        Py_ssize_t row_entries = 0; // entries of the rows kept or set aside
        Py_ssize_t runs = 0;        // states whose entry starts a run
    };

    // Builds the automaton of `parts` (parts.total < kMaxTotal) as `plan`
    // says. Returns 0, or -1 with MemoryError set. `parts` must outlive the
    // automaton.
    int build(const PartList &parts, const Plan &plan);
    bool matches(PyObject *item) const;
    // Whether some part occurs in each of two one-byte strs, scanned side by
    // side: the steps of one do not wait for those of the other.
    void matches_two(const Py_UCS1 *a, Py_ssize_t a_length, const Py_UCS1 *b, Py_ssize_t b_length,
                     bool found[2]) const;
    const Facts &facts() const { return facts_; }
#ifdef TESSAVOR_MATCHER_TALLY
    // The test build's tally of the code points its scans went along runs
    // rather than stepping: whether a plan's runs are taken, which no
    // answer shows.
    Py_ssize_t along_points() const { return along_points_; }
#endif

private:
    class Builder;

    int32_t child_classes(const State &state) const;
    int32_t entry_of(int32_t state) const;
    int32_t scan_step(int32_t state, int32_t cls) const;
    template <typename Char> int32_t next(int32_t entry, Char c) const;
    int32_t along(int32_t entry, const Py_UCS1 *data, Py_ssize_t &i, Py_ssize_t length) const;
    template <typename Char>
    bool scan(const Char *data, Py_ssize_t length, Py_ssize_t i, int32_t entry) const;

    CharClasses classes_; // numbered by the build, read-only afterwards
    Buffer<State> states_;
    // Rows of classes_.width() entries each (automaton_layout.hpp): what a scan reads
    // once built, state numbers while building.
    Buffer<int32_t> rows_;
    // Per state of a chain: how many of the states after it a run passes
    // (0 where the state starts none), and the one-byte code point on the
    // edge into it.
    Buffer<int32_t> run_;
    Buffer<Py_UCS1> byte_;
    Facts facts_;
#ifdef TESSAVOR_MATCHER_TALLY
    mutable Py_ssize_t along_points_ = 0;
#endif
};

// Inline: the build and the scan both step, each in a file of its own.
// Up to this many children are searched one by one, more by halving.
constexpr int32_t kLinearChildren = 8;

// What a sparse state keeps in its row's place: its one child's class, or
// else a bit for each child's class modulo kClassBits (none for a state
// without children, which rules every class out).
inline int32_t Automaton::child_classes(const State &state) const
{
    int32_t count = state.children();
    const State *children = states_.get() + state.first_child;
    if (count == 1) {
        return State::one_child_summary(children[0].edge_class());
    }
    uint32_t bits = 0;
    for (int32_t k = 0; k < count; ++k) {
        bits |= uint32_t(1) << (children[k].edge_class() % kClassBits);
    }
    return State::many_children_summary(bits);
}

inline int32_t find_child(const State *states, int32_t state, int32_t cls)
{
    const State &parent = states[state];
    // Only finished states are stepped from, and a finished state has a
    // row or else a summary.
    assert(!parent.has_row() && parent.has_summary() && cls > 0);
    if (parent.has_one_child_summary()) {
        return parent.one_child_class() == cls ? parent.first_child : 0;
    }
    if (!parent.may_have_child(cls)) {
        return 0; // no child's class has cls's bit
    }
    int32_t first = parent.first_child, count = parent.children();
    const State *children = states + first;
    if (count <= kLinearChildren) {
        for (int32_t k = 0; k < count; ++k) {
            if (children[k].edge_class() == cls) {
                return first + k;
            }
        }
        return 0;
    }
    int32_t lo = 0, hi = count;
    while (lo < hi) {
        int32_t mid = lo + (hi - lo) / 2;
        if (children[mid].edge_class() < cls) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo < count && children[lo].edge_class() == cls ? first + lo : 0;
}

// The entry of a state reached that does not accept: where its row
// begins, or its sparse entry, with kRun when it starts a run.
inline int32_t Automaton::entry_of(int32_t state) const
{
    const State &reached = states_[state];
    if (reached.starts_run()) {
        return entry::sparse(state, true);
    }
    return reached.has_row() ? entry::dense(reached.row_offset()) : entry::sparse(state, false);
}

// The entry for `cls` from `state`, which does not accept: from a sparse
// state, its own child, else the failure links' until a dense state
// answers from its row. A child found is made an entry by
// encode(child, accepts).

template <typename Encode>
inline int32_t step(const State *states, const int32_t *rows, int32_t state, int32_t cls,
                    Encode &&encode)
{
    while (!states[state].has_row()) {
        int32_t child = find_child(states, state, cls);
        if (child != 0) {
            return encode(child, states[child].accepts());
        }
        state = states[state].fail;
    }
    return rows[states[state].row_offset() + cls];
}

} // namespace tessavor::matcher

#endif
