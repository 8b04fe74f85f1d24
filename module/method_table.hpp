// The one table of Prod's eleven methods. Code objects, class assembly,
// argument binding and traceback names all read it.
#ifndef TESSAVOR_MODULE_METHOD_TABLE_HPP
#define TESSAVOR_MODULE_METHOD_TABLE_HPP

#include "module/names.hpp"
#include "module/state.hpp"

namespace tessavor {

constexpr int kMaxParameters = 3;
constexpr int kMaxVarnames = 6;

struct MethodSpec;

// A method body: receives its own table entry (for its traceback name and
// lines) and exactly one borrowed value per parameter, and returns a new
// reference, or null with an exception set and its traceback entry already
// added.
using Body = PyObject *(*)(const MethodSpec &method, PyObject *const *args);

struct MethodSpec {
    const char *name;           // in binding messages: "get_shots"
    const char *traceback_name; // "tessavor.prod.Prod.get_shots"
    PyObject *Names::*name_str;
    PyObject *Names::*qualname_str;
    int first_line; // of its `def`: binding failures report it
    int argcount;
    int nvarnames;
    PyObject *Names::*varnames[kMaxVarnames]; // parameters, then further locals
    const char *doc;                          // null when the method has none
    Body body;
};

extern const MethodSpec kMethods[kMethodCount];

// A method's position in the table, and of its code object in state.code.
inline Py_ssize_t method_index(const MethodSpec &method)
{
    return &method - kMethods;
}

// The line of a statement `offset` lines below a method's `def` line.
inline int line_of(const MethodSpec &method, int offset)
{
    return method.first_line + offset;
}

// Interned parameter name i of a method.
inline PyObject *parameter_name(const MethodSpec &method, int i)
{
    return names.*method.varnames[i];
}

} // namespace tessavor

#endif
