// Builds the trie a depth at a time. At each depth the parts still going on
// are listed in order_, grouped by the state they have reached. A group's
// distinct next classes, sorted, become its state's children, numbered
// together, so a state's children are consecutive; each state's failure
// link and row are made when its depth is, from shallower states, complete
// by then. Parts stop at a state that accepts: a scan never goes past it.
// (automaton_builder.cpp)
//
// Where all the parts of a group go on alike for more than one code point
// (a single part always does, to its end), the states of that stretch are
// made at once, as a chain numbered consecutively down from the top of the
// numbers, and the group rides it: a depth then costs the group one step,
// not one per part, and a scan along the chain reads its records in order.
// At the chain's end the parts go on as a group again, unless it accepts.
// Other states are numbered up from the root, a depth after another.
// (automaton_chains.cpp)
#ifndef TESSAVOR_MATCHER_AUTOMATON_BUILDER_HPP
#define TESSAVOR_MATCHER_AUTOMATON_BUILDER_HPP

#include "matcher/automaton.hpp"

namespace tessavor::matcher {

class Automaton::Builder {
public:
    Builder(Automaton &automaton, const PartList &parts, const Plan &plan);
    bool run();

private:
    // A group riding a chain: the state it has reached, the chain's first
    // and last states, its parts, linked through next_part_, and the last
    // state whose failure link is made (`stops` when that state accepts:
    // the parts stop there).
    struct Ride {
        int32_t state;
        int32_t first;
        int32_t last;
        int32_t first_part;
        int32_t linked;
        bool stops;
    };

    // automaton_builder.cpp: the trie, a depth at a time.
    bool allocate_for_parts();
    bool allocate_for_classes();
    void list_bytes();
    void list_parts();
    void open_depth(Py_ssize_t depth, Py_ssize_t at_depth);
    bool group(Py_ssize_t begin, Py_ssize_t end, Py_ssize_t depth);
    int32_t shared_stretch(Py_ssize_t begin, Py_ssize_t end, Py_ssize_t depth);
    void make_children(int32_t state, Py_ssize_t begin, Py_ssize_t end, Py_ssize_t depth);
    bool finish_state(int32_t state);
    bool make_room(Py_ssize_t entries);
    bool reserve_rows(int32_t first, int32_t count);
    void link_children(int32_t state);
    bool fill_row(int32_t state);
    void regroup(int32_t first_new);
    void finish_rows();

    // automaton_chains.cpp: chains, and the rides along them.
    bool start_ride(int32_t state, Py_ssize_t begin, Py_ssize_t end, Py_ssize_t depth,
                    int32_t length);
    void set_runs(State *chain, int32_t length, Py_ssize_t depth) const;
    void end_runs(const Ride &ride);
    void fetch_ahead(const Ride &ahead) const;
    bool follow_rides();
    bool link_ahead(Ride *const *lanes, int count);

    int32_t width() const { return a_.classes_.width(); } // entries a row
    int32_t length_of(int32_t part) const { return start_[part + 1] - start_[part]; }
    int32_t class_of(int32_t part, Py_ssize_t depth) const { return text_[start_[part] + depth]; }

    Automaton &a_;
    const PartList &parts_;
    Plan plan_; // its row budget within what entries can address
    Py_ssize_t rows_used_ = 0, row_capacity_ = 0;
    Buffer<int32_t> order_, next_order_; // part indices, grouped by state
    Buffer<int32_t> at_;                 // per part: the state it has reached
    Buffer<int32_t> next_part_;          // per riding part: the next of its ride
    Buffer<int32_t> text_;               // the parts' classes, one part after another
    Buffer<int32_t> start_;              // per part: where its classes begin in text_
    Buffer<int32_t> class_at_;           // per place in order_: the part's next class
    Buffer<int32_t> seen_by_;            // per class: 1 + the last state that saw it
    Buffer<int32_t> child_on_;           // per class: that state's child on it
    Buffer<int32_t> distinct_;           // one group's distinct classes
    Buffer<int32_t> counts_;             // per new state, for regroup()
    Buffer<int32_t> byte_of_;            // per class: its one-byte code point, or -1
    // Rides going on from the front; from ended_ to the back, rides that
    // ended this depth, whose parts go on as groups at the next.
    Buffer<Ride> rides_;
    // A ride has parts of two code points or more, each in one ride at most.
    const Py_ssize_t ride_capacity_;
    Py_ssize_t going_on_ = 0, ended_;
    Py_ssize_t live_;      // parts in order_: all of them at the root
    int32_t states_ = 1;   // the next number up
    int32_t top_;          // the last number given to a chain: none yet, past the last state
    int32_t finished_ = 0; // states numbered up below it are finished: shallower than the depth
    bool rows_open_ = true;
    Py_ssize_t run_depth_ = Plan::kNoRun;
};

} // namespace tessavor::matcher

#endif
