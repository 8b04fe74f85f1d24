#include "module/class_assembly.hpp"

#include "module/function_type.hpp"
#include "module/traceback.hpp"

namespace tessavor {

namespace {

constexpr int kClassLine = 4;

} // namespace

int build_class(const char *init_funcname)
{
    Ref ns = Ref::steal(PyDict_New());
    if (!ns) {
        return fail_status(init_funcname, kClassLine);
    }
    if (PyObject_SetItem(ns.get(), names.dunder_module, names.tessavor_prod) < 0 ||
        PyObject_SetItem(ns.get(), names.dunder_qualname, names.Prod) < 0) {
        return fail_status(init_funcname, kClassLine);
    }
    for (const MethodSpec &method : kMethods) {
        Ref doc;
        if (method.doc != nullptr) {
            doc = Ref::steal(PyUnicode_FromString(method.doc));
            if (!doc) {
                return fail_status(init_funcname, method.first_line);
            }
        }
        Ref function = Ref::steal(new_method_function(method, state.module_dict,
                                                      state.code[method_index(method)], doc.get()));
        if (!function || PyObject_SetItem(ns.get(), names.*method.name_str, function.get()) < 0) {
            return fail_status(init_funcname, method.first_line);
        }
    }
    Ref cls =
        Ref::steal(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject *>(&PyType_Type),
                                                names.Prod, state.empty_tuple, ns.get(), nullptr));
    if (!cls || PyDict_SetItem(state.module_dict, names.Prod, cls.get()) < 0) {
        return fail_status(init_funcname, kClassLine);
    }
    // The module owns the class until the process ends, whatever becomes of
    // its global `Prod`.
    Py_XSETREF(state.prod_class, cls.release());
    return 0;
}

} // namespace tessavor
