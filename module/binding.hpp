// The one binding rule of every method: positional values, then keywords
// matched to the remaining parameters, with CPython-style TypeErrors.
#ifndef TESSAVOR_MODULE_BINDING_HPP
#define TESSAVOR_MODULE_BINDING_HPP

#include "module/method_table.hpp"

namespace tessavor {

// Fills values[0 .. argcount-1] with borrowed references taken from `args`
// and returns 0; or raises TypeError (or the error of a keyword comparison),
// adds the method's binding entry, and returns -1. Allocates nothing on
// success.
int bind_arguments(const MethodSpec &method, PyObject *const *args, Py_ssize_t nargs,
                   PyObject *kwnames, PyObject **values);

} // namespace tessavor

#endif
