#include "tracker/gazu_call.hpp"

#include "module/errors.hpp"
#include "module/traceback.hpp"

namespace tessavor::tracker {

Ref module_global(PyObject *name)
{
    PyObject *value = PyDict_GetItemWithError(state.module_dict, name);
    if (value != nullptr) {
        return Ref::borrow(value);
    }
    if (PyErr_Occurred()) {
        return Ref();
    }
    Ref builtin = Ref::steal(PyObject_GetAttr(state.builtins, name));
    if (!builtin && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        raise_format(PyExc_NameError, "name '%U' is not defined", name);
    }
    return builtin;
}

Ref gazu_function(PyObject *submodule, PyObject *function)
{
    Ref owner = module_global(names.gazu);
    if (!owner) {
        return owner;
    }
    if (submodule != nullptr) {
        owner = Ref::steal(PyObject_GetAttr(owner.get(), submodule));
        if (!owner) {
            return owner;
        }
    }
    return Ref::steal(PyObject_GetAttr(owner.get(), function));
}

Ref call_gazu(PyObject *submodule, PyObject *function, PyObject *const *args, size_t nargs,
              const char *funcname, int line)
{
    Ref callee = gazu_function(submodule, function);
    Ref result = callee ? call_positional(callee.get(), args, nargs) : Ref();
    if (!result) {
        add_traceback(funcname, line);
    }
    return result;
}

Ref record_item(PyObject *record, PyObject *key)
{
    if (PyDict_CheckExact(record)) {
        PyObject *value = PyDict_GetItemWithError(record, key);
        if (value == nullptr && !PyErr_Occurred()) {
            PyErr_SetObject(PyExc_KeyError, key);
        }
        return Ref::borrow(value);
    }
    // Arbitrary code may run here (__getitem__, __missing__).
    return Ref::steal(PyObject_GetItem(record, key));
}

} // namespace tessavor::tracker
