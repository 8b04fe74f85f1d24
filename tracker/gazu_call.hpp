// The one boundary through which every call into gazu goes, and the module
// global lookup it (and load_json's `json`) relies on.
//
// Every read is made afresh at each use; what is remembered between calls is
// only ever used while the dictionary it was read from is unchanged (same
// dictionary version), so a rebinding is seen at the very next use.
#ifndef TESSAVOR_TRACKER_GAZU_CALL_HPP
#define TESSAVOR_TRACKER_GAZU_CALL_HPP

#include <stdint.h>

#include "module/names.hpp"
#include "module/state.hpp"
#include "module/traceback.hpp"
#include "module/versions.hpp"

namespace tessavor::tracker {

// A value read from a dictionary, and that dictionary's version then.
struct DictRead {
    PyObject *dict;
    uint64_t version;
    PyObject *value; // borrowed: the unchanged dictionary holds it
};

// A module global: the module's dictionary, then the builtins; NameError
// when neither has it.
Ref module_global(PyObject *name, DictRead &memo);

// One call site's callee, `gazu.<function>` or `gazu.<submodule>.<function>`.
struct GazuChain {
    PyObject *Names::*submodule; // null for gazu.<function>
    PyObject *Names::*function;
    DictRead submodule_read;
    DictRead function_read;
};

// The callee of `chain`, fetched before its arguments are evaluated. Null
// with the error set on failure.
Ref gazu_function(GazuChain &chain);

// Calls a fetched function with positional arguments only.
inline Ref call_positional(PyObject *function, PyObject *const *args, size_t nargs)
{
    // Arbitrary code runs here; nothing read before it is trusted after.
    return Ref::steal(PyObject_Vectorcall(function, args, nargs, nullptr));
}

// `gazu`, as read from the module's globals.
extern DictRead gazu_read;

// An exact module's dictionary, read where the module type says its
// instances keep it (tp_dictoffset, on every version right after the object
// header) instead of through a call of PyModule_GetDict.
inline PyObject *exact_module_dict(PyObject *module)
{
    assert(PyModule_CheckExact(module) && PyModule_Type.tp_dictoffset > 0);
    PyObject *dict = *reinterpret_cast<PyObject **>(reinterpret_cast<char *>(module) +
                                                    PyModule_Type.tp_dictoffset);
    assert(dict == PyModule_GetDict(module));
    return dict;
}

// What `memo` read, borrowed, while `dict` is the dictionary it was read
// from and unchanged since; null otherwise.
inline PyObject *remembered(const DictRead &memo, PyObject *dict)
{
    return memo.value != nullptr && memo.dict == dict && memo.version == versions::dict_stamp(dict)
               ? memo.value
               : nullptr;
}

// The callee of `chain` while every dictionary it was read through is
// unchanged, borrowed: the remembered reads alone, no code runs; null when
// it must be read afresh.
inline PyObject *remembered_callee(const GazuChain &chain)
{
    PyObject *owner = remembered(gazu_read, state.module_dict);
    if (owner == nullptr || !PyModule_CheckExact(owner)) {
        return nullptr;
    }
    if (chain.submodule != nullptr) {
        owner = remembered(chain.submodule_read, exact_module_dict(owner));
        if (owner == nullptr || !PyModule_CheckExact(owner)) {
            return nullptr;
        }
    }
    return remembered(chain.function_read, exact_module_dict(owner));
}

// call_gazu when the callee is not remembered: read afresh, then called.
Ref call_gazu_afresh(GazuChain &chain, PyObject *const *args, size_t nargs, const char *funcname,
                     int line);

// `gazu.<submodule>.<function>(*args)` as one statement: on failure adds the
// entry of `funcname` at `line`. The arguments are already evaluated. The
// remembered callee is called here, in the method's own body: that is all a
// one-statement method does, and a call less is a tenth of its cost.
inline Ref call_gazu(GazuChain &chain, PyObject *const *args, size_t nargs, const char *funcname,
                     int line)
{
    PyObject *callee = remembered_callee(chain);
    if (callee == nullptr) {
        return call_gazu_afresh(chain, args, nargs, funcname, line);
    }
    // The call may drop the dictionaries' references to the callee.
    Ref held = Ref::borrow(callee);
    Ref result = call_positional(callee, args, nargs);
    if (!result) {
        add_traceback(funcname, line);
    }
    return result;
}

// gazu.project.get_project_by_name: the lookup and the breakdowns share it.
extern GazuChain get_project_by_name;

// `dict[key]` for an exact dict, borrowed; KeyError with the key when it is
// missing.
PyObject *exact_dict_item(PyObject *dict, PyObject *key);

// `record[key]`: an exact dict directly (KeyError with the key when it is
// missing), anything else through the item protocol.
Ref record_item(PyObject *record, PyObject *key);

} // namespace tessavor::tracker

#endif
