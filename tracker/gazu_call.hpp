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

// `gazu.<submodule>.<function>(*args)` as one statement: on failure adds the
// entry of `funcname` at `line`. The arguments are already evaluated.
Ref call_gazu(GazuChain &chain, PyObject *const *args, size_t nargs, const char *funcname,
              int line);

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
