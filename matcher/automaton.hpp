// Aho-Corasick over character classes. The trie is built a depth at a time
// without hashing, so no list of parts can slow it down; where parts go on
// alike, their states are made at once as a chain. The shallow states, where
// a scan spends nearly all of its time, get full rows (one load per code
// point) while the trie branches; deeper ones keep their children sorted by
// class and follow failure links. Deep in a long chain, a scan of one-byte
// text compares the text with the chain's code points, eight at a time,
// instead of stepping. Time is linear in the parts and in the text, memory
// a few words per code point of the parts plus the rows, whose number the
// caller bounds.
#ifndef TESSAVOR_MATCHER_AUTOMATON_HPP
#define TESSAVOR_MATCHER_AUTOMATON_HPP

#include "matcher/classes.hpp"

namespace tessavor::matcher {

class Automaton {
public:
    // The most code points the parts may hold: state numbers, and the
    // entries of rows, are below 2^29.
    static constexpr Py_ssize_t kMaxTotal = Py_ssize_t(1) << 29;

    // Builds the automaton of `parts` (parts.total < kMaxTotal) with full
    // rows of at most `row_entries` entries in all (the root's row always);
    // `classes`, prepared for the parts, numbers their code points.
    // Returns 0, or -1 with MemoryError set. `parts` and `classes` must
    // outlive the automaton.
    int build(const PartList &parts, CharClasses &classes, Py_ssize_t row_entries);
    bool matches(PyObject *item) const;
    // Whether some part occurs in each of two one-byte strs, scanned side by
    // side: the steps of one do not wait for those of the other.
    void matches_two(const Py_UCS1 *a, Py_ssize_t a_length, const Py_UCS1 *b, Py_ssize_t b_length,
                     bool found[2]) const;

private:
    class Builder;

    // A state, in one record so that a step from a state without a row
    // reads one place. A state's children are numbered consecutively from
    // `first_child`, in ascending class. `edge` is the class of the edge
    // into the state, complemented (negative) when the state accepts: some
    // part ends there, by itself or through the failure link. A scan stops
    // at such a state, so it has no children and no row. `row` is where the
    // state's row starts in rows_, or, below 0, what classes the children
    // of a state without a row have (child_classes()).
    // `child_count` is complemented for a state with a run (see run_).
    struct State {
        int32_t first_child;
        int32_t child_count;
        int32_t fail;
        int32_t edge;
        int32_t row;
    };

    int32_t child_classes(const State &state) const;
    int32_t find_child(int32_t state, int32_t cls) const;
    template <typename Encode> int32_t step(int32_t state, int32_t cls, Encode &&encode) const;
    int32_t entry_of(int32_t state) const;
    int32_t scan_step(int32_t state, int32_t cls) const;
    template <typename Char> int32_t class_of(Char c) const;
    template <typename Char> int32_t next(int32_t entry, Char c) const;
    int32_t along(int32_t entry, const Py_UCS1 *data, Py_ssize_t &i, Py_ssize_t length) const;
    template <typename Char>
    bool scan(const Char *data, Py_ssize_t length, Py_ssize_t i, int32_t entry) const;

    CharClasses *classes_ = nullptr; // numbered while the parts are read
    int32_t width_ = 0;
    Buffer<State> states_;
    // Rows of width_ entries. Once built, an entry is where the row of the
    // state reached begins, or kSparse | the state's number when it has no
    // row, or -1 when it accepts. While building, entries are state numbers,
    // complemented for states that accept.
    Buffer<int32_t> rows_;
    // Deep in a long chain, a scan of one-byte text compares the text with
    // the chain's code points rather than stepping a state at a time. Per
    // state of a chain: how many of the states after it are passed so (0
    // where it steps as usual; entries into the others carry kRun), and the
    // one-byte code point on the edge into it.
    Buffer<int32_t> run_;
    Buffer<Py_UCS1> byte_;
};

} // namespace tessavor::matcher

#endif
