#include "matcher/automaton.hpp"

#include <algorithm>
#include <cstring>

namespace tessavor::matcher {

namespace {

// Up to this many children are searched one by one, more by halving.
constexpr int32_t kLinearChildren = 8;
// A depth gets full rows while its states carry at least this many parts
// each on average: below that the trie has stopped branching, and rows
// would cost memory a scan seldom reads. Up to kFewRowEntries, though,
// rows are cheap enough (they stay in the cache) for every depth.
constexpr Py_ssize_t kRowBranching = 2;
constexpr Py_ssize_t kFewRowEntries = Py_ssize_t(1) << 17;

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
// States are numbered up from the root, a depth after another, with one
// exception: where a part goes on alone below the rows (a tail), the states
// of the rest of it are numbered at once, consecutively, down from the top
// of the numbers, so that a scan along it reads its records in order.
class Automaton::Builder {
public:
    Builder(Automaton &automaton, const PartList &parts, Py_ssize_t row_entries)
        : a_(automaton), parts_(parts), row_entries_(row_entries)
    {
    }
    int run();

private:
    int allocate();
    int open_depth(Py_ssize_t depth, int32_t first_at_depth);
    Py_ssize_t group(Py_ssize_t begin, Py_ssize_t depth);
    void make_children(int32_t state, Py_ssize_t begin, Py_ssize_t end);
    void link_children(int32_t state);
    void fill_row(int32_t state);
    int32_t start_tail(int32_t state, int32_t part, Py_ssize_t depth);
    void follow_tails();
    void regroup(int32_t first_new);

