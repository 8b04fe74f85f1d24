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

FetchedError::FetchedError(Form form) noexcept
{
    versions::fetch_pending(&type_, &value_, &tb_);
    if (form == kAsIs) {
        return;
    }
    versions::normalize_pending(&type_, &value_, &tb_);
    if (value_ == nullptr) {
        value_ = Py_NewRef(Py_None);
    }
    if (tb_ != nullptr && PyExceptionInstance_Check(value_)) {
        PyException_SetTraceback(value_, tb_);
    }
}

FetchedError::~FetchedError()
{
    Py_XDECREF(type_);
    Py_XDECREF(value_);
    Py_XDECREF(tb_);
}

void FetchedError::restore() noexcept
{
    versions::restore_pending(type_, value_, tb_);
    type_ = value_ = tb_ = nullptr;
}

} // namespace tessavor
