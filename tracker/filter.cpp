// Prod.Filter: the items of `string` that contain at least one part of
// `substr`, by the containment operator (`part in item`).
#include "module/traceback.hpp"
#include "tracker/bodies.hpp"

namespace tessavor::tracker {

namespace {

const char kFilterName[] = "tessavor.prod.Prod.Filter";
const char kTestName[] = "genexpr";
constexpr int kWalkLine = 95;
constexpr int kTestLine = 96;

// A StopIteration may not leave the item test: like a generator, it turns
// into RuntimeError, with the StopIteration as its context.
void replace_stop_iteration()
{
    if (!PyErr_ExceptionMatches(PyExc_StopIteration)) {
        return;
    }
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb != nullptr && value != nullptr) {
        PyException_SetTraceback(value, tb);
    }
    Py_XDECREF(type);
    Py_XDECREF(tb);
    PyErr_SetString(PyExc_RuntimeError, "generator raised StopIteration");
    PyObject *rtype, *rvalue, *rtb;
    PyErr_Fetch(&rtype, &rvalue, &rtb);
    PyErr_NormalizeException(&rtype, &rvalue, &rtb);
    if (rvalue != nullptr && value != nullptr) {
        PyException_SetContext(rvalue, value); // steals
    } else {
        Py_XDECREF(value);
    }
    PyErr_Restore(rtype, rvalue, rtb);
}

int test_failed()
{
    replace_stop_iteration();
    add_traceback(kTestName, kTestLine);
    return -1;
}

// 1 when `part in item` for a part of an exact list or tuple `parts`.
// Arbitrary code may run in each check and change `parts`: the length and
// the storage are re-read at every step.
template <typename Seq> int test_sequence(PyObject *item, PyObject *parts)
{
    for (Py_ssize_t j = 0; j < Seq::size(parts); ++j) {
        Ref part = Ref::borrow(Seq::item(parts, j));
        int found = PySequence_Contains(item, part.get());
        if (found < 0) {
            return test_failed();
        }
        if (found) {
            return 1;
        }
    }
    return 0;
}

struct ListAccess {
    static Py_ssize_t size(PyObject *list) { return PyList_GET_SIZE(list); }
    static PyObject *item(PyObject *list, Py_ssize_t i) { return PyList_GET_ITEM(list, i); }
};

struct TupleAccess {
    static Py_ssize_t size(PyObject *tuple) { return PyTuple_GET_SIZE(tuple); }
    static PyObject *item(PyObject *tuple, Py_ssize_t i) { return PyTuple_GET_ITEM(tuple, i); }
};

// The item test: 1, 0, or -1 with its entry added.
int item_test(PyObject *item, PyObject *substr)
{
    if (PyList_CheckExact(substr)) {
        return test_sequence<ListAccess>(item, substr);
    }
    if (PyTuple_CheckExact(substr)) {
        return test_sequence<TupleAccess>(item, substr);
    }
    Ref parts = Ref::steal(PyObject_GetIter(substr));
    if (!parts) {
        return test_failed();
    }
    for (;;) {
        // PyIter_Next clears a StopIteration: the parts have run out.
        Ref part = Ref::steal(PyIter_Next(parts.get()));
        if (!part) {
            return PyErr_Occurred() ? test_failed() : 0;
        }
        int found = PySequence_Contains(item, part.get());
        if (found < 0) {
            return test_failed();
        }
        if (found) {
            return 1;
        }
    }
}

// Tests one item of `string` and keeps it in `result` when it matches.
int consider(PyObject *result, PyObject *item, PyObject *substr)
{
    int found = item_test(item, substr);
    if (found < 0) {
        add_traceback(kFilterName, kTestLine);
        return -1;
    }
    if (found && PyList_Append(result, item) < 0) {
        add_traceback(kFilterName, kWalkLine);
        return -1;
    }
    return 0;
}

template <typename Seq> int walk_sequence(PyObject *result, PyObject *items, PyObject *substr)
{
    for (Py_ssize_t i = 0; i < Seq::size(items); ++i) {
        Ref item = Ref::borrow(Seq::item(items, i));
        if (consider(result, item.get(), substr) < 0) {
            return -1;
        }
    }
    return 0;
}

int walk_iterable(PyObject *result, PyObject *string, PyObject *substr)
{
    Ref items = Ref::steal(PyObject_GetIter(string));
    if (!items) {
        add_traceback(kFilterName, kWalkLine);
        return -1;
    }
    for (;;) {
        Ref item = Ref::steal(PyIter_Next(items.get()));
        if (!item) {
            if (PyErr_Occurred()) {
                add_traceback(kFilterName, kWalkLine);
                return -1;
            }
            return 0;
        }
        if (consider(result, item.get(), substr) < 0) {
            return -1;
        }
    }
}

} // namespace

PyObject *filter(PyObject *const *args)
{
    PyObject *string = args[1];
    PyObject *substr = args[2];
    Ref result = Ref::steal(PyList_New(0));
    if (!result) {
        return fail_at(kFilterName, kWalkLine);
    }
    int rc;
    if (PyList_CheckExact(string)) {
        rc = walk_sequence<ListAccess>(result.get(), string, substr);
    } else if (PyTuple_CheckExact(string)) {
        rc = walk_sequence<TupleAccess>(result.get(), string, substr);
    } else {
        rc = walk_iterable(result.get(), string, substr);
    }
    if (rc < 0) {
        return nullptr;
    }
    return result.release();
}

} // namespace tessavor::tracker