    Automaton &a_;
    const PartList &parts_;
    Py_ssize_t row_entries_;
    Py_ssize_t row_capacity_ = 0;
    Buffer<int32_t> order_, next_order_; // part indices, grouped by state
    Buffer<int32_t> at_;                 // per part: the state it has reached
    Buffer<int32_t> tails_;              // the states reached along tails
    Buffer<int32_t> text_;               // the parts' classes, one part after another
    Buffer<int32_t> start_;              // per part: where its classes begin in text_
    Buffer<int32_t> class_at_;           // per place in order_: the part's next class
    Buffer<int32_t> seen_by_;            // per class: 1 + the last state that saw it
    Buffer<int32_t> child_on_;           // per class: that state's child on it
    Buffer<int32_t> distinct_;           // one group's distinct classes
    Buffer<int32_t> counts_;             // per new state, for regroup()
    Py_ssize_t live_ = 0;
    Py_ssize_t tail_count_ = 0;
    int32_t states_ = 1; // the next number up
    int32_t top_ = 0;    // the last number given to a tail
    bool rows_open_ = true;
};

int Automaton::Builder::allocate()
{
    Py_ssize_t count = parts_.count, width = a_.width_;
    return order_.allocate(count) && next_order_.allocate(count) && at_.allocate(count) &&
                   tails_.allocate(count) && text_.allocate(parts_.total) &&
                   start_.allocate(count + 1) && class_at_.allocate(count) &&
                   counts_.allocate(count + 1) && seen_by_.allocate(width) &&
                   child_on_.allocate(width) && distinct_.allocate(width)
               ? 0
               : -1;
}

int Automaton::Builder::run()
{
    if (allocate() < 0) {
        return -1;
    }
    // The parts as classes, in one array: each depth reads one class of
    // every part still going on, which the parts' own objects, spread over
    // the heap, would serve one cache miss each.
    for (Py_ssize_t i = 0, at = 0; i < parts_.count; ++i) {
        order_[i] = static_cast<int32_t>(i);
        start_[i] = static_cast<int32_t>(at);
        scan_str(parts_.items[i], [this, &at](auto *data, Py_ssize_t length) {
            for (Py_ssize_t j = 0; j < length; ++j) {
                text_[at++] = a_.classes_->of(data[j]);
            }
            return false;
        });
        start_[i + 1] = static_cast<int32_t>(at);
    }
    live_ = parts_.count;
    top_ = static_cast<int32_t>(parts_.total + 1);
    int32_t first_at_depth = 0;
    for (Py_ssize_t depth = 0; live_ > 0 || tail_count_ > 0; ++depth) {
        if (open_depth(depth, first_at_depth) < 0) {
            return -1;
        }
        first_at_depth = states_;
        for (Py_ssize_t begin = 0; begin < live_;) {
            begin = group(begin, depth);
        }
        follow_tails();
        regroup(first_at_depth);
    }
    return 0;
}

// Whether the states at `depth`, numbered first_at_depth up, get rows: only
// while every depth above had them, the rows fit in row_entries_ entries,
// and the trie still branches or the rows are few. The root always has one.
// Returns 0, or -1 with MemoryError set.
int Automaton::Builder::open_depth(Py_ssize_t depth, int32_t first_at_depth)
{
    if (!rows_open_) {
        return 0;
    }
    Py_ssize_t width = a_.width_, at_depth = states_ - first_at_depth;
    Py_ssize_t entries = static_cast<Py_ssize_t>(states_) * width;
    bool branches = live_ >= kRowBranching * at_depth;
    rows_open_ = depth == 0 || (entries <= row_entries_ && (branches || entries <= kFewRowEntries));
    if (!rows_open_) {
        a_.row_states_ = first_at_depth;
        return 0;
    }
    a_.row_states_ = states_;
    // Every row is written whole before it is read (a state that accepts
    // has none, and is never read from), so only the root's is zeroed.
    if (entries > row_capacity_) {
        Py_ssize_t grown = row_capacity_ * 2;
        grown = grown < entries ? entries : (grown > row_entries_ ? row_entries_ : grown);
        if (!a_.rows_.resize(grown)) {
            return -1;
        }
        row_capacity_ = grown;
    }
    if (depth == 0) {
        memset(a_.rows_.get(), 0, sizeof(int32_t) * width);
    }
    return 0;
}

// Moves the parts of the group that starts at `begin` in order_ on to its
// state's children, and returns where the next group starts.
Py_ssize_t Automaton::Builder::group(Py_ssize_t begin, Py_ssize_t depth)
{
    int32_t state = at_[order_[begin]];
    Py_ssize_t end = begin;
    for (; end < live_ && at_[order_[end]] == state; ++end) {
        class_at_[end] = text_[start_[order_[end]] + depth];
    }
    if (end - begin == 1 && state >= a_.row_states_) {
        at_[order_[begin]] = start_tail(state, order_[begin], depth);
    } else {
        make_children(state, begin, end);
        for (Py_ssize_t place = begin; place < end; ++place) {
            int32_t part = order_[place];
            int32_t child = child_on_[class_at_[place]];
            at_[part] = child;
            State &reached = a_.states_[child];
            if (start_[part] + depth + 1 == start_[part + 1] && reached.edge > 0) {
                reached.edge = ~reached.edge; // the part ends here
            }
        }
    }
    link_children(state);
    fill_row(state);
    return end;
}

// Numbers the children of `state` for the distinct classes of a group.
void Automaton::Builder::make_children(int32_t state, Py_ssize_t begin, Py_ssize_t end)
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
        a_.states_[states_++].edge = distinct_[k];
    }
}

// Makes the rest of `part`, which goes on alone from `state` below the rows,
// a chain of states numbered consecutively down from the top, each the one
// child of the one before, and returns the first. Their failure links come
// a depth at a time, in follow_tails().
int32_t Automaton::Builder::start_tail(int32_t state, int32_t part, Py_ssize_t depth)
{
    const int32_t *rest = text_.get() + start_[part] + depth;
    int32_t length = start_[part + 1] - start_[part] - static_cast<int32_t>(depth);
    top_ -= length;
    State *chain = a_.states_.get() + top_;
    for (int32_t k = 0; k < length; ++k) {
        chain[k].edge = rest[k];
        chain[k].first_child = top_ + k + 1;
        chain[k].child_count = k + 1 < length;
    }
    chain[length - 1].edge = ~rest[length - 1]; // the part ends there
    State &parent = a_.states_[state];
    parent.first_child = top_;
    parent.child_count = 1;
    return top_;
}

