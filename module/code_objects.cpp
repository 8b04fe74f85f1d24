#include "module/code_objects.hpp"

#include "module/method_table.hpp"

namespace tessavor {

namespace {

constexpr int kCodeFlags = CO_OPTIMIZED | CO_NEWLOCALS;

PyObject *make_varnames(const MethodSpec &method)
{
    PyObject *varnames = PyTuple_New(method.nvarnames);
    if (varnames == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < method.nvarnames; ++i) {
        PyObject *name = names.*method.varnames[i];
        Py_INCREF(name);
        PyTuple_SET_ITEM(varnames, i, name);
    }
    return varnames;
}

} // namespace

int create_code_objects()
{
    PyObject *filename = PyUnicode_FromString(TESSAVOR_CODE_FILENAME);
    if (filename == nullptr) {
        return -1;
    }
    replace_slot(state.code_filename, filename);
    for (const MethodSpec &method : kMethods) {
        PyObject *varnames = make_varnames(method);
        if (varnames == nullptr) {
            return -1;
        }
        replace_slot(state.varnames[method.index], varnames);
        PyCodeObject *code = PyCode_NewWithPosOnlyArgs(
            method.argcount, 0, 0, method.nvarnames, 0, kCodeFlags, state.empty_bytes,
            state.empty_tuple, state.empty_tuple, varnames, state.empty_tuple, state.empty_tuple,
            filename, names.*method.name_str, method.first_line, state.empty_bytes);
        if (code == nullptr) {
            return -1;
        }
        // The constructor adds CO_NOFREE on its own; the methods show exactly
        // "optimized, new locals".
        code->co_flags = kCodeFlags;
        replace_slot(state.code[method.index], reinterpret_cast<PyObject *>(code));
    }
    return 0;
}

} // namespace tessavor
