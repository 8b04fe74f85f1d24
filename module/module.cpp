// The module definition, its entry point, and the create and exec steps of
// multi-phase initialisation.
#include "module/errors.hpp"
#include "module/class_assembly.hpp"
#include "module/code_objects.hpp"
#include "module/function_type.hpp"
#include "module/names.hpp"
#include "module/state.hpp"
#include "module/traceback.hpp"
#include "module/versions.hpp"

namespace tessavor {

namespace {

// The module's own traceback entries: its top-level statements' lines.
const char kInitFuncname[] = "init tessavor.prod";
constexpr int kGazuLine = 1; // import gazu; also what the other top-level steps report
constexpr int kJsonLine = 2; // import json

// Reads up to four dot-separated numbers from the start of a version text.
// A number saturates instead of overflowing.
void parse_version(const char *text, int numbers[4])
{
    for (int i = 0; i < 4; ++i) {
        numbers[i] = 0;
    }
    for (int i = 0; i < 4; ++i) {
        int value = 0;
        while (*text >= '0' && *text <= '9') {
            value = value > 100000000 ? value : value * 10 + (*text - '0');
            ++text;
        }
        numbers[i] = value;
        if (*text != '.') {
            break;
        }
        ++text;
    }
}

int check_version()
{
    int runtime[4];
    parse_version(Py_GetVersion(), runtime);
    if (runtime[0] == PY_MAJOR_VERSION && runtime[1] == PY_MINOR_VERSION) {
        return 0;
    }
    char message[200];
    PyOS_snprintf(message, sizeof message,
                  "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                  PY_MAJOR_VERSION, PY_MINOR_VERSION, "tessavor.prod", "does not match", runtime[0],
                  runtime[1]);
    return PyErr_WarnEx(nullptr, message, 1);
}

// Copies one attribute of the spec into the module's dictionary. A missing
// attribute leaves the key as it is; None is stored unless `skip_none`.
int copy_spec_attribute(PyObject *spec, PyObject *dict, const char *from, const char *to,
                        bool skip_none)
{
    Ref value = Ref::steal(PyObject_GetAttrString(spec, from));
    if (!value) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            return 0;
        }
        return -1;
    }
    if (skip_none && value.get() == Py_None) {
        return 0;
    }
    return PyDict_SetItemString(dict, to, value.get());
}

PyObject *create_module(PyObject *spec, PyModuleDef *)
{
    int64_t id = PyInterpreterState_GetID(PyThreadState_GetInterpreter(PyThreadState_Get()));
    if (id == -1) {
        return nullptr;
    }
    if (!state.has_interpreter_id) {
        state.has_interpreter_id = true;
        state.interpreter_id = id;
    } else if (id != state.interpreter_id) {
        raise_message(PyExc_ImportError, "Interpreter change detected - this module can only be "
                                         "loaded into one interpreter per process.");
        return nullptr;
    }
    if (state.module != nullptr) {
        return Py_NewRef(state.module);
    }
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) {
        return nullptr;
    }
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    if (!module) {
        return nullptr;
    }
    PyObject *dict = PyModule_GetDict(module.get());
    if (copy_spec_attribute(spec, dict, "loader", "__loader__", false) < 0 ||
        copy_spec_attribute(spec, dict, "origin", "__file__", false) < 0 ||
        copy_spec_attribute(spec, dict, "parent", "__package__", false) < 0 ||
        copy_spec_attribute(spec, dict, "submodule_search_locations", "__path__", true) < 0) {
        return nullptr;
    }
    return module.release();
}

// Imports a top-level module the way the module's own `import` lines do:
// an initialised entry of sys.modules is used as it is.
Ref import_top_level(PyObject *name)
{
    Ref entry = Ref::steal(PyImport_GetModule(name));
    if (!entry && PyErr_Occurred()) {
        PyErr_Clear();
    }
    if (entry && entry.get() != Py_None) {
        Ref spec = Ref::steal(PyObject_GetAttr(entry.get(), names.dunder_spec));
        if (!spec) {
            PyErr_Clear();
            return entry;
        }
        Ref initializing = Ref::steal(PyObject_GetAttr(spec.get(), names.initializing));
        if (!initializing) {
            PyErr_Clear();
            return entry;
        }
        int busy = PyObject_IsTrue(initializing.get());
        if (busy <= 0) {
            PyErr_Clear();
            return entry;
        }
    }
    Ref locals = Ref::steal(PyDict_New());
    if (!locals) {
        return locals;
    }
    return Ref::steal(
        PyImport_ImportModuleLevelObject(name, state.module_dict, locals.get(), nullptr, 0));
}

