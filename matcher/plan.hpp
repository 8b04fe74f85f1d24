// The matcher's plan: every choice it makes about how to match a list of
// parts, made in one place (plan.cpp) from the parts and the expected
// amount of text, and kept for the matcher's life so that it can be read
// back. A caller may force any of the choices (Choice); whatever is not
// forced is chosen as usual. None of the choices changes an answer, only
// speed and memory: that is what makes forcing them a test.
#ifndef TESSAVOR_MATCHER_PLAN_HPP
#define TESSAVOR_MATCHER_PLAN_HPP

#include "matcher/parts.hpp"

namespace tessavor::matcher {

// How the parts are matched.
enum class Way {
    kNone,       // not matched here: the parts are too many code points for any way
    kAlways,     // some part is empty, and an empty part is in every str
    kWindowHash, // window hashing (window_hash.hpp): parts of at most 8 one-byte code points
    kAutomaton,  // Aho-Corasick (automaton.hpp): any parts
};

// Which depths of the automaton's trie get full rows (dense transitions).
// The root always has one, and no depth gets one once the budget is spent.
enum class Rows {
    kByBranching, // while the trie branches, or the rows are few or narrow
    kEveryDepth,  // every depth, as far as the budget goes
    kRootOnly,    // the root alone: every other state is sparse
};

// Where a scan of one-byte text goes along a chain by comparing code
// points rather than stepping a state at a time (a "run").
enum class Runs {
    kByOdds,    // deep enough that text seldom gets there by chance
    kFromStart, // from the first state of a chain on, at any depth
    kNone,      // never
};

// What a caller forces; the rest is chosen.
struct Choice {
    bool force_way = false;
    Way way = Way::kAutomaton; // read only when force_way
    Rows rows = Rows::kByBranching;
    Runs runs = Runs::kByOdds;
};

struct Plan {
    Way way = Way::kNone;
    // The automaton's, read only when it is the way.
    Rows rows = Rows::kByBranching;
    Runs runs = Runs::kByOdds;
    Py_ssize_t row_budget = 0; // entries of full rows at most, all rows together
    // A chain sets rows aside for this many of its first states at most:
    // past them a scan mostly goes along the chain's run.
    int32_t chain_rows = 0;
    // A chain state starts a run only with this many one-byte edges or
    // more after it: a scan that leaves the chain at once seldom pays for
    // the comparison's start.
    int32_t run_ahead = 0;

    // Whether the states at a depth get rows, given what the build knows
    // when it reaches it: `depth`, the row entries in use once those
    // states have theirs, the parts still going on (`live`), the states at
    // the depth, the row width, and whether the depth above had rows.
    bool rows_at(Py_ssize_t depth, Py_ssize_t entries, Py_ssize_t live, Py_ssize_t states,
                 int32_t width, bool above) const;
    // The least depth at which a chain state may start a run, for `parts`
    // parts over `points` distinct code points; kNoRun for none.
    Py_ssize_t run_depth(Py_ssize_t parts, int32_t points) const;

    static constexpr Py_ssize_t kNoRun = PY_SSIZE_T_MAX;
};

// The plan for `parts` (non-empty, none of them empty) and about
// `text_length` code points of items, with what `choice` forces. A forced
// way that cannot serve the parts gives Way::kNone.
Plan make_plan(const PartList &parts, Py_ssize_t text_length, const Choice &choice);

// The cost model make_plan() weighs the ways by, in rough nanoseconds per
// unit of work; bench/plan_costs.py measures them again.
struct Costs {
    double window_part;    // one part into window hashing's sets
    double window_step;    // one window of an item, per distinct part length
    double trie_point;     // one code point of a part into the automaton
    double row_entry;      // filling one entry of a full row
    double automaton_step; // one code point of an item through the automaton
};
extern const Costs kCosts;

} // namespace tessavor::matcher

#endif
