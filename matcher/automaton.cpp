#include "matcher/automaton.hpp"

#include <algorithm>
#include <cstring>

namespace tessavor::matcher {

namespace {

// Marks a row entry whose state has no row: the rest is its number, with
// kRun where the state has a run.
constexpr int32_t kSparse = int32_t(1) << 30;
constexpr int32_t kRun = int32_t(1) << 29;
// Up to this many children are searched one by one, more by halving.
constexpr int32_t kLinearChildren = 8;
// A depth gets full rows while its states carry at least this many parts
// each on average: below that the trie has stopped branching, and rows
// would cost memory a scan seldom reads. Rows are cheap enough for every
// depth, though, while they are few (they stay in the cache) or narrow (no
// wider than a state's record).
constexpr Py_ssize_t kRowBranching = 3;
constexpr Py_ssize_t kFewRowEntries = Py_ssize_t(1) << 17;
constexpr int32_t kNarrowRow = 5;
// A scan compares the text with a chain from a state with kRunAhead chain
// states or more after it, deep enough that text seldom gets there by
// chance: a scan that leaves the chain at once seldom pays for the
// comparison's start. That is depth kRunDepth or more, and more where the
// parts' code points are few, until the parts times kRunOdds are fewer
// than the strings of that many of their code points. Parts of one code
// point have no runs.
constexpr Py_ssize_t kRunDepth = 6;
constexpr int32_t kRunAhead = 8;
constexpr double kRunOdds = 4096.0;
// A chain sets rows aside for this many of its first states at most: past
// them a scan mostly goes along the chain's run.
constexpr int32_t kChainRows = 32;
// How many rides (or parts) ahead the build fetches what it reads of them,
// and how many states of a chain at most; how many rides link_ahead()
// links side by side.
constexpr Py_ssize_t kFetchAhead = 16;
constexpr int32_t kFetchStates = 48;
constexpr int kLanes = 4;

// What a state without a row keeps in its row's place (child_classes()):
// a class, complemented, down to kOneChild, or kManyChildren and a bit per
// class modulo kClassBits, below it. Classes are below 2^30 - 1.
constexpr int32_t kOneChild = -(int32_t(1) << 30);
constexpr uint32_t kManyChildren = uint32_t(1) << 31;
constexpr int32_t kClassBits = 30;

// The state number of an entry that carries kSparse.
inline int32_t state_of(int32_t entry)
{
    return entry & ~(kSparse | kRun);
}

// A state number, or a class, from its possibly complemented form.
inline int32_t plain(int32_t value)
{
    return value < 0 ? ~value : value;
}

} // namespace

// Builds the trie a depth at a time. At each depth the parts still going on
// are listed in order_, grouped by the state they have reached. A group's
// distinct next classes, sorted, become its state's children, numbered
// together, so a state's children are consecutive; each state's failure
// link and row are made when its depth is, from shallower states, complete
// by then. Parts stop at a state that accepts: a scan never goes past it.
//
// Where all the parts of a group go on alike for more than one code point
// (a single part always does, to its end), the states of that stretch are
// made at once, as a chain numbered consecutively down from the top of the
// numbers, and the group rides it: a depth then costs the group one step,
// not one per part, and a scan along the chain reads its records in order.
// At the chain's end the parts go on as a group again, unless it accepts.
// Other states are numbered up from the root, a depth after another.
class Automaton::Builder {
public:
    Builder(Automaton &automaton, const PartList &parts, Py_ssize_t row_entries)
        : a_(automaton), parts_(parts), row_entries_(row_entries)
    {
    }
    int run();

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

