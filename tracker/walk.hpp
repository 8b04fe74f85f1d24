// Walking an object as a Python `for` statement does: exact lists and tuples
// by index, with the length and the item storage re-read before every step
// (the visitor may run arbitrary code that changes the list); anything else
// through iter() and next(), a StopIteration ending the walk.
#ifndef TESSAVOR_TRACKER_WALK_HPP
#define TESSAVOR_TRACKER_WALK_HPP

#include "module/ref.hpp"

namespace tessavor::tracker {

enum WalkResult : int {
    kWalkVisitFailed = -2, // the visitor failed (and added its own entries)
    kWalkFailed = -1,      // iter() or next() raised; no entry added yet
    kWalkEnded = 0,        // every item was visited
    kWalkStopped = 1,      // the visitor asked to stop
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
    return PyList_CheckExact(sequence) ? PyList_GET_ITEM(sequence, i)
                                       : PyTuple_GET_ITEM(sequence, i);
}

inline int visit_result(int rc)
{
    return rc < 0 ? kWalkVisitFailed : kWalkStopped;
}

template <typename Items, typename Visit>
int walk_by_index(PyObject *sequence, Visit &visit, Py_ssize_t start)
{
    for (Py_ssize_t i = start; i < Items::size(sequence); ++i) {
        Ref item = Ref::borrow(Items::at(sequence, i));
        int rc = visit(item.get());
        if (rc != 0) {
            return visit_result(rc);
        }
    }
    return kWalkEnded;
}

// `visit(PyObject *item)` returns 0 to go on, 1 to stop, -1 on failure. The
// walk keeps the item alive for the whole visit. An exact list or tuple may
// be walked from `start` on (the items before it served otherwise);
// anything else is walked from its beginning, and `start` must be 0.
template <typename Visit> int walk(PyObject *iterable, Visit &&visit, Py_ssize_t start = 0)
{
    if (PyList_CheckExact(iterable)) {
        return walk_by_index<ListItems>(iterable, visit, start);
    }
    if (PyTuple_CheckExact(iterable)) {
        return walk_by_index<TupleItems>(iterable, visit, start);
    }
    // Arbitrary code may run in __iter__ and __next__.
    Ref iterator = Ref::steal(PyObject_GetIter(iterable));
    if (!iterator) {
        return kWalkFailed;
    }
    for (;;) {
        // PyIter_Next clears a StopIteration (or subclass): the end.
        Ref item = Ref::steal(PyIter_Next(iterator.get()));
        if (!item) {
            return PyErr_Occurred() ? kWalkFailed : kWalkEnded;
        }
        int rc = visit(item.get());
        if (rc != 0) {
            return visit_result(rc);
        }
    }
}

} // namespace tessavor::tracker

#endif
