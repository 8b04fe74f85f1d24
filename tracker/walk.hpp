// Walking an object as a Python `for` statement does: exact lists and tuples
// by index, with the length and the item storage re-read before every step
// (the visitor may run arbitrary code that changes the list); anything else
// through iter() and next(), a StopIteration ending the walk.
#ifndef TESSAVOR_TRACKER_WALK_HPP
#define TESSAVOR_TRACKER_WALK_HPP

#include <assert.h>

#include "module/ref.hpp"

namespace tessavor::tracker {

// What a visitor asks of the walk after one item.
enum class Visit {
    kNext,   // go on to the next item
    kStop,   // stop here: the walk is done
    kFailed, // the visitor failed (and added its own entries)
};

// How a walk ended.
enum class WalkResult {
    kEnded,       // every item was visited
    kStopped,     // the visitor asked to stop
    kFailed,      // iter() or next() raised; no entry added yet
    kVisitFailed, // the visitor failed (and added its own entries)
};

struct ListItems {
    static Py_ssize_t size(PyObject *list) { return PyList_GET_SIZE(list); }
    static PyObject *at(PyObject *list, Py_ssize_t i) { return PyList_GET_ITEM(list, i); }
};

struct TupleItems {
    static Py_ssize_t size(PyObject *tuple) { return PyTuple_GET_SIZE(tuple); }
    static PyObject *at(PyObject *tuple, Py_ssize_t i) { return PyTuple_GET_ITEM(tuple, i); }
};

// Item i of an exact list or tuple.
inline PyObject *sequence_item(PyObject *sequence, Py_ssize_t i)
{
    assert(PyList_CheckExact(sequence) || PyTuple_CheckExact(sequence));
    assert(0 <= i && i < Py_SIZE(sequence));
    return PyList_CheckExact(sequence) ? PyList_GET_ITEM(sequence, i)
                                       : PyTuple_GET_ITEM(sequence, i);
}

// The walk's end after a visit that did not ask for the next item.
inline WalkResult ended_by(Visit visit)
{
    assert(visit != Visit::kNext);
    return visit == Visit::kFailed ? WalkResult::kVisitFailed : WalkResult::kStopped;
}

template <typename Items, typename Visitor>
WalkResult walk_by_index(PyObject *sequence, Visitor &visit, Py_ssize_t start)
{
    for (Py_ssize_t i = start; i < Items::size(sequence); ++i) {
        Ref item = Ref::borrow(Items::at(sequence, i));
        Visit next = visit(item.get());
        if (next != Visit::kNext) {
            return ended_by(next);
        }
    }
    return WalkResult::kEnded;
}

// `visit(PyObject *item)` returns a Visit. The walk keeps the item alive for
// the whole visit. An exact list or tuple may be walked from `start` on (the
// items before it served otherwise); anything else is walked from its
// beginning, and `start` must be 0.
template <typename Visitor>
WalkResult walk(PyObject *iterable, Visitor &&visit, Py_ssize_t start = 0)
{
    assert(start >= 0);
    if (PyList_CheckExact(iterable)) {
        return walk_by_index<ListItems>(iterable, visit, start);
    }
    if (PyTuple_CheckExact(iterable)) {
        return walk_by_index<TupleItems>(iterable, visit, start);
    }
    assert(start == 0);
    // Arbitrary code may run in __iter__ and __next__.
    Ref iterator = Ref::steal(PyObject_GetIter(iterable));
    if (!iterator) {
        return WalkResult::kFailed;
    }
    for (;;) {
        // PyIter_Next clears a StopIteration (or subclass): the end.
        Ref item = Ref::steal(PyIter_Next(iterator.get()));
        if (!item) {
            return PyErr_Occurred() ? WalkResult::kFailed : WalkResult::kEnded;
        }
        Visit next = visit(item.get());
        if (next != Visit::kNext) {
            return ended_by(next);
        }
    }
}

} // namespace tessavor::tracker

#endif
