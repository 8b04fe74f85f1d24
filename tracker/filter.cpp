// Prod.Filter: the items of `string` that contain at least one part of
// `substr`, by the containment operator (`part in item`).
#include "module/errors.hpp"
#include "module/traceback.hpp"
#include "tracker/bodies.hpp"
#include "tracker/walk.hpp"

namespace tessavor::tracker {

namespace {

const char kFilterName[] = "tessavor.prod.Prod.Filter";
const char kTestName[] = "genexpr";
constexpr int kWalkLine = 95;
constexpr int kTestLine = 96;

// A StopIteration may not leave the item test: as from a generator, it turns
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
    raise_message(PyExc_RuntimeError, "generator raised StopIteration");
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

// The item test: 1 when some part of `substr` is in `item`, 0 when none is,
// -1 with its entry added. Containment checks run arbitrary code.
int item_test(PyObject *item, PyObject *substr)
{
    int rc = walk(substr, [item](PyObject *part) { return PySequence_Contains(item, part); });
    if (rc == kWalkFailed || rc == kWalkVisitFailed) {
        replace_stop_iteration();
        add_traceback(kTestName, kTestLine);
        return -1;
    }
    return rc == kWalkStopped;
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
    int rc = walk(string, [&](PyObject *item) {
        int found = item_test(item, substr);
        if (found < 0) {
            add_traceback(kFilterName, kTestLine);
            return -1;
        }
        if (found && PyList_Append(result.get(), item) < 0) {
            add_traceback(kFilterName, kWalkLine);
            return -1;
        }
        return 0;
    });
    if (rc == kWalkFailed) {
        return fail_at(kFilterName, kWalkLine);
    }
    if (rc != kWalkEnded) {
        return nullptr;
    }
    return result.release();
}

} // namespace tessavor::tracker
