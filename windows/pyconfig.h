/* pyconfig.h for building extension modules of the official 64-bit Windows
   CPython 3.10 to 3.13 with a GNU cross compiler (mingw-w64).

   The interpreter is built by MSVC, and the pyconfig.h it ships with keys
   its 64-bit definitions on _MSC_VER, so under g++ it would describe a
   32-bit target. This one states, for any compiler, what their headers
   consult: x86-64 with LLP64 sizes (long 4 bytes, wchar_t 2), the core in
   python3XX.dll. Each version's abi_check.cpp checks these against the
   compiler and the interpreter's own type sizes. */
#ifndef Py_CONFIG_H
#define Py_CONFIG_H

#if !defined(_WIN64) || !defined(__x86_64__)
#error "this pyconfig.h is for 64-bit Windows (x86-64) targets only"
#endif

/* Python.h includes patchlevel.h first; included here too, the version
   is known wherever this file is. */
#include "patchlevel.h"
#if PY_MAJOR_VERSION != 3 || PY_MINOR_VERSION < 10 || PY_MINOR_VERSION > 13
#error "this pyconfig.h is for CPython 3.10 to 3.13"
#endif

/* The official interpreter is the default build, with the GIL: the
   free-threaded 3.13 (python3.13t, python313t.dll) has another object
   layout and is not a target. Py_GIL_DISABLED stays undefined. */
#ifdef Py_GIL_DISABLED
#error "this pyconfig.h is for the default (GIL) build of CPython"
#endif

#include <stdio.h>

#define MS_WIN32
#define MS_WIN64
#define MS_WINDOWS
#define NT_THREADS
#define WITH_THREAD
#define PLATFORM "win32"
#define COMPILER "[gcc]"
#define PYD_PLATFORM_TAG "win_amd64"

/* The core lives in python3XX.dll: the API is imported, PyInit_* exported. */
#define Py_ENABLE_SHARED 1
#define MS_COREDLL
#define HAVE_DECLSPEC_DLL

#define LONG_BIT 32
#define WORD_BIT 32
#define SIZEOF_SHORT 2
#define SIZEOF_INT 4
#define SIZEOF_LONG 4
#define ALIGNOF_LONG 4
#define SIZEOF_LONG_LONG 8
#define SIZEOF_FLOAT 4
#define SIZEOF_DOUBLE 8
#define SIZEOF_VOID_P 8
#define SIZEOF_SIZE_T 8
#define ALIGNOF_SIZE_T 8
#define SIZEOF_TIME_T 8
#define SIZEOF_OFF_T 4
#define SIZEOF_FPOS_T 8
#define SIZEOF_WCHAR_T 2
#define SIZEOF__BOOL 1
#define SIZEOF_PID_T SIZEOF_INT
#define HAVE_LARGEFILE_SUPPORT

typedef long long Py_ssize_t;
#define HAVE_PY_SSIZE_T 1
/* From 3.11 pyport.h leaves PY_SSIZE_T_MAX to whoever defines Py_ssize_t
   (HAVE_PY_SSIZE_T); 3.10 defines it there itself. */
#if PY_MINOR_VERSION >= 11
#define PY_SSIZE_T_MAX LLONG_MAX
#endif
#define HAVE_UINTPTR_T 1
#define HAVE_INTPTR_T 1
#define PY_LONG_LONG long long
#define PY_LLONG_MIN LLONG_MIN
#define PY_LLONG_MAX LLONG_MAX
#define PY_ULLONG_MAX ULLONG_MAX
#define PY_UINT32_T uint32_t
#define PY_UINT64_T uint64_t
#define PY_INT32_T int32_t
#define PY_INT64_T int64_t

#define DOUBLE_IS_LITTLE_ENDIAN_IEEE754 1
#define HAVE_COPYSIGN 1
#define HAVE_ROUND 1
#define HAVE_HYPOT
#define HAVE_DECL_ISINF 1
#define HAVE_DECL_ISNAN 1

#define STDC_HEADERS 1
#define HAVE_STDARG_PROTOTYPES
#define HAVE_WCHAR_H 1
#define HAVE_ERRNO_H 1
#define HAVE_FCNTL_H 1
#define HAVE_SIGNAL_H 1
#define HAVE_STDDEF_H 1
#define HAVE_SYS_STAT_H 1
#define HAVE_SYS_TYPES_H 1
#define WITH_DOC_STRINGS 1
#define WITH_PYMALLOC 1
/* From 3.13, python313.dll knows PYTHONMALLOC=mimalloc (an unknown allocator
   name is a fatal error at its start-up, as 3.12's shows), so it has mimalloc. */
#if PY_MINOR_VERSION >= 13
#define WITH_MIMALLOC 1
#endif

#endif /* !Py_CONFIG_H */
