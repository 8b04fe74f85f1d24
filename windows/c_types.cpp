// Compile-time checks that the C types are what windows/pyconfig.h states
// and what the official 64-bit CPython 3.10 to 3.13 for Windows have
// (struct.calcsize under wine, as windows/layout_probe.py reads them; `make
// check-windows` compares). Each version's structure layouts are checked in
// its own abi_check.cpp.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

// The C types, as pyconfig.h states them and the compiler has them.
static_assert(sizeof(void *) == 8 && SIZEOF_VOID_P == sizeof(void *), "64-bit pointers");
static_assert(sizeof(size_t) == 8 && SIZEOF_SIZE_T == sizeof(size_t), "64-bit size_t");
static_assert(sizeof(Py_ssize_t) == 8 && sizeof(Py_hash_t) == 8, "64-bit sizes and hashes");
static_assert(PY_SSIZE_T_MAX == (Py_ssize_t)(((size_t)-1) >> 1) &&
                  PY_SSIZE_T_MIN == -PY_SSIZE_T_MAX - 1, "the limits of Py_ssize_t");
static_assert(sizeof(long) == 4 && SIZEOF_LONG == sizeof(long), "LLP64: long is 32-bit");
static_assert(sizeof(int) == 4 && SIZEOF_INT == sizeof(int), "int");
static_assert(sizeof(short) == 2 && SIZEOF_SHORT == sizeof(short), "short");
static_assert(sizeof(long long) == 8 && SIZEOF_LONG_LONG == sizeof(long long), "long long");
static_assert(sizeof(wchar_t) == 2 && SIZEOF_WCHAR_T == sizeof(wchar_t), "UTF-16 wchar_t");
static_assert(sizeof(time_t) == SIZEOF_TIME_T, "time_t");
static_assert(PyLong_SHIFT == 30 && sizeof(digit) == 4, "30-bit long digits");
