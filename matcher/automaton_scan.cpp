// Scanning items with the automaton: a step per code point through rows
// and sparse states, and along runs where one-byte text allows.
#include "matcher/automaton.hpp"

#include <algorithm>
#include <cstring>

namespace tessavor::matcher {

int32_t Automaton::scan_step(int32_t state, int32_t cls) const
{
    if (cls == 0) {
        return 0; // a code point in no part leads back to the root, whose row is first
    }
    return step(states_.get(), rows_.get(), state, cls, [this](int32_t reached, bool accepts) {
        return accepts ? kMatchEntry : entry_of(reached);
    });
}

// The entry after code point `c` from `entry`. From a state that starts a
// run it is the usual step, the run left aside.
template <typename Char> inline int32_t Automaton::next(int32_t entry, Char c) const
{
    int32_t cls = classes_.of_char(c);
    return entry::is_sparse(entry) ? scan_step(entry::state_of(entry), cls) : rows_[entry + cls];
}

// From an entry with kRun, along its state's run as far as data[i:length]
// goes with it: moves i past the code points that agree, and returns
// kMatchEntry when it reaches a state that accepts, else the sparse entry
// of the state reached, without kRun, for the usual step from it.
int32_t Automaton::along(int32_t entry, const Py_UCS1 *data, Py_ssize_t &i, Py_ssize_t length) const
{
    int32_t state = entry::state_of(entry);
    assert(run_[state] > 0 && i <= length);
    const Py_UCS1 *text = data + i, *run = byte_.get() + state + 1;
    Py_ssize_t most = std::min<Py_ssize_t>(run_[state], length - i), same = 0;
    // Eight code points at a time while they agree, then one at a time.
    for (uint64_t x, y; same + 8 <= most; same += 8) {
        memcpy(&x, text + same, 8);
        memcpy(&y, run + same, 8);
        if (x != y) {
            break;
        }
    }
    while (same < most && text[same] == run[same]) {
        ++same;
    }
#ifdef TESSAVOR_MATCHER_TALLY
    along_points_ += same;
#endif
    state += static_cast<int32_t>(same);
    i += same;
    return states_[state].accepts() ? kMatchEntry : entry::sparse(state, false);
}

// Whether some part ends in data[i:length], the scan being at `entry`.
// Only one-byte text goes along runs; wide text steps through their states.
template <typename Char>
bool Automaton::scan(const Char *data, Py_ssize_t length, Py_ssize_t i, int32_t entry) const
{
    while (!entry::is_match(entry) && i < length) {
        if constexpr (sizeof(Char) == 1) {
            if (entry::starts_run(entry)) {
                entry = along(entry, data, i, length); // which gives no run again
                continue;
            }
        }
        entry = next(entry, data[i++]);
    }
    return entry::is_match(entry);
}

void Automaton::matches_two(const Py_UCS1 *a, Py_ssize_t a_length, const Py_UCS1 *b,
                            Py_ssize_t b_length, bool found[2]) const
{
    int32_t at_a = 0, at_b = 0;
    Py_ssize_t both = std::min(a_length, b_length), i = 0;
    for (; i < both; ++i) {
        at_a = next(at_a, a[i]);
        at_b = next(at_b, b[i]);
        if ((at_a | at_b) & entry::kLeavesLockstep) {
            ++i;
            break; // a match, or a run, which each scan goes along by itself
        }
    }
    found[0] = entry::is_match(at_a) || scan(a, a_length, i, at_a);
    found[1] = entry::is_match(at_b) || scan(b, b_length, i, at_b);
}

bool Automaton::matches(PyObject *item) const
{
    return scan_str(item,
                    [this](auto *data, Py_ssize_t length) { return scan(data, length, 0, 0); });
}

} // namespace tessavor::matcher
