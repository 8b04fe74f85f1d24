// The one table of Prod's eleven methods. Code objects, class assembly,
// argument binding and traceback names all read it.
#ifndef TESSAVOR_MODULE_METHOD_TABLE_HPP
#define TESSAVOR_MODULE_METHOD_TABLE_HPP

#include "module/names.hpp"
#include "module/state.hpp"

namespace tessavor {

constexpr int kMaxParameters = 3;
constexpr int kMaxVarnames = 6;

// A method body: receives exactly one borrowed value per parameter and
// returns a new reference, or null with an exception set and its traceback
// entry already added.
using Body = PyObject *(*)(PyObject *const *args);

struct MethodSpec {
    int index;                  // position in the table and in state.code
    const char *name;           // in binding messages: "get_shots"
    const char *traceback_name; // "tessavor.prod.Prod.get_shots"
    PyObject *Names::*name_str;
    PyObject *Names::*qualname_str;
    int first_line;
    int argcount;
    int nvarnames;
    PyObject *Names::*varnames[kMaxVarnames]; // parameters, then further locals
    const char *doc;                          // null when the method has none
    Body body;
};

extern const MethodSpec kMethods[kMethodCount];

// Interned parameter name i of a method.
inline PyObject *parameter_name(const MethodSpec &method, int i)
{
    return names.*method.varnames[i];
}

} // namespace tessavor

#endif
