#include "module/code_objects.hpp"

#include "module/method_table.hpp"
#include "module/versions.hpp"

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
        PyTuple_SET_ITEM(varnames, i, Py_NewRef(names.*method.varnames[i]));
    }
    return varnames;
}

} // namespace

int create_code_objects()
{
    Ref filename = Ref::steal(PyUnicode_FromString(TESSAVOR_CODE_FILENAME));
    if (!filename) {
        return -1;
    }
    for (const MethodSpec &method : kMethods) {
        Ref varnames = Ref::steal(make_varnames(method));
        if (!varnames) {
            return -1;
        }
        PyCodeObject *code = versions::new_code(
            method.argcount, method.nvarnames, kCodeFlags, state.empty_bytes, state.empty_tuple,
            varnames.get(), filename.get(), names.*method.name_str, names.*method.qualname_str,
            method.first_line);
        if (code == nullptr) {
            return -1;
        }
        // The constructor may add flags of its own (CO_NOFREE up to 3.10); the
        // methods show exactly "optimized, new locals".
        code->co_flags = kCodeFlags;
        Py_XSETREF(state.code[method_index(method)], reinterpret_cast<PyObject *>(code));
    }
    return 0;
}

} // namespace tessavor
