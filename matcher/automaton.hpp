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
};

// The entry for `cls` from `state`, which does not accept: from a sparse
// state, its own child, else the failure links' until a dense state
// answers from its row. A child found is made an entry by
// encode(child, accepts).
int32_t find_child(const State *states, int32_t state, int32_t cls);

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
