// Compile-time checks that the Windows build sees the interpreter as
// python310.dll does. The sizes of the C types follow from pyconfig.h; the
// layouts are the ones the official 64-bit CPython 3.10 reports for its own
// types (type.__basicsize__, __dictoffset__, __weakrefoffset__ and so on),
// for every structure the module reads or fills in directly.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <frameobject.h>
#include <stddef.h>

static_assert(sizeof(void *) == SIZEOF_VOID_P && SIZEOF_VOID_P == 8, "64-bit pointers");
static_assert(sizeof(size_t) == SIZEOF_SIZE_T && SIZEOF_SIZE_T == 8, "64-bit size_t");
static_assert(sizeof(Py_ssize_t) == 8 && sizeof(Py_hash_t) == 8, "64-bit sizes and hashes");
static_assert(sizeof(long) == SIZEOF_LONG && SIZEOF_LONG == 4, "LLP64: long is 32-bit");
static_assert(sizeof(int) == SIZEOF_INT && sizeof(short) == SIZEOF_SHORT, "int and short");
static_assert(sizeof(long long) == SIZEOF_LONG_LONG, "long long");
static_assert(sizeof(wchar_t) == SIZEOF_WCHAR_T && SIZEOF_WCHAR_T == 2, "UTF-16 wchar_t");
static_assert(sizeof(time_t) == SIZEOF_TIME_T, "time_t");
static_assert(PyLong_SHIFT == 30 && sizeof(digit) == 4, "30-bit long digits");

// object.__basicsize__, int, tuple, list, dict, str, BaseException
static_assert(sizeof(PyObject) == 16 && sizeof(PyVarObject) == 24, "object header");
static_assert(offsetof(PyLongObject, ob_digit) == 24, "int layout");
static_assert(offsetof(PyTupleObject, ob_item) == 24, "tuple layout");
static_assert(sizeof(PyListObject) == 40, "list layout");
static_assert(sizeof(PyDictObject) == 48, "dict layout");
static_assert(sizeof(PyUnicodeObject) == 80, "str layout");
static_assert(sizeof(PyBaseExceptionObject) == 64, "exception layout");

// type: basic size, __dictoffset__, __weakrefoffset__; the slot the module's
// own type is found through.
static_assert(sizeof(PyHeapTypeObject) == 888, "type layout");
static_assert(offsetof(PyTypeObject, tp_dict) == 264, "type.__dictoffset__");
static_assert(offsetof(PyTypeObject, tp_weaklist) == 368, "type.__weakrefoffset__");

// function (the model of the method objects), code, frame, traceback, method
static_assert(sizeof(PyFunctionObject) == 128, "function layout");
static_assert(offsetof(PyFunctionObject, func_dict) == 88, "function.__dictoffset__");
static_assert(offsetof(PyFunctionObject, func_weakreflist) == 96, "function.__weakrefoffset__");
static_assert(sizeof(PyCodeObject) == 176, "code layout");
static_assert(offsetof(PyCodeObject, co_weakreflist) == 136, "code.__weakrefoffset__");
static_assert(sizeof(PyFrameObject) == 360, "frame layout");
static_assert(sizeof(PyTracebackObject) == 40, "traceback layout");
static_assert(sizeof(PyMethodObject) == 48, "method layout");
