// The compact automaton's layout: what a state's record and a row's entry
// hold, and how each packs more than one thing into 32 bits.
//
// Words used in the matcher, and their usual names:
//   class    the number of a code point some part holds (char_classes.hpp),
//            from 1 up; 0 for every other code point. Transitions go by class.
//   state    a node of the trie: a beginning of some part.
//   accepts  some part ends at the state, by itself or through its failure
//            link (a match state). A scan stops there.
//   row      a state's full table of transitions, an entry per class: a
//            dense state. Only shallow states get one (plan.hpp, Rows).
//   sparse   a state without a row: its children, sorted by class, are
//            searched, and where none is on the class, its failure link is
//            followed. Its record keeps a summary of its children's classes
//            in the row's place: one child's class (a one-transition state)
//            or a bit per class modulo kClassBits.
//   entry    what a row holds for a class: where the next state's row
//            begins (dense), or kSparse and the next state's number
//            (sparse), or kMatchEntry where a part ends.
//   chain    states made at once for a stretch that a group of parts
//            shares, each the one child of the one before, numbered
//            consecutively.
//   stretch  the code points a group of parts shares from a depth on: the
//            chain made for it.
//   ride     a group of parts moving along its chain while the trie is
//            built, a depth at a time (automaton_builder.hpp).
//   lane     one of the rides whose next states are linked side by side.
//   run      from a chain state, a scan of one-byte text compares the text
//            with the chain's code points rather than stepping a state at a
//            time (a literal comparison); the state's entry carries kRun.
#ifndef TESSAVOR_MATCHER_AUTOMATON_LAYOUT_HPP
#define TESSAVOR_MATCHER_AUTOMATON_LAYOUT_HPP

#include <assert.h>

#include "matcher/parts.hpp"

namespace tessavor::matcher {

// The most code points the parts may hold: state numbers, classes and row
// offsets all stay below kRun.
constexpr Py_ssize_t kMaxTotal = Py_ssize_t(1) << 29;

// Entries. A row offset or a state number is below 2^29, so the two bits
// above it are free for what kind of entry it is, and the sign for a match.
constexpr int32_t kSparse = int32_t(1) << 30; // the rest is a state number
constexpr int32_t kRun = int32_t(1) << 29;    // with kSparse: the state starts a run
constexpr int32_t kMatchEntry = -1;           // a part ends here

namespace entry {

inline bool is_match(int32_t e)
{
    return e < 0;
}
inline bool is_sparse(int32_t e)
{
    return (e & kSparse) != 0;
}
inline bool starts_run(int32_t e)
{
    return (e & kRun) != 0;
}

// A dense state's entry: where its row begins.
inline int32_t dense(int32_t row)
{
    assert(row >= 0 && row < kRun);
    return row;
}
inline int32_t sparse(int32_t state, bool run)
{
    assert(state > 0 && state < kRun);
    return kSparse | (run ? kRun : 0) | state;
}
// The state of a sparse entry.
inline int32_t state_of(int32_t e)
{
    assert(!is_match(e) && is_sparse(e));
    return e & ~(kSparse | kRun);
}
// The scan that goes two items side by side stops going so at a match or
// a run: either has a bit of this.
constexpr int32_t kLeavesLockstep = INT32_MIN | kRun;

// While the trie is built, rows hold state numbers, complemented where the
// state accepts; finishing the rows turns them into entries.
inline int32_t pending(int32_t state, bool accepts)
{
    assert(state >= 0 && state < kRun);
    return accepts ? ~state : state;
}
inline bool pending_accepts(int32_t p)
{
    return p < 0;
}
inline int32_t pending_state(int32_t p)
{
    return p < 0 ? ~p : p;
}

} // namespace entry

// What a sparse state keeps in its row's place. A class complemented, from
// -2 down to kOneChild, is its one child's class; below kOneChild,
// kManyChildren marks a bit per child's class modulo kClassBits.
constexpr int32_t kNoRow = -1; // no row and no summary yet
constexpr int32_t kOneChild = -(int32_t(1) << 30);
constexpr uint32_t kManyChildren = uint32_t(1) << 31;
constexpr int32_t kClassBits = 30;

// A state, in one record so that a step from a sparse state reads one
// place. A state's children are numbered consecutively from first_child,
// in ascending class. Read the packed fields through the accessors.
struct State {
    int32_t first_child;
    int32_t child_count; // complemented when the state starts a run
    int32_t fail;        // the failure link: the longest proper suffix that is a state
    int32_t edge;        // the class of the edge into the state, complemented when it accepts
    int32_t row;         // a row's offset, or a summary of the children (below 0)

    static State made(int32_t first_child, int32_t children, int32_t edge_class)
    {
        assert(children >= 0 && edge_class >= 0 && edge_class < kRun);
        return State{first_child, children, 0, edge_class, kNoRow};
    }

    int32_t edge_class() const { return edge < 0 ? ~edge : edge; }
    bool accepts() const { return edge < 0; }
    void mark_accepts()
    {
        assert(edge != 0); // the root never accepts: no part is empty here
        edge = edge < 0 ? edge : ~edge;
    }

    int32_t children() const { return child_count < 0 ? ~child_count : child_count; }
    bool starts_run() const { return child_count < 0; }
    // A run's state keeps its one child (the chain's next state).
    void mark_run()
    {
        assert(child_count == 1);
        child_count = ~1;
    }

    bool has_row() const { return row >= 0; }
    int32_t row_offset() const
    {
        assert(has_row());
        return row;
    }
    bool has_summary() const { return row < kNoRow; }
    bool has_one_child_summary() const { return row < kNoRow && row >= kOneChild; }
    int32_t one_child_class() const
    {
        assert(has_one_child_summary());
        return ~row;
    }
    uint32_t class_bits() const
    {
        assert(row < kOneChild);
        return static_cast<uint32_t>(row) & ~kManyChildren;
    }
    // Whether `cls` may be the class of one of the children of a state
    // whose summary has many children's bits.
    bool may_have_child(int32_t cls) const { return (class_bits() >> (cls % kClassBits) & 1) != 0; }

    static int32_t one_child_summary(int32_t cls)
    {
        assert(cls > 0 && cls < -kOneChild);
        return ~cls;
    }
    static int32_t many_children_summary(uint32_t bits)
    {
        assert(bits < (uint32_t(1) << kClassBits));
        return static_cast<int32_t>(kManyChildren | bits);
    }
};

} // namespace tessavor::matcher

#endif
