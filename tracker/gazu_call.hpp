// The one boundary through which every call into gazu goes, and the module
// global lookup it (and load_json's `json`) relies on.
#ifndef TESSAVOR_TRACKER_GAZU_CALL_HPP
#define TESSAVOR_TRACKER_GAZU_CALL_HPP

#include "module/names.hpp"
#include "module/state.hpp"

namespace tessavor::tracker {

// A module global read afresh: the module's dictionary, then the builtins;
// NameError when neither has it.
Ref module_global(PyObject *name);

// `gazu.<function>` or `gazu.<submodule>.<function>` (submodule may be
// null), read afresh: the callee, fetched before its arguments are
// evaluated. Null with the error set on failure.
Ref gazu_function(PyObject *submodule, PyObject *function);

// Calls a fetched gazu function with positional arguments only.
inline Ref call_positional(PyObject *function, PyObject *const *args, size_t nargs)
{
    // Arbitrary code runs here; nothing read before it is trusted after.
    return Ref::steal(PyObject_Vectorcall(function, args, nargs, nullptr));
}

// `gazu.<submodule>.<function>(*args)` as one statement: on failure adds the
// entry of `funcname` at `line`. The arguments are already evaluated.
Ref call_gazu(PyObject *submodule, PyObject *function, PyObject *const *args, size_t nargs,
              const char *funcname, int line);

// `record[key]`: an exact dict directly (KeyError with the key when it is
// missing), anything else through the item protocol.
Ref record_item(PyObject *record, PyObject *key);

} // namespace tessavor::tracker

#endif
