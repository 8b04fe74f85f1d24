#include "tracker/gazu_call.hpp"

#include "module/errors.hpp"
#include "module/traceback.hpp"
#include "module/versions.hpp"

namespace tessavor::tracker {

namespace {

// Remembers `value` if `dict` holds it under `name` now.
void remember(DictRead &memo, PyObject *dict, PyObject *name, PyObject *value)
{
    PyObject *held = PyDict_GetItemWithError(dict, name);
    if (held == value && versions::follow_dict(dict)) {
        memo = DictRead{dict, versions::dict_stamp(dict), value};
    } else {
        memo.value = nullptr;
        PyErr_Clear();
    }
}

// `owner.name`. For an exact module the attribute is the item of its
// dictionary, which is remembered while that dictionary is unchanged.
Ref attribute(PyObject *owner, PyObject *name, DictRead &memo)
{
    if (!PyModule_CheckExact(owner)) {
        return Ref::steal(PyObject_GetAttr(owner, name));
    }
    PyObject *dict = exact_module_dict(owner);
    if (PyObject *value = remembered(memo, dict)) {
        return Ref::borrow(value);
    }
    // Arbitrary code may run here (a module-level __getattr__).
    Ref value = Ref::steal(PyObject_GetAttr(owner, name));
    if (value) {
        remember(memo, dict, name, value.get());
    }
    return value;
}

} // namespace

DictRead gazu_read;

GazuChain get_project_by_name = {&Names::project, &Names::get_project_by_name, {}, {}};

Ref module_global(PyObject *name, DictRead &memo)
{
    if (PyObject *value = remembered(memo, state.module_dict)) {
        return Ref::borrow(value);
    }
    PyObject *value = PyDict_GetItemWithError(state.module_dict, name);
    if (value != nullptr) {
        if (versions::follow_dict(state.module_dict)) {
            memo = DictRead{state.module_dict, versions::dict_stamp(state.module_dict), value};
        }
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

namespace {

// The callee of `chain`, read through every dictionary again (and
// remembered where it can be).
Ref read_gazu_function(GazuChain &chain)
{
    Ref owner = module_global(names.gazu, gazu_read);
    if (owner && chain.submodule != nullptr) {
        owner = attribute(owner.get(), names.*chain.submodule, chain.submodule_read);
    }
    if (!owner) {
        return owner;
    }
    return attribute(owner.get(), names.*chain.function, chain.function_read);
}

} // namespace

Ref gazu_function(GazuChain &chain)
{
    if (PyObject *callee = remembered_callee(chain)) {
        return Ref::borrow(callee);
    }
    return read_gazu_function(chain);
}

Ref call_gazu_afresh(GazuChain &chain, PyObject *const *args, size_t nargs, const char *funcname,
                     int line)
{
    // call_gazu() found nothing remembered.
    Ref callee = read_gazu_function(chain);
    Ref result = callee ? call_positional(callee.get(), args, nargs) : Ref();
    if (!result) {
        add_traceback(funcname, line);
    }
    return result;
}

PyObject *exact_dict_item(PyObject *dict, PyObject *key)
{
    PyObject *value = PyDict_GetItemWithError(dict, key);
    if (value == nullptr && !PyErr_Occurred()) {
        PyErr_SetObject(PyExc_KeyError, key);
    }
    return value;
}

Ref record_item(PyObject *record, PyObject *key)
{
    if (PyDict_CheckExact(record)) {
        return Ref::borrow(exact_dict_item(record, key));
    }
    // Arbitrary code may run here (__getitem__, __missing__).
    return Ref::steal(PyObject_GetItem(record, key));
}

} // namespace tessavor::tracker
