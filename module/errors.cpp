#include "module/errors.hpp"

#include <stdarg.h>

#include "module/versions.hpp"

namespace tessavor {

namespace {

int raise_with(PyObject *type, PyObject *message)
{
    if (message != nullptr) {
        PyErr_SetObject(type, message);
        Py_DECREF(message);
    }
    return -1;
}

} // namespace

int raise_message(PyObject *type, const char *message)
{
    return raise_with(type, PyUnicode_FromString(message));
}

int raise_format(PyObject *type, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    PyObject *message = PyUnicode_FromFormatV(format, args);
    va_end(args);
    return raise_with(type, message);
}

FetchedError::FetchedError() noexcept : exc_(Ref::steal(PyErr_GetRaisedException())) {}

void FetchedError::restore() noexcept
{
    PyErr_SetRaisedException(exc_.release());
}

} // namespace tessavor