// Links the next state of every tail, and keeps the tails whose state does
// not accept for the next depth.
void Automaton::Builder::follow_tails()
{
    Py_ssize_t kept = 0;
    for (Py_ssize_t k = 0; k < tail_count_; ++k) {
        int32_t state = tails_[k];
        link_children(state);
        if (a_.states_[state + 1].edge >= 0) {
            tails_[kept++] = state + 1;
        }
    }
    tail_count_ = kept;
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
    for (int32_t child = parent.first_child; child < parent.first_child + parent.child_count;
         ++child) {
        State &made = a_.states_[child];
        int32_t entry = a_.step(parent.fail, plain(made.edge));
        made.fail = plain(entry);
        if (entry < 0 && made.edge > 0) {
            made.edge = ~made.edge;
        }
    }
}

// A full row: the failure link's row (made before, as the link is
// shallower), with the state's own children over it.
void Automaton::Builder::fill_row(int32_t state)
{
    if (state >= a_.row_states_) {
        return;
    }
    Py_ssize_t width = a_.width_;
    int32_t *row = a_.rows_.get() + state * width;
    const State &parent = a_.states_[state];
    if (state != 0) {
        memcpy(row, a_.rows_.get() + parent.fail * width, sizeof(int32_t) * width);
    }
    for (int32_t child = parent.first_child; child < parent.first_child + parent.child_count;
         ++child) {
        int32_t edge = a_.states_[child].edge;
        row[plain(edge)] = edge < 0 ? ~child : child;
    }
}

// Lists the parts that go on (their state does not accept) for the next
// depth, grouped by state, the states made at this depth being first_new
// on; a part that has started a tail goes on among the tails.
void Automaton::Builder::regroup(int32_t first_new)
{
    Py_ssize_t made = states_ - first_new;
    memset(counts_.get(), 0, sizeof(int32_t) * (made + 1));
    for (Py_ssize_t place = 0; place < live_; ++place) {
        int32_t state = at_[order_[place]];
        if (a_.states_[state].edge < 0) {
            continue;
        }
        if (state >= top_) {
            tails_[tail_count_++] = state;
        } else {
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
        if (a_.states_[state].edge >= 0 && state < top_) {
            next_order_[counts_[state - first_new]++] = part;
        }
    }
    order_.swap(next_order_);
    live_ = kept;
}

int Automaton::build(const PartList &parts, const CharClasses &classes, Py_ssize_t row_entries)
{
    classes_ = &classes;
    width_ = classes.width();
    if (!states_.allocate(parts.total + 1)) {
        return -1;
    }
    return Builder(*this, parts, row_entries).run();
}

int32_t Automaton::find_child(int32_t state, int32_t cls) const
{
    int32_t first = states_[state].first_child, count = states_[state].child_count;
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

// The entry for `cls` from `state`, which does not accept: the state
// reached, complemented when it accepts. Below the rows, the state's own
// child, else the failure links' until a state with a row answers. A code
// point in no part (class 0) leads back to the root.
int32_t Automaton::step(int32_t state, int32_t cls) const
{
    if (cls == 0) {
        return 0;
    }
    while (state >= row_states_) {
        int32_t child = find_child(state, cls);
        if (child != 0) {
            return states_[child].edge < 0 ? ~child : child;
        }
        state = states_[state].fail;
    }
    return rows_[static_cast<Py_ssize_t>(state) * width_ + cls];
}

template <typename Char> bool Automaton::scan(const Char *data, Py_ssize_t length) const
{
    const int32_t *low = classes_->low();
    int32_t state = 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        int32_t cls = sizeof(Char) == 1 ? low[data[i]] : classes_->of(data[i]);
        int32_t entry = state < row_states_
                            ? rows_[static_cast<Py_ssize_t>(state) * width_ + cls]
                            : step(state, cls);
        if (entry < 0) {
            return true;
        }
        state = entry;
    }
    return false;
}

bool Automaton::matches(PyObject *item) const
{
    return scan_str(item, [this](auto *data, Py_ssize_t length) { return scan(data, length); });
}

} // namespace tessavor::matcher