// Stores `value` as the module's global `key`; an empty `value` is the
// failure (set) of what was to make it.
int store_global(PyObject *key, Ref value)
{
    assert(state.module_dict != nullptr);
    if (!value) {
        return -1;
    }
    return PyDict_SetItem(state.module_dict, key, value.get());
}

int make_constants()
{
    PyObject *tuple = PyTuple_New(0);
    if (tuple == nullptr) {
        return -1;
    }
    Py_XSETREF(state.empty_tuple, tuple);
    PyObject *bytes = PyBytes_FromStringAndSize(nullptr, 0);
    if (bytes == nullptr) {
        return -1;
    }
    Py_XSETREF(state.empty_bytes, bytes);
    return 0;
}

int fetch_open()
{
    Ref open = Ref::steal(PyObject_GetAttr(state.builtins, names.open));
    if (!open) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            return -1;
        }
        PyErr_Clear();
        raise_format(PyExc_NameError, "name '%U' is not defined", names.open);
        return -1;
    }
    Py_XSETREF(state.open, open.release());
    return 0;
}

int make_none3()
{
    PyObject *none3 = PyTuple_Pack(3, Py_None, Py_None, Py_None);
    if (none3 == nullptr) {
        return -1;
    }
    Py_XSETREF(state.none3, none3);
    return 0;
}

// The module's top-level statements, once the constant strings exist. On
// failure adds the "init tessavor.prod" entry of the failing statement.
int run_top_level()
{
    PyObject *modules = PyImport_GetModuleDict();
    PyObject *existing = PyDict_GetItemWithError(modules, names.tessavor_prod);
    if (existing == nullptr) {
        if (PyErr_Occurred() || PyDict_SetItem(modules, names.tessavor_prod, state.module) < 0) {
            return fail_status(kInitFuncname, kGazuLine);
        }
    }
    if (fetch_open() < 0 || make_none3() < 0 || create_code_objects() < 0) {
        return fail_status(kInitFuncname, kGazuLine);
    }
    if (store_global(names.gazu, import_top_level(names.gazu)) < 0) {
        return fail_status(kInitFuncname, kGazuLine);
    }
    if (store_global(names.json, import_top_level(names.json)) < 0) {
        return fail_status(kInitFuncname, kJsonLine);
    }
    if (build_class(kInitFuncname) < 0) {
        return -1; // the entry is already added
    }
    if (store_global(names.dunder_test, Ref::steal(PyDict_New())) < 0) {
        return fail_status(kInitFuncname, kGazuLine);
    }
    return 0;
}

int exec_failed()
{
    Py_CLEAR(state.module);
    return -1;
}

int exec_module(PyObject *module)
{
    if (state.module != nullptr) {
        if (state.module == module) {
            return 0;
        }
        raise_message(PyExc_RuntimeError,
                      "Module 'prod' has already been imported. Re-initialisation is not "
                      "supported.");
        return -1;
    }
    state.module = Py_NewRef(module);
    PyObject *dict = PyModule_GetDict(module);
    Py_XSETREF(state.module_dict, Py_NewRef(dict));

    PyObject *builtins = PyImport_AddModule("builtins");
    if (builtins == nullptr) {
        return exec_failed();
    }
    Py_XSETREF(state.builtins, Py_NewRef(builtins));
    if (PyDict_SetItemString(dict, "__builtins__", builtins) < 0 || check_version() < 0 ||
        make_constants() < 0 || ready_function_type() < 0 || create_names() < 0) {
        return exec_failed();
    }

    if (run_top_level() < 0) {
        return exec_failed();
    }
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void *>(create_module)},
    {Py_mod_exec, reinterpret_cast<void *>(exec_module)},
    TESSAVOR_VERSION_MODULE_SLOTS
    {0, nullptr},
};

PyMethodDef module_functions[] = {
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "prod",           // m_name
    nullptr,          // m_doc
    0,                // m_size
    module_functions, // m_methods
    module_slots,     // m_slots
    nullptr,          // m_traverse
    nullptr,          // m_clear
    nullptr,          // m_free
};

} // namespace

} // namespace tessavor

PyMODINIT_FUNC PyInit_prod(void)
{
    return PyModuleDef_Init(&tessavor::module_def);
}
