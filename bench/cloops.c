/* Plain C loops for the benchmark: what a hand-written loop over exact lists
 * costs, with no checks beyond the ones CPython itself makes. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

/* [record["name"] for record in records], records an exact list of exact dicts. */
static PyObject *names(PyObject *self, PyObject *records)
{
    (void)self;
    Py_ssize_t n = PyList_GET_SIZE(records);
    PyObject *key = PyUnicode_InternFromString("name");
    PyObject *result = PyList_New(0);
    if (key == NULL || result == NULL) {
        Py_XDECREF(key);
        Py_XDECREF(result);
        return NULL;
    }
    for (Py_ssize_t i = 0; i < n; i++) {
        PyObject *value = PyDict_GetItemWithError(PyList_GET_ITEM(records, i), key);
        if (value == NULL || PyList_Append(result, value) < 0) {
            if (!PyErr_Occurred())
                PyErr_SetObject(PyExc_KeyError, key);
            Py_DECREF(key);
            Py_DECREF(result);
            return NULL;
        }
    }
    Py_DECREF(key);
    return result;
}

/* The items of an exact list of str that contain a part of an exact list of
 * str, one containment check per pair. */
static PyObject *filter(PyObject *self, PyObject *args)
{
    (void)self;
    PyObject *items, *parts;
    if (!PyArg_ParseTuple(args, "O!O!", &PyList_Type, &items, &PyList_Type, &parts))
        return NULL;
    PyObject *result = PyList_New(0);
    if (result == NULL)
        return NULL;
    Py_ssize_t n = PyList_GET_SIZE(items), m = PyList_GET_SIZE(parts);
    for (Py_ssize_t i = 0; i < n; i++) {
        PyObject *item = PyList_GET_ITEM(items, i);
        for (Py_ssize_t j = 0; j < m; j++) {
            int found = PyUnicode_Contains(item, PyList_GET_ITEM(parts, j));
            if (found < 0) {
                Py_DECREF(result);
                return NULL;
            }
            if (found) {
                if (PyList_Append(result, item) < 0) {
                    Py_DECREF(result);
                    return NULL;
                }
                break;
            }
        }
    }
    return result;
}

/* call(f, x): f(x) and nothing else, the least a C function that forwards
   one call can do. */
static PyObject *call(PyObject *self, PyObject *const *args, Py_ssize_t nargs)
{
    (void)self;
    if (nargs != 2) {
        PyErr_SetString(PyExc_TypeError, "call(f, x)");
        return NULL;
    }
    return PyObject_Vectorcall(args[0], &args[1], 1, NULL);
}

/* counted(f): f(). Counted alone under callgrind (--toggle-collect=cloops_counted): what f
   costs, and nothing of the process around it. */
static PyObject *cloops_counted(PyObject *self, PyObject *f)
{
    (void)self;
    return PyObject_CallNoArgs(f);
}

static PyMethodDef methods[] = {
    {"counted", cloops_counted, METH_O, NULL},
    {"call", (PyCFunction)(void (*)(void))call, METH_FASTCALL, NULL},
    {"names", names, METH_O, NULL},
    {"filter", filter, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef def = {PyModuleDef_HEAD_INIT, "cloops", NULL, -1, methods,
                                 NULL, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit_cloops(void)
{
    return PyModule_Create(&def);
}
