// Compile-time checks that the Windows build sees the interpreter as
// python313.dll does. Each number is the official 64-bit CPython 3.13.2's,
// as windows/layout_probe.py reads it from that interpreter under wine
// (type.__basicsize__, __dictoffset__, __weakrefoffset__, and the offset
// of a value planted in an object), for every structure the module reads or
// fills in directly (windows/c_types.cpp checks the C types). `make
// check-windows` runs the probe again and compares.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <stddef.h>

// Object headers; int, tuple, list, set, dict, str and exception objects. 3.12
// puts an int's digits in a struct of their own and drops the wchar_t copy
// from str objects.
static_assert(sizeof(PyObject) == 16 && sizeof(PyVarObject) == 24, "object header");
static_assert(offsetof(PyLongObject, long_value.ob_digit) == 24, "int layout");
static_assert(offsetof(PyTupleObject, ob_item) == 24, "tuple layout");
static_assert(sizeof(PyListObject) == 40 && offsetof(PyListObject, ob_item) == 24, "list layout");
static_assert(sizeof(PySetObject) == 200 && offsetof(PySetObject, used) == 24 &&
                  offsetof(PySetObject, weakreflist) == 192,
              "set layout");
// The module follows a dict's changes through a watcher from 3.12, never
// through its version tag.
static_assert(sizeof(PyDictObject) == 48, "dict layout");
static_assert(sizeof(PyUnicodeObject) == 64 && sizeof(PyASCIIObject) == 40 &&
                  sizeof(PyCompactUnicodeObject) == 56,
              "str layout");
// 3.11 adds the notes (__notes__) to every exception.
static_assert(sizeof(PyBaseExceptionObject) == 72, "exception layout");

// The handled exception, set by the module in the thread state's innermost
// item, which from 3.11 holds only the exception value.
static_assert(offsetof(PyThreadState, exc_info) == 120 &&
                  offsetof(_PyErr_StackItem, exc_value) == 0,
              "thread state layout");

// type: basic size, __dictoffset__, __weakrefoffset__; the module fills in its
// own static type.
static_assert(sizeof(PyHeapTypeObject) == 928, "type layout");
static_assert(offsetof(PyTypeObject, tp_dict) == 264, "type.__dictoffset__");
static_assert(offsetof(PyTypeObject, tp_weaklist) == 368, "type.__weakrefoffset__");

// function (the model of the method objects), code, traceback, method. The
// frame object's struct is private from 3.11; the module only creates frames
// through PyFrame_New. A code object ends in its code units, which start at
// the type's basic size.
static_assert(sizeof(PyFunctionObject) == 144, "function layout");
static_assert(offsetof(PyFunctionObject, func_dict) == 88, "function.__dictoffset__");
static_assert(offsetof(PyFunctionObject, func_weakreflist) == 96, "function.__weakrefoffset__");
static_assert(offsetof(PyCodeObject, co_code_adaptive) == 200, "code layout");
static_assert(offsetof(PyCodeObject, co_weakreflist) == 144, "code.__weakrefoffset__");
static_assert(offsetof(PyCodeObject, co_flags) == 48, "code flags, set by the module");
static_assert(sizeof(PyTracebackObject) == 40, "traceback layout");
static_assert(sizeof(PyMethodObject) == 48, "method layout");