    int allocate_for_parts();
    int allocate_for_classes();
    void list_bytes();
    void set_run_depth();
    void read_parts();
    void open_depth(Py_ssize_t depth, Py_ssize_t at_depth);
    int group(Py_ssize_t begin, Py_ssize_t end, Py_ssize_t depth);
    int32_t shared_stretch(Py_ssize_t begin, Py_ssize_t end, Py_ssize_t depth);
    void make_children(int32_t state, Py_ssize_t begin, Py_ssize_t end, Py_ssize_t depth);
    int start_ride(int32_t state, Py_ssize_t begin, Py_ssize_t end, Py_ssize_t depth,
                   int32_t length);
    int finish_state(int32_t state);
    int make_room(Py_ssize_t entries);
    int reserve_rows(int32_t first, int32_t count);
    void link_children(int32_t state);
    int fill_row(int32_t state);
    int follow_rides();
    int link_ahead(Ride *const *lanes, int count);
    void regroup(int32_t first_new);
    void set_runs(State *chain, int32_t length, Py_ssize_t depth) const;
    void end_runs(const Ride &ride);
    void finish_rows();

    int32_t length_of(int32_t part) const { return start_[part + 1] - start_[part]; }
    int32_t class_of(int32_t part, Py_ssize_t depth) const { return text_[start_[part] + depth]; }

