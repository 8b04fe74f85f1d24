#include "module/errors.hpp"

#include <stdarg.h>

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

void fetch_normalized(PyObject **type, PyObject **value, PyObject **tb)
{
    PyErr_Fetch(type, value, tb);
    PyErr_NormalizeException(type, value, tb);
    if (*value == nullptr) {
        Py_INCREF(Py_None);
        *value = Py_None;
    }
    if (*tb != nullptr && PyExceptionInstance_Check(*value)) {
        PyException_SetTraceback(*value, *tb);
    }
}

int raise_format(PyObject *type, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    PyObject *message = PyUnicode_FromFormatV(format, args);
    va_end(args);
    return raise_with(type, message);
}

} // namespace tessavor
