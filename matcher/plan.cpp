#include "matcher/plan.hpp"

#include <assert.h>

#include "matcher/automaton_layout.hpp"
#include "matcher/window_hash.hpp"

namespace tessavor::matcher {

// Measured with Filter on random parts and items: building is paid once,
// scanning per code point of the items.
const Costs kCosts = {
    25.0, // window_part
    2.0,  // window_step
    15.0, // trie_point
    0.3,  // row_entry
    3.0,  // automaton_step
};

namespace {

// Full rows take at most 12 bytes per code point of the parts plus 8 MiB:
// they serve the build (failure links found in one step) as well as the
// scan.
constexpr Py_ssize_t kRowEntriesFixed = Py_ssize_t(1) << 21;
constexpr Py_ssize_t kRowEntriesPerPoint = 3;

// A depth gets full rows while its states carry at least this many parts
// each on average: below that the trie has stopped branching, and rows
// would cost memory a scan seldom reads. Rows are cheap enough for every
// depth, though, while they are few (they stay in the cache) or narrow (no
// wider than a state's record).
constexpr Py_ssize_t kRowBranching = 3;
constexpr Py_ssize_t kFewRowEntries = Py_ssize_t(1) << 17;
constexpr int32_t kNarrowRow = 5;

// Runs start at depth kRunDepth or more, and more where the parts' code
// points are few, until the parts times kRunOdds are fewer than the
// strings of that many of their code points: a scan that leaves the chain
// at once seldom pays for the comparison's start. Parts of one code point
// have no runs: one code point repeats, in text as in parts.
constexpr Py_ssize_t kRunDepth = 6;
constexpr double kRunOdds = 4096.0;
constexpr int32_t kRunAhead = 8;
constexpr int32_t kChainRows = 32;

Py_ssize_t row_budget(const PartList &parts)
{
    return kRowEntriesFixed + kRowEntriesPerPoint * parts.total;
}

// The cheaper of the two ways for parts that both serve.
Way cheaper(const PartList &parts, Py_ssize_t text_length)
{
    double text = static_cast<double>(text_length);
    double windows = kCosts.window_part * static_cast<double>(parts.count) +
                     kCosts.window_step * static_cast<double>(parts.length_count) * text;
    double automaton = kCosts.trie_point * static_cast<double>(parts.total) +
                       kCosts.row_entry * static_cast<double>(row_budget(parts)) +
                       kCosts.automaton_step * text;
    return automaton < windows ? Way::kAutomaton : Way::kWindowHash;
}

Way choose_way(const PartList &parts, Py_ssize_t text_length, const Choice &choice)
{
    // The automaton numbers its states in 29 bits.
    bool automaton = parts.total < kMaxTotal;
    bool windows = WindowHash::serves(parts);
    if (choice.force_way) {
        bool serves = choice.way == Way::kAutomaton ? automaton : windows;
        return serves ? choice.way : Way::kNone;
    }
    if (windows && automaton) {
        return cheaper(parts, text_length);
    }
    return windows ? Way::kWindowHash : automaton ? Way::kAutomaton : Way::kNone;
}

} // namespace

Plan make_plan(const PartList &parts, Py_ssize_t text_length, const Choice &choice)
{
    assert(parts.count > 0 && parts.total >= parts.count);
    assert(!choice.force_way || choice.way == Way::kWindowHash || choice.way == Way::kAutomaton);
    Plan plan;
    plan.way = choose_way(parts, text_length, choice);
    plan.rows = choice.rows;
    plan.runs = choice.runs;
    plan.row_budget = row_budget(parts);
    plan.chain_rows = kChainRows;
    plan.run_ahead = kRunAhead;
    return plan;
}

bool Plan::rows_at(Py_ssize_t depth, Py_ssize_t entries, Py_ssize_t live, Py_ssize_t states,
                   int32_t width, bool above) const
{
    if (depth == 0) {
        return true; // the root: a scan starts from its row
    }
    if (!above || entries > row_budget) {
        return false;
    }
    switch (rows) {
    case Rows::kEveryDepth:
        return true;
    case Rows::kRootOnly:
        return false;
    case Rows::kByBranching:
        break;
    }
    return live >= kRowBranching * states || entries <= kFewRowEntries || width <= kNarrowRow;
}

Py_ssize_t Plan::run_depth(Py_ssize_t parts, int32_t points) const
{
    switch (runs) {
    case Runs::kNone:
        return kNoRun;
    case Runs::kFromStart:
        return 0;
    case Runs::kByOdds:
        break;
    }
    if (points < 2) {
        return kNoRun;
    }
    double strings = 1.0;
    Py_ssize_t depth = 0;
    for (; strings <= static_cast<double>(parts) * kRunOdds; ++depth) {
        strings *= points;
    }
    return depth > kRunDepth ? depth : kRunDepth;
}

} // namespace tessavor::matcher
