#include "matcher/automaton_builder.hpp"

#include <algorithm>
#include <cstring>

namespace tessavor::matcher {

namespace {

// How many parts ahead the build fetches each one's class at a depth.
constexpr Py_ssize_t kFetchParts = 16;

} // namespace

Automaton::Builder::Builder(Automaton &automaton, const PartList &parts, const Plan &plan)
    : a_(automaton), parts_(parts), plan_(plan),
      ride_capacity_(std::min(parts.count, parts.total / 2)), ended_(ride_capacity_),
      live_(parts.count), top_(static_cast<int32_t>(parts.total + 1))
{
    assert(plan.way == Way::kAutomaton);
    assert(parts.count > 0 && parts.total < kMaxTotal);
}

// What is written before it is read is not zeroed (resize() of an empty
// buffer): only at_ (every part starts at the root) and seen_by_ are.
// False with MemoryError set when it cannot.
bool Automaton::Builder::allocate_for_parts()
{
    Py_ssize_t count = parts_.count;
    return order_.resize(count) && next_order_.resize(count) && at_.allocate(count) &&
           next_part_.resize(count) && text_.resize(parts_.total + 1) && start_.resize(count + 1) &&
           class_at_.resize(count) && counts_.resize(count + 1) && rides_.resize(ride_capacity_) &&
           a_.states_.resize(parts_.total + 1) && a_.run_.resize(parts_.total + 1) &&
           a_.byte_.resize(parts_.total + 1);
}

bool Automaton::Builder::allocate_for_classes()
{
    Py_ssize_t width = this->width();
    return seen_by_.allocate(width) && child_on_.resize(width) && distinct_.resize(width) &&
           byte_of_.resize(width);
}

void Automaton::Builder::list_bytes()
{
    std::fill(byte_of_.get(), byte_of_.get() + width(), -1);
    const int32_t *low = a_.classes_.low();
    for (int32_t c = 0; c < 256; ++c) {
        if (low[c] > 0) {
            byte_of_[low[c]] = c;
        }
    }
}

// Where each part's classes begin in text_: each depth reads one class of
// every part still going on, which the parts' own objects, spread over the
// heap, would serve one cache miss each. Every part starts in order_.
void Automaton::Builder::list_parts()
{
    Py_ssize_t at = 0;
    for (Py_ssize_t i = 0; i < parts_.count; ++i) {
        order_[i] = static_cast<int32_t>(i);
        start_[i] = static_cast<int32_t>(at);
        at += part_length(parts_.items[i]);
    }
    start_[parts_.count] = static_cast<int32_t>(at);
}

bool Automaton::Builder::run()
{
    if (!allocate_for_parts() || a_.classes_.prepare(parts_, text_.get()) < 0) {
        return false;
    }
    list_parts();
    // Row offsets stay below kRun, where entries keep their kind.
    plan_.row_budget = std::min(plan_.row_budget, kRun - Py_ssize_t(width()));
    if (!allocate_for_classes()) {
        return false;
    }
    list_bytes();
    run_depth_ = plan_.run_depth(parts_.count, width() - 1);
    a_.states_[0] = State::made(0, 0, 0);
    // The root's row comes first: a scan starts at offset 0. Where not even
    // one row fits the bound, nothing is set aside, and fill_row() gives the
    // root offset 0 all the same.
    if (!reserve_rows(0, 1)) {
        return false;
    }
    int32_t first_at_depth = 0;
    for (Py_ssize_t depth = 0; live_ > 0 || going_on_ > 0; ++depth) {
        open_depth(depth, states_ - first_at_depth + going_on_);
        finished_ = first_at_depth;
        first_at_depth = states_;
        if (!follow_rides()) {
            return false;
        }
        Py_ssize_t begin = 0, fetched = 0;
        while (begin < live_) {
            int32_t state = at_[order_[begin]];
            Py_ssize_t end = begin;
            while (end < live_ && at_[order_[end]] == state) {
                ++end;
            }
            // group() reads each part's class at this depth, spread over
            // text_: fetched a few parts ahead, each once.
            for (; fetched < std::min(end + kFetchParts, live_); ++fetched) {
                TESSAVOR_PREFETCH(text_.get() + start_[order_[fetched]] + depth);
            }
            if (!group(begin, end, depth)) {
                return false;
            }
            begin = end;
        }
        regroup(first_at_depth);
    }
    finish_rows();
    a_.facts_.states = states_ + (parts_.total + 1 - top_);
    a_.facts_.row_entries = rows_used_;
    return true;
}

// Whether the `at_depth` states at `depth` get rows, as the plan says.
void Automaton::Builder::open_depth(Py_ssize_t depth, Py_ssize_t at_depth)
{
    Py_ssize_t entries = rows_used_ + at_depth * width();
    rows_open_ = plan_.rows_at(depth, entries, live_, at_depth, width(), rows_open_);
    a_.facts_.row_depths += rows_open_;
}

// Moves the parts of the group at [begin, end) of order_ on from their
// state, and makes its links and row. Returns false with MemoryError set
// when memory runs out.
bool Automaton::Builder::group(Py_ssize_t begin, Py_ssize_t end, Py_ssize_t depth)
{
    int32_t state = at_[order_[begin]];
    int32_t stretch = shared_stretch(begin, end, depth);
    if (stretch > 1) {
        if (!start_ride(state, begin, end, depth, stretch)) {
            return false;
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
    assert(most >= 1); // every part still going on is longer than the depth
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
        a_.states_[states_++] = State::made(0, 0, distinct_[k]);
    }
    assert(states_ <= top_); // numbers up never meet the chains' numbers down
    for (Py_ssize_t place = begin; place < end; ++place) {
        int32_t part = order_[place];
        int32_t child = child_on_[class_at_[place]];
        at_[part] = child;
        if (length_of(part) == depth + 1) {
            a_.states_[child].mark_accepts(); // the part ends here
        }
    }
}

// Links a state's children and fills its row. Returns false with
// MemoryError set when memory runs out.
bool Automaton::Builder::finish_state(int32_t state)
{
    link_children(state);
    return fill_row(state);
}

// A child's failure link: the longest proper suffix of its string that is
// a state, found by stepping from its parent's link on the child's class.
// The child accepts when that state does. The root's children step from
// the root's own row, still all zeros (the root) when they are linked.
void Automaton::Builder::link_children(int32_t state)
{
    assert(a_.states_[0].has_row());
    const State &parent = a_.states_[state];
    for (int32_t child = parent.first_child; child < parent.first_child + parent.children();
         ++child) {
        State &made = a_.states_[child];
        int32_t found =
            step(a_.states_.get(), a_.rows_.get(), parent.fail, made.edge_class(), entry::pending);
        made.fail = entry::pending_state(found);
        assert(made.fail < child || made.fail >= top_); // shallower: finished by now
        if (entry::pending_accepts(found)) {
            made.mark_accepts();
        }
    }
}

// A full row, while rows are open: the failure link's row (made before, as
// the link is shallower), with the state's own children over it. Returns
// false with MemoryError set when memory runs out.
bool Automaton::Builder::fill_row(int32_t state)
{
    State &filled = a_.states_[state];
    if (!rows_open_) {
        // No row (one set aside for it is given up): what its children's
        // classes are instead, so that finding a child mostly reads no
        // other record.
        filled.row = a_.child_classes(filled);
        return true;
    }
    Py_ssize_t width = this->width();
    if (!filled.has_row()) {
        if (!make_room(width)) {
            return false;
        }
        filled.row = static_cast<int32_t>(rows_used_);
        rows_used_ += width;
    }
    int32_t *row = a_.rows_.get() + filled.row_offset();
    if (state == 0) {
        memset(row, 0, sizeof(int32_t) * width);
    } else {
        // memmove, not memcpy: the manylinux wheel may use no glibc symbol
        // newer than 2.5, and memcpy's is 2.14 (the rows do not overlap).
        memmove(row, a_.rows_.get() + a_.states_[filled.fail].row_offset(),
                sizeof(int32_t) * width);
    }
    for (int32_t child = filled.first_child; child < filled.first_child + filled.children();
         ++child) {
        const State &made = a_.states_[child];
        row[made.edge_class()] = entry::pending(child, made.accepts());
    }
    return true;
}

// Sets rows aside for the `count` states of a chain from `first`, one after
// another, so that a scan along the chain reads them in order. They are
// filled at their depths, or given up if rows close before; the chain's
// states after them get rows at their depths while rows are open. Returns
// false with MemoryError set when memory runs out.
bool Automaton::Builder::reserve_rows(int32_t first, int32_t count)
{
    Py_ssize_t entries = static_cast<Py_ssize_t>(count) * width();
    if (!rows_open_ || rows_used_ + entries > plan_.row_budget) {
        return true;
    }
    if (!make_room(entries)) {
        return false;
    }
    // Zeroed, for finish_rows() to read whether they are filled or not.
    memset(a_.rows_.get() + rows_used_, 0, sizeof(int32_t) * entries);
    for (int32_t k = 0; k < count; ++k) {
        a_.states_[first + k].row = static_cast<int32_t>(rows_used_);
        rows_used_ += width();
    }
    return true;
}

// Grows rows_ to hold `entries` more. Returns false with MemoryError set
// when memory runs out.
bool Automaton::Builder::make_room(Py_ssize_t entries)
{
    if (rows_used_ + entries <= row_capacity_) {
        return true;
    }
    Py_ssize_t grown =
        std::max(rows_used_ + entries, std::min(row_capacity_ * 2, plan_.row_budget));
    if (!a_.rows_.resize(grown)) {
        return false;
    }
    row_capacity_ = grown;
    return true;
}

// Lists the parts that go on (their state does not accept) for the next
// depth: those of order_ grouped by their new state (the states made at
// this depth, first_new on), then those of the rides that ended, a group
// each. Parts that started riding stay out.
void Automaton::Builder::regroup(int32_t first_new)
{
    Py_ssize_t made = states_ - first_new;
    memset(counts_.get(), 0, sizeof(int32_t) * (made + 1));
    auto goes_on = [this](int32_t state) { return state < top_ && !a_.states_[state].accepts(); };
    for (Py_ssize_t place = 0; place < live_; ++place) {
        int32_t state = at_[order_[place]];
        if (goes_on(state)) {
            ++counts_[state - first_new + 1];
        }
    }
    for (Py_ssize_t k = 1; k <= made; ++k) {
        counts_[k] += counts_[k - 1];
    }
    Py_ssize_t kept = counts_[made];
    for (Py_ssize_t place = 0; place < live_; ++place) {
        int32_t part = order_[place];
        if (goes_on(at_[part])) {
            next_order_[counts_[at_[part] - first_new]++] = part;
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
// state, or kMatchEntry where it accepts. Each state's entry is worked out
// once, into text_ (the parts' classes are read no more): a row entry then
// reads one number from a compact array, not a state's record.
void Automaton::Builder::finish_rows()
{
    int32_t *entries = text_.get();
    auto work_out = [this, entries](int32_t from, int32_t to) {
        for (int32_t state = from; state < to; ++state) {
            entries[state] = a_.entry_of(state);
            a_.facts_.runs += entry::starts_run(entries[state]);
        }
    };
    work_out(0, states_);
    work_out(top_, static_cast<int32_t>(parts_.total) + 1);
    int32_t *rows = a_.rows_.get();
    for (Py_ssize_t i = 0; i < rows_used_; ++i) {
        int32_t pending = rows[i];
        rows[i] = entry::pending_accepts(pending) ? kMatchEntry : entries[pending];
    }
}

int Automaton::build(const PartList &parts, const Plan &plan)
{
    return Builder(*this, parts, plan).run() ? 0 : -1;
}

} // namespace tessavor::matcher
