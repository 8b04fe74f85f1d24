// The function type of Prod's method objects: a vectorcall function that
// binds to instances like a plain Python function and shows the attributes
// that introspection (inspect.signature, pickle) reads.
#ifndef TESSAVOR_MODULE_FUNCTION_TYPE_HPP
#define TESSAVOR_MODULE_FUNCTION_TYPE_HPP

#include "module/method_table.hpp"

namespace tessavor {

// Readies the type; harmless when it is ready already.
int ready_function_type();

// A new method object for one entry of the method table, or null. `doc` may
// be null (no docstring).
PyObject *new_method_function(const MethodSpec &method, PyObject *globals, PyObject *code,
                              PyObject *doc);

} // namespace tessavor

#endif
