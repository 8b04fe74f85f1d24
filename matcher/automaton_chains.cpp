// Chains, and the rides along them (automaton_builder.hpp).
#include "matcher/automaton_builder.hpp"

#include <algorithm>

namespace tessavor::matcher {

namespace {

// How many rides ahead the build fetches the states it will link, and how
// many states of a chain at most; how many rides link_ahead() links side
// by side.
constexpr Py_ssize_t kFetchRides = 16;
constexpr int32_t kFetchStates = 48;
constexpr int kLanes = 4;

} // namespace

// Makes the `length` states of the stretch the group shares below `state`
// a chain, each the one child of the one before, and sets the group riding
// it. The parts leave order_ (their state is past top_). Returns false
// with MemoryError set when memory runs out.
bool Automaton::Builder::start_ride(int32_t state, Py_ssize_t begin, Py_ssize_t end,
                                    Py_ssize_t depth, int32_t length)
{
    assert(length >= 2 && top_ - length >= states_);
    int32_t first = order_[begin];
    top_ -= length;
    State *chain = a_.states_.get() + top_;
    for (int32_t k = 0; k < length; ++k) {
        chain[k] = State::made(top_ + k + 1, 1, class_of(first, depth + k));
    }
    State &last = chain[length - 1];
    last.child_count = 0;
    Ride ride{top_, top_, top_ + length - 1, first, top_, false};
    for (Py_ssize_t place = begin; place < end; ++place) {
        int32_t part = order_[place];
        at_[part] = ride.state;
        next_part_[part] = place + 1 < end ? order_[place + 1] : -1;
        if (length_of(part) == depth + length) {
            last.mark_accepts(); // a part ends at the chain's end
        }
    }
    set_runs(chain, length, depth + 1);
    State &parent = a_.states_[state];
    parent.first_child = top_;
    parent.child_count = 1;
    rides_[going_on_++] = ride;
    // Rows set aside far down a long chain would mostly be given up where
    // rows close.
    return reserve_rows(top_, std::min(length, plan_.chain_rows));
}

// The one-byte code points of a chain's edges, and its states' runs: a
// state at depth run_depth_ or more (the chain's first is at `depth`) with
// plan_.run_ahead one-byte edges or more after it runs to the end of them.
// A run stops at a state that accepts too: at the chain's end here, and
// earlier where end_runs() finds one. Every state of the chain gets its
// run, 0 for none.
void Automaton::Builder::set_runs(State *chain, int32_t length, Py_ssize_t depth) const
{
    Py_ssize_t first = chain - a_.states_.get();
    Py_UCS1 *bytes = a_.byte_.get() + first;
    int32_t *runs = a_.run_.get() + first;
    // From the end: `ahead` counts the one-byte edges after the k-th state.
    for (int32_t k = length - 1, ahead = 0; k >= 0; --k) {
        int32_t byte = byte_of_[chain[k].edge_class()];
        bytes[k] = static_cast<Py_UCS1>(byte & 0xFF);
        bool run = depth + k >= run_depth_ && ahead >= plan_.run_ahead;
        runs[k] = run ? ahead : 0;
        if (run) {
            chain[k].mark_run();
        }
        ahead = byte >= 0 ? ahead + 1 : 0;
    }
}

// A ride stops at a state that accepts (through its failure link): the
// runs before it in its chain end there, and the states after it are
// never reached.
void Automaton::Builder::end_runs(const Ride &ride)
{
    for (int32_t state = ride.first; state < ride.state; ++state) {
        a_.run_[state] = std::min(a_.run_[state], ride.state - state);
    }
}

// A ride's chain, made when the ride started, has long left the cache by
// the time it links: the states of a ride that will link are fetched a few
// rides ahead; once rows are closed, the states it links ahead too.
void Automaton::Builder::fetch_ahead(const Ride &ahead) const
{
    if (ahead.state != ahead.linked) {
        return;
    }
    int32_t end =
        rows_open_ ? ahead.state + 2 : std::min(ahead.last, ahead.state + kFetchStates) + 1;
    const char *from = reinterpret_cast<const char *>(a_.states_.get() + ahead.state);
    const char *to = reinterpret_cast<const char *>(a_.states_.get() + end);
    for (; from < to; from += 64) {
        TESSAVOR_PREFETCH(from);
    }
}

// Moves every ride on by one state. The rides whose next state is not
// linked yet link it first, kLanes at a time (link_ahead()). A ride that
// reaches its chain's last state ends: its parts go on as a group at the
// next depth unless that state accepts. Returns false with MemoryError set
// when memory runs out.
bool Automaton::Builder::follow_rides()
{
    const State *states = a_.states_.get();
    Ride *lanes[kLanes];
    int busy = 0;
    for (Py_ssize_t k = 0; k < going_on_; ++k) {
        if (k + kFetchRides < going_on_) {
            fetch_ahead(rides_[k + kFetchRides]);
        }
        Ride &ride = rides_[k];
        if (ride.state != ride.linked) {
            continue;
        }
        if (states[ride.state].accepts()) {
            ride.stops = true; // its first state accepts (through its failure link)
            continue;
        }
        lanes[busy++] = &ride;
        if (busy == kLanes) {
            if (!link_ahead(lanes, busy)) {
                return false;
            }
            busy = 0;
        }
    }
    if (busy > 0 && !link_ahead(lanes, busy)) {
        return false;
    }
    Py_ssize_t kept = 0;
    for (Py_ssize_t k = 0; k < going_on_; ++k) {
        Ride ride = rides_[k];
        auto stopped = [&ride] { return ride.stops && ride.state == ride.linked; };
        if (!stopped()) {
            ride.state += 1;
        }
        if (stopped()) {
            end_runs(ride);
            continue; // it accepts: the parts stop here
        }
        if (ride.state != ride.last) {
            rides_[kept++] = ride;
        } else {
            rides_[--ended_] = ride;
        }
    }
    going_on_ = kept;
    return true;
}

// Finishes each ride's state, linking the next, and, once rows are closed,
// the states after it in one go while their failure links are finished
// states: a step from those reads nothing that later depths change, and
// the chain's records are read once, in order, rather than a depth at a
// time after they have left the cache. Stops before the chain's last state
// (its children are made when the ride ends) and at a state that accepts.
// The rides' steps are interleaved: those of one chain wait each for the
// records the last one read, those of different chains do not. Returns
// false with MemoryError set when memory runs out.
bool Automaton::Builder::link_ahead(Ride *const *lanes, int count)
{
    assert(count >= 1 && count <= kLanes);
    const State *states = a_.states_.get();
    int32_t at[kLanes];
    unsigned active = 0;
    for (int i = 0; i < count; ++i) {
        at[i] = lanes[i]->state;
        active |= 1u << i;
    }
    while (active != 0) {
        for (int i = 0; i < count; ++i) {
            if ((active >> i & 1) == 0) {
                continue;
            }
            Ride &ride = *lanes[i];
            if (!finish_state(at[i])) {
                return false;
            }
            int32_t state = ++at[i];
            bool stops = states[state].accepts();
            int32_t fail = states[state].fail;
            if (stops || state == ride.last || rows_open_ || fail >= finished_) {
                ride.stops = stops;
                ride.linked = state;
                active &= ~(1u << i);
            } else {
                TESSAVOR_PREFETCH(states + fail); // the next link steps from it
            }
        }
    }
    return true;
}

} // namespace tessavor::matcher