    Automaton &a_;
    const PartList &parts_;
    Py_ssize_t row_entries_;
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
    Py_ssize_t ride_capacity_ = 0;
    Py_ssize_t going_on_ = 0, ended_ = 0;
    Py_ssize_t live_ = 0;  // parts in order_
    int32_t states_ = 1;   // the next number up
    int32_t top_ = 0;      // the last number given to a chain
    int32_t finished_ = 0; // states numbered up below it are finished: shallower than the depth
    bool rows_open_ = true;
    Py_ssize_t run_depth_ = kRunDepth;
};

// What is written before it is read is not zeroed (resize() of an empty
// buffer): only at_ (every part starts at the root) and seen_by_ are.
int Automaton::Builder::allocate_for_parts()
{
    Py_ssize_t count = parts_.count;
    // A ride has parts of two code points or more, each in one ride at most.
    ride_capacity_ = std::min(count, parts_.total / 2);
    ended_ = ride_capacity_;
    return order_.resize(count) && next_order_.resize(count) && at_.allocate(count) &&
                   next_part_.resize(count) && text_.resize(parts_.total + 1) &&
                   start_.resize(count + 1) && class_at_.resize(count) &&
                   counts_.resize(count + 1) && rides_.resize(ride_capacity_) &&
                   a_.states_.resize(parts_.total + 1) && a_.run_.resize(parts_.total + 1) &&
                   a_.byte_.resize(parts_.total + 1)
               ? 0
               : -1;
}

int Automaton::Builder::allocate_for_classes()
{
    Py_ssize_t width = a_.width_;
    return seen_by_.allocate(width) && child_on_.resize(width) && distinct_.resize(width) &&
                   byte_of_.resize(width)
               ? 0
               : -1;
}

void Automaton::Builder::list_bytes()
{
    std::fill(byte_of_.get(), byte_of_.get() + a_.width_, -1);
    const int32_t *low = a_.classes_->low();
    for (int32_t c = 0; c < 256; ++c) {
        if (low[c] > 0) {
            byte_of_[low[c]] = c;
        }
    }
}

void Automaton::Builder::set_run_depth()
{
    int32_t points = a_.width_ - 1;
    if (points < 2) {
        run_depth_ = kMaxTotal; // none: one code point repeats, in text as in parts
        return;
    }
    double strings = 1.0;
    Py_ssize_t depth = 0;
    for (; strings <= static_cast<double>(parts_.count) * kRunOdds; ++depth) {
        strings *= points;
    }
    run_depth_ = std::max(depth, kRunDepth);
}

// The parts as classes, in one array: each depth reads one class of every
// part still going on, which the parts' own objects, spread over the heap,
// would serve one cache miss each. The classes are numbered on the way.
void Automaton::Builder::read_parts()
{
    CharClasses &classes = *a_.classes_;
    int32_t low[256] = {}; // the classes of one-byte code points met so far: one load, not two
    auto classify = [&classes, &low](Py_UCS4 c) {
        if (c >= 256) {
            return classes.classify(c);
        }
        if (low[c] == 0) {
            low[c] = classes.classify(c);
        }
        return low[c];
    };
    for (Py_ssize_t i = 0, at = 0; i < parts_.count; ++i) {
        order_[i] = static_cast<int32_t>(i);
        start_[i] = static_cast<int32_t>(at);
        scan_str(parts_.items[i], [this, &classify, &at](auto *data, Py_ssize_t length) {
            int32_t *out = text_.get() + at;
            for (Py_ssize_t j = 0; j < length; ++j) {
                out[j] = classify(data[j]);
            }
            at += length;
            return false;
        });
        start_[i + 1] = static_cast<int32_t>(at);
    }
}

int Automaton::Builder::run()
{
    if (allocate_for_parts() < 0) {
        return -1;
    }
    read_parts();
    a_.width_ = a_.classes_->width();
    // Row offsets stay below kRun.
    row_entries_ = std::min(row_entries_, kRun - Py_ssize_t(a_.width_));
    if (allocate_for_classes() < 0) {
        return -1;
    }
    list_bytes();
    set_run_depth();
    a_.states_[0] = State{0, 0, 0, 0, -1};
    // The root's row comes first: a scan starts at offset 0. Where not even
    // one row fits the bound, nothing is set aside, and fill_row() gives the
    // root offset 0 all the same.
    if (reserve_rows(0, 1) < 0) {
        return -1;
    }
    live_ = parts_.count;
    top_ = static_cast<int32_t>(parts_.total + 1);
    int32_t first_at_depth = 0;
    for (Py_ssize_t depth = 0; live_ > 0 || going_on_ > 0; ++depth) {
        open_depth(depth, states_ - first_at_depth + going_on_);
        finished_ = first_at_depth;
        first_at_depth = states_;
        if (follow_rides() < 0) {
            return -1;
        }
        Py_ssize_t begin = 0, fetched = 0;
        while (begin < live_) {
            int32_t state = at_[order_[begin]];
            Py_ssize_t end = begin + 1;
            while (end < live_ && at_[order_[end]] == state) {
                ++end;
            }
            // group() reads each part's class at this depth, spread over
            // text_: fetched a few parts ahead, each once.
            for (; fetched < std::min(end + kFetchAhead, live_); ++fetched) {
                TESSAVOR_PREFETCH(text_.get() + start_[order_[fetched]] + depth);
            }
            if (group(begin, end, depth) < 0) {
                return -1;
            }
            begin = end;
        }
        regroup(first_at_depth);
    }
    finish_rows();
    return 0;
}

// Whether the `at_depth` states at `depth` get rows: only while every depth
// above had them and the rows fit in row_entries_, and only where the trie
// still branches or the rows are few or narrow. The root always has one.
void Automaton::Builder::open_depth(Py_ssize_t depth, Py_ssize_t at_depth)
{
    Py_ssize_t entries = rows_used_ + at_depth * a_.width_;
    bool worth =
        live_ >= kRowBranching * at_depth || entries <= kFewRowEntries || a_.width_ <= kNarrowRow;
    rows_open_ = depth == 0 || (rows_open_ && entries <= row_entries_ && worth);
}

// Moves the parts of the group at [begin, end) of order_ on from their
// state, and makes its links and row. Returns 0, or -1 with MemoryError set.
int Automaton::Builder::group(Py_ssize_t begin, Py_ssize_t end, Py_ssize_t depth)
{
    int32_t state = at_[order_[begin]];
    int32_t stretch = shared_stretch(begin, end, depth);
    if (stretch > 1) {
        if (start_ride(state, begin, end, depth, stretch) < 0) {
            return -1;
        }
    } else {
        make_children(state, begin, end, depth);
    }
    return finish_state(state);
}

// How many code points from `depth` on all the parts of the group share,
// up to the first end of one of them (counted in: the chain stops at the
// state where it ends, which accepts); 0 when they part ways at once. Also
// fills class_at_ with each part's class at `depth`. Past the first column
// every part is compared with the first a block at a time, each block
// twice as wide as the one before, so that what is read past the stretch
// is at most the stretch again: long stretches are read part by part,
// where the memory runs in order, and short ones barely past their end.
int32_t Automaton::Builder::shared_stretch(Py_ssize_t begin, Py_ssize_t end, Py_ssize_t depth)
{
    int32_t first = order_[begin];
    int32_t shortest = length_of(first);
    bool alike = true;
    for (Py_ssize_t place = begin; place < end; ++place) {
        int32_t part = order_[place];
        class_at_[place] = class_of(part, depth);
        shortest = std::min(shortest, length_of(part));
        alike = alike && class_at_[place] == class_at_[begin];
    }
    if (!alike) {
        return 0;
    }
    int32_t most = shortest - static_cast<int32_t>(depth);
    const int32_t *lead = text_.get() + start_[first] + depth;
    int32_t stretch = 1;
    for (int32_t width = 1; stretch < most; width *= 2) {
        int32_t block = std::min(width, most - stretch);
        for (Py_ssize_t place = begin + 1; place < end && block > 0; ++place) {
            const int32_t *other = text_.get() + start_[order_[place]] + depth + stretch;
            if (memcmp(other, lead + stretch, sizeof(int32_t) * block) == 0) {
                continue;
            }
            int32_t same = 0;
            while (other[same] == lead[stretch + same]) {
                ++same;
            }
            block = same; // the parts after this one are compared up to here
        }
        stretch += block;
        if (block < width) {
            break; // some part parted ways within the block
        }
    }
    return std::min(stretch, most); // up to the end of the shortest part
}

// Numbers the children of `state` for the distinct classes of a group, and
// moves its parts to them.
void Automaton::Builder::make_children(int32_t state, Py_ssize_t begin, Py_ssize_t end,
                                       Py_ssize_t depth)
{
    int32_t distinct = 0;
    for (Py_ssize_t place = begin; place < end; ++place) {
        int32_t cls = class_at_[place];
        if (seen_by_[cls] != state + 1) {
            seen_by_[cls] = state + 1;
            distinct_[distinct++] = cls;
        }
    }
    std::sort(distinct_.get(), distinct_.get() + distinct);
    State &parent = a_.states_[state];
    parent.first_child = states_;
    parent.child_count = distinct;
    for (int32_t k = 0; k < distinct; ++k) {
        child_on_[distinct_[k]] = states_;
        a_.states_[states_++] = State{0, 0, 0, distinct_[k], -1};
    }
    for (Py_ssize_t place = begin; place < end; ++place) {
        int32_t part = order_[place];
        int32_t child = child_on_[class_at_[place]];
        at_[part] = child;
        State &reached = a_.states_[child];
        if (length_of(part) == depth + 1 && reached.edge > 0) {
            reached.edge = ~reached.edge; // the part ends here
        }
    }
}

// Makes the `length` states of the stretch the group shares below `state`
// a chain, each the one child of the one before, and sets the group riding
// it. The parts leave order_ (their state is past top_). Returns 0, or -1
// with MemoryError set.
int Automaton::Builder::start_ride(int32_t state, Py_ssize_t begin, Py_ssize_t end,
                                   Py_ssize_t depth, int32_t length)
{
    int32_t first = order_[begin];
    top_ -= length;
    State *chain = a_.states_.get() + top_;
    for (int32_t k = 0; k < length; ++k) {
        chain[k] = State{top_ + k + 1, 1, 0, class_of(first, depth + k), -1};
    }
    State &last = chain[length - 1];
    last.child_count = 0;
    Ride ride{top_, top_, top_ + length - 1, first, top_, false};
    for (Py_ssize_t place = begin; place < end; ++place) {
        int32_t part = order_[place];
        at_[part] = ride.state;
        next_part_[part] = place + 1 < end ? order_[place + 1] : -1;
        if (length_of(part) == depth + length && last.edge > 0) {
            last.edge = ~last.edge; // a part ends at the chain's end
        }
    }
    set_runs(chain, length, depth + 1);
    State &parent = a_.states_[state];
    parent.first_child = top_;
    parent.child_count = 1;
    rides_[going_on_++] = ride;
    // Rows set aside far down a long chain would mostly be given up where
    // rows close.
    return reserve_rows(top_, std::min(length, kChainRows));
}

// The one-byte code points of a chain's edges, and its states' runs: a
// state at depth run_depth_ or more (the chain's first is at `depth`) with
// kRunAhead one-byte edges or more after it runs to the end of them. A run
// stops at a state that accepts too: at the chain's end here, and earlier
// where end_runs() finds one.
void Automaton::Builder::set_runs(State *chain, int32_t length, Py_ssize_t depth) const
{
    if (length <= kRunAhead) {
        return; // too short for any
    }
    Py_ssize_t first = chain - a_.states_.get();
    Py_UCS1 *bytes = a_.byte_.get() + first;
    int32_t *runs = a_.run_.get() + first;
    // From the end: `ahead` counts the one-byte edges after the k-th state.
    for (int32_t k = length - 1, ahead = 0; k >= 0; --k) {
        int32_t byte = byte_of_[plain(chain[k].edge)];
        bytes[k] = static_cast<Py_UCS1>(byte & 0xFF);
        bool run = depth + k >= run_depth_ && ahead >= kRunAhead;
        runs[k] = run ? ahead : 0;
        if (run) {
            chain[k].child_count = ~1; // one child all the same
        }
        ahead = byte >= 0 ? ahead + 1 : 0;
    }
}

// A ride stops at a state that accepts (through its failure link): the
// runs before it in its chain end there, and the states after it are
// never reached.
void Automaton::Builder::end_runs(const Ride &ride)
{
    if (ride.last - ride.first < kRunAhead || ride.state == ride.last) {
        return; // no runs, or they end at the last state already
    }
    for (int32_t state = ride.first; state < ride.state; ++state) {
        a_.run_[state] = std::min(a_.run_[state], ride.state - state);
    }
}

// Sets rows aside for the `count` states of a chain from `first`, one after
// another, so that a scan along the chain reads them in order. They are
// filled at their depths, or given up if rows close before; the chain's
// states after them get rows at their depths while rows are open. Returns
// 0, or -1 with MemoryError set.
int Automaton::Builder::reserve_rows(int32_t first, int32_t count)
{
    Py_ssize_t entries = static_cast<Py_ssize_t>(count) * a_.width_;
    if (!rows_open_ || rows_used_ + entries > row_entries_) {
        return 0;
    }
    if (make_room(entries) < 0) {
        return -1;
    }
    // Zeroed, for finish_rows() to read whether they are filled or not.
    memset(a_.rows_.get() + rows_used_, 0, sizeof(int32_t) * entries);
    for (int32_t k = 0; k < count; ++k) {
        a_.states_[first + k].row = static_cast<int32_t>(rows_used_);
        rows_used_ += a_.width_;
    }
    return 0;
}

// Grows rows_ to hold `entries` more. Returns 0, or -1 with MemoryError set.
int Automaton::Builder::make_room(Py_ssize_t entries)
{
    if (rows_used_ + entries <= row_capacity_) {
        return 0;
    }
    Py_ssize_t grown = std::max(rows_used_ + entries, std::min(row_capacity_ * 2, row_entries_));
    if (!a_.rows_.resize(grown)) {
        return -1;
    }
    row_capacity_ = grown;
    return 0;
}

// Links a state's children and fills its row. Returns 0, or -1 with
// MemoryError set.
int Automaton::Builder::finish_state(int32_t state)
{
    link_children(state);
    return fill_row(state);
}

// A child's failure link: the longest proper suffix of its string that is
// a state, found by stepping from its parent's link on the child's class.
// The child accepts when that state does.
void Automaton::Builder::link_children(int32_t state)
{
    if (state == 0) {
        return; // children of the root link to the root, as zeroed
    }
    const State &parent = a_.states_[state];
    for (int32_t child = parent.first_child; child < parent.first_child + plain(parent.child_count);
         ++child) {
        State &made = a_.states_[child];
        int32_t entry = a_.step(parent.fail, plain(made.edge), [](int32_t reached, bool accepts) {
            return accepts ? ~reached : reached;
        });
        made.fail = plain(entry);
        if (entry < 0 && made.edge > 0) {
            made.edge = ~made.edge;
        }
    }
}

// A full row, while rows are open: the failure link's row (made before, as
// the link is shallower), with the state's own children over it. Returns
// 0, or -1 with MemoryError set.
int Automaton::Builder::fill_row(int32_t state)
{
    State &filled = a_.states_[state];
    if (!rows_open_) {
        // No row (one set aside for it is given up): what its children's
        // classes are instead, so that finding a child mostly reads no
        // other record.
        filled.row = a_.child_classes(filled);
        return 0;
    }
    Py_ssize_t width = a_.width_;
    if (filled.row < 0) {
        if (make_room(width) < 0) {
            return -1;
        }
        filled.row = static_cast<int32_t>(rows_used_);
        rows_used_ += width;
    }
    int32_t *row = a_.rows_.get() + filled.row;
    if (state == 0) {
        memset(row, 0, sizeof(int32_t) * width);
    } else {
        // memmove, not memcpy: the manylinux wheel may use no glibc symbol
        // newer than 2.5, and memcpy's is 2.14 (the rows do not overlap).
        memmove(row, a_.rows_.get() + a_.states_[filled.fail].row, sizeof(int32_t) * width);
    }
    for (int32_t child = filled.first_child; child < filled.first_child + plain(filled.child_count);
         ++child) {
        int32_t edge = a_.states_[child].edge;
        row[plain(edge)] = edge < 0 ? ~child : child;
    }
    return 0;
}

// Moves every ride on by one state. The rides whose next state is not
// linked yet link it first, kLanes at a time (link_ahead()). A ride that
// reaches its chain's last state ends: its parts go on as a group at the
// next depth unless that state accepts. Returns 0, or -1 with MemoryError
// set.
int Automaton::Builder::follow_rides()
{
    const State *states = a_.states_.get();
    Ride *lanes[kLanes];
    int busy = 0;
    for (Py_ssize_t k = 0; k < going_on_; ++k) {
        // A ride's chain, made when the ride started, has long left the
        // cache by now: the states of a ride that links are fetched a few
        // rides ahead.
        if (k + kFetchAhead < going_on_) {
            const Ride &ahead = rides_[k + kFetchAhead];
            if (ahead.state == ahead.linked) {
                // Once rows are closed, the states it links ahead too.
                int32_t end = rows_open_ ? ahead.state + 2
                                         : std::min(ahead.last, ahead.state + kFetchStates) + 1;
                const char *from = reinterpret_cast<const char *>(states + ahead.state);
                const char *to = reinterpret_cast<const char *>(states + end);
                for (; from < to; from += 64) {
                    TESSAVOR_PREFETCH(from);
                }
            }
        }
        Ride &ride = rides_[k];
        if (ride.state != ride.linked) {
            continue;
        }
        if (states[ride.state].edge < 0) {
            ride.stops = true; // its first state accepts (through its failure link)
            continue;
        }
        lanes[busy++] = &ride;
        if (busy == kLanes) {
            if (link_ahead(lanes, busy) < 0) {
                return -1;
            }
            busy = 0;
        }
    }
    if (busy > 0 && link_ahead(lanes, busy) < 0) {
        return -1;
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
    return 0;
}

// Finishes each ride's state, linking the next, and, once rows are closed,
// the states after it in one go while their failure links are finished
// states: a step from those reads nothing that later depths change, and
// the chain's records are read once, in order, rather than a depth at a
// time after they have left the cache. Stops before the chain's last state
// (its children are made when the ride ends) and at a state that accepts.
// The rides' steps are interleaved: those of one chain wait each for the
// records the last one read, those of different chains do not. Returns 0,
// or -1 with MemoryError set.
int Automaton::Builder::link_ahead(Ride *const *lanes, int count)
{
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
            if (finish_state(at[i]) < 0) {
                return -1;
            }
            int32_t state = ++at[i];
            bool stops = states[state].edge < 0;
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
    return 0;
}

// Lists the parts that go on (their state does not accept) for the next
// depth: those of order_ grouped by their new state (the states made at
// this depth, first_new on), then those of the rides that ended, a group
// each. Parts that started riding stay out.
void Automaton::Builder::regroup(int32_t first_new)
{
    Py_ssize_t made = states_ - first_new;
    memset(counts_.get(), 0, sizeof(int32_t) * (made + 1));
    for (Py_ssize_t place = 0; place < live_; ++place) {
        int32_t state = at_[order_[place]];
        if (state < top_ && a_.states_[state].edge >= 0) {
            ++counts_[state - first_new + 1];
        }
    }
    for (Py_ssize_t k = 1; k <= made; ++k) {
        counts_[k] += counts_[k - 1];
    }
    Py_ssize_t kept = counts_[made];
    for (Py_ssize_t place = 0; place < live_; ++place) {
        int32_t part = order_[place];
        int32_t state = at_[part];
        if (state < top_ && a_.states_[state].edge >= 0) {
            next_order_[counts_[state - first_new]++] = part;
        }
    }
    for (; ended_ < ride_capacity_; ++ended_) {
        const Ride &ride = rides_[ended_];
        for (int32_t part = ride.first_part; part >= 0; part = next_part_[part]) {
            at_[part] = ride.last;
            next_order_[kept++] = part;
        }
    }
    order_.swap(next_order_);
    live_ = kept;
}

// Turns the rows' state numbers into what a scan reads: entry_of() the
// state, or -1 where it accepts. Each state's entry is worked out once,
// into text_ (the parts' classes are read no more): a row entry then reads
// one number from a compact array, not a state's record.
void Automaton::Builder::finish_rows()
{
    int32_t *entries = text_.get();
    auto work_out = [this, entries](int32_t from, int32_t to) {
        for (int32_t state = from; state < to; ++state) {
            entries[state] = a_.entry_of(state);
        }
    };
    work_out(0, states_);
    work_out(top_, static_cast<int32_t>(parts_.total) + 1);
    int32_t *rows = a_.rows_.get();
    for (Py_ssize_t i = 0; i < rows_used_; ++i) {
        int32_t entry = rows[i];
        rows[i] = entry < 0 ? -1 : entries[entry];
    }
}

int Automaton::build(const PartList &parts, CharClasses &classes, Py_ssize_t row_entries)
{
    classes_ = &classes;
    return Builder(*this, parts, row_entries).run();
}

// What a state without a row keeps in its row's place: its one child's
// class, complemented (kOneChild or more), or else kManyChildren and a bit
// for each child's class modulo kClassBits.
int32_t Automaton::child_classes(const State &state) const
{
    int32_t count = plain(state.child_count);
    const State *children = states_.get() + state.first_child;
    if (count == 1) {
        return ~plain(children[0].edge);
    }
    uint32_t bits = 0;
    for (int32_t k = 0; k < count; ++k) {
        bits |= uint32_t(1) << (plain(children[k].edge) % kClassBits);
    }
    return static_cast<int32_t>(kManyChildren | bits);
}

int32_t Automaton::find_child(int32_t state, int32_t cls) const
{
    const State &parent = states_[state];
    if (parent.row < -1) {
        if (parent.row >= kOneChild) {
            return ~parent.row == cls ? parent.first_child : 0; // its one child's class
        }
        if ((static_cast<uint32_t>(parent.row) >> (cls % kClassBits) & 1) == 0) {
            return 0; // no child's class has cls's bit
        }
    }
    int32_t first = parent.first_child, count = plain(parent.child_count);
    const State *children = states_.get() + first;
    if (count <= kLinearChildren) {
        for (int32_t k = 0; k < count; ++k) {
            if (plain(children[k].edge) == cls) {
                return first + k;
            }
        }
        return 0;
    }
    int32_t lo = 0, hi = count;
    while (lo < hi) {
        int32_t mid = lo + (hi - lo) / 2;
        if (plain(children[mid].edge) < cls) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo < count && plain(children[lo].edge) == cls ? first + lo : 0;
}

// The entry for `cls` from `state`, which does not accept: from a state
// without a row, its own child, else the failure links' until a state with
// a row answers from it. A child found is made an entry by
// encode(child, accepts).
template <typename Encode>
int32_t Automaton::step(int32_t state, int32_t cls, Encode &&encode) const
{
    while (states_[state].row < 0) {
        int32_t child = find_child(state, cls);
        if (child != 0) {
            return encode(child, states_[child].edge < 0);
        }
        state = states_[state].fail;
    }
    return rows_[states_[state].row + cls];
}

// The entry of a state reached that does not accept: where its row
// begins, or kSparse and its number when it has none, or kSparse, kRun
// and its number when it has a run.
int32_t Automaton::entry_of(int32_t state) const
{
    const State &reached = states_[state];
    if (reached.child_count < 0) {
        return kSparse | kRun | state;
    }
    return reached.row >= 0 ? reached.row : (kSparse | state);
}

int32_t Automaton::scan_step(int32_t state, int32_t cls) const
{
    if (cls == 0) {
        return 0; // a code point in no part leads back to the root, whose row is first
    }
    return step(state, cls,
                [this](int32_t reached, bool accepts) { return accepts ? -1 : entry_of(reached); });
}

template <typename Char> inline int32_t Automaton::class_of(Char c) const
{
    return sizeof(Char) == 1 ? classes_->low()[c] : classes_->of(c);
}

// The entry after code point `c` from `entry`. From a state with a run it
// is the usual step, the run left aside.
template <typename Char> inline int32_t Automaton::next(int32_t entry, Char c) const
{
    int32_t cls = class_of(c);
    return entry & kSparse ? scan_step(state_of(entry), cls) : rows_[entry + cls];
}

// From an entry with kRun, along its state's run as far as data[i:length]
// goes with it: moves i past the code points that agree, and returns -1
// when it reaches a state that accepts, else the entry of the state
// reached without kRun, for the usual step from it.
int32_t Automaton::along(int32_t entry, const Py_UCS1 *data, Py_ssize_t &i, Py_ssize_t length) const
{
    int32_t state = state_of(entry);
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
    state += static_cast<int32_t>(same);
    i += same;
    return states_[state].edge < 0 ? -1 : kSparse | state;
}

// Whether some part ends in data[i:length], the scan being at `entry`.
// Only one-byte text goes along runs; wide text steps through their states.
template <typename Char>
bool Automaton::scan(const Char *data, Py_ssize_t length, Py_ssize_t i, int32_t entry) const
{
    while (entry >= 0 && i < length) {
        if constexpr (sizeof(Char) == 1) {
            if (entry & kRun) {
                entry = along(entry, data, i, length); // which gives no run again
                continue;
            }
        }
        entry = next(entry, data[i++]);
    }
    return entry < 0;
}

void Automaton::matches_two(const Py_UCS1 *a, Py_ssize_t a_length, const Py_UCS1 *b,
                            Py_ssize_t b_length, bool found[2]) const
{
    int32_t at_a = 0, at_b = 0;
    Py_ssize_t both = std::min(a_length, b_length), i = 0;
    for (; i < both; ++i) {
        at_a = next(at_a, a[i]);
        at_b = next(at_b, b[i]);
        if ((at_a | at_b) & (INT32_MIN | kRun)) {
            ++i;
            break; // a match, or a run, which each scan goes along by itself
        }
    }
    found[0] = at_a < 0 || scan(a, a_length, i, at_a);
    found[1] = at_b < 0 || scan(b, b_length, i, at_b);
}

bool Automaton::matches(PyObject *item) const
{
    return scan_str(item,
                    [this](auto *data, Py_ssize_t length) { return scan(data, length, 0, 0); });
}

} // namespace tessavor::matcher
