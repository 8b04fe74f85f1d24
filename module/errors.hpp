// Raising exceptions with a message. PyErr_Format and PyErr_SetString
// replace a MemoryError met while building the message with a bare exception
// of the requested type; these keep the MemoryError instead.
#ifndef TESSAVOR_MODULE_ERRORS_HPP
#define TESSAVOR_MODULE_ERRORS_HPP

#include "module/ref.hpp"

namespace tessavor {

// Both always return -1, with an exception set.
int raise_message(PyObject *type, const char *message);
int raise_format(PyObject *type, const char *format, ...);

// Takes the pending exception as new references, normalised (the value is
// an exception instance, or None if even that failed) with its traceback
// attached to the value, as an `except` clause sees it.
void fetch_normalized(PyObject **type, PyObject **value, PyObject **tb);

} // namespace tessavor

#endif
