// What differs between the CPython versions the module is built for (3.10 to
// 3.13). It works as python/pythoncapi-compat does: where a version has an
// API for something, the module calls that API by its name everywhere, and
// the versions before it get a shim of that name here, written with what
// they have. What no version has an API for is one named helper here. Each
// says which versions take which branch and why; no other source tests the
// version or calls an API that changed between versions.
#ifndef TESSAVOR_MODULE_VERSIONS_HPP
#define TESSAVOR_MODULE_VERSIONS_HPP

#include <assert.h>
#include <stdint.h>

#include "module/ref.hpp"

#if PY_VERSION_HEX < 0x030A0000 || PY_VERSION_HEX >= 0x030E0000
#error "tessavor.prod is built for CPython 3.10 to 3.13"
#endif

// ==== Shims: the newest API, for the versions before it ======================

// ---- The pending exception ------------------------------------------------
// From 3.12 the error indicator holds one normalised exception object, whose
// __traceback__ is its traceback: PyErr_GetRaisedException takes it,
// PyErr_SetRaisedException sets it (gh-101578; PyErr_Fetch, PyErr_Restore and
// PyErr_NormalizeException are deprecated there). 3.10 and 3.11 hold a
// (type, value, traceback) triple that may not be normalised yet.
#if PY_VERSION_HEX < 0x030C0000
// Takes the pending exception, normalised and with its traceback attached, as
// 3.12 holds it; null when none is pending. The indicator is cleared.
static inline PyObject *PyErr_GetRaisedException(void)
{
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    // Normalising gives an exception instance whenever a type was pending:
    // a failure to make one is normalised in its place.
    assert(type == nullptr || (value != nullptr && PyExceptionInstance_Check(value)));
    if (value != nullptr) {
        // Its traceback is the indicator's, None for none, as 3.12 keeps it
        // and as 3.10's and 3.11's `except` sets it. Cannot fail for either.
        PyException_SetTraceback(value, tb != nullptr ? tb : Py_None);
    }
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return value;
}

// Makes `exc` pending, taking its reference, with the traceback it has now;
// null clears the indicator.
static inline void PyErr_SetRaisedException(PyObject *exc)
{
    if (exc == nullptr) {
        PyErr_Restore(nullptr, nullptr, nullptr);
        return;
    }
    assert(PyExceptionInstance_Check(exc));
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject *>(Py_TYPE(exc))), exc,
                  PyException_GetTraceback(exc));
}
#endif

// ---- A type's attribute, without descriptors --------------------------------
// 3.13 adds _PyType_LookupRef, which hands a strong reference (the borrowed one
// of _PyType_Lookup may die under another thread in a free-threaded build).
// Null, with no error set, when no class in the MRO defines the name.
#if PY_VERSION_HEX < 0x030D0000
static inline PyObject *_PyType_LookupRef(PyTypeObject *type, PyObject *name)
{
    return Py_XNewRef(_PyType_Lookup(type, name));
}
#endif

// ---- A str's cached hash ---------------------------------------------------
// 3.14 names the read PyUnstable_Unicode_GET_CACHED_HASH; before it the hash
// is the `hash` field of PyASCIIObject, -1 until the str is first hashed.
#if PY_VERSION_HEX < 0x030E0000
static inline Py_hash_t PyUnstable_Unicode_GET_CACHED_HASH(PyObject *op)
{
    assert(PyUnicode_Check(op));
    return reinterpret_cast<PyASCIIObject *>(op)->hash;
}
#endif

namespace tessavor::versions {

// ==== Helpers: what no version has an API for ================================

// ---- Ready strs -------------------------------------------------------------
// Up to 3.11 a str made by the legacy wchar_t API (PyUnicode_FromUnicode(NULL,
// n), still reachable from C) is not "ready": its PyUnicode_DATA is unset until
// PyUnicode_READY builds it, which may fail. From 3.12 every str is ready
// (PEP 623): the macros are kept, always true, and deprecated for removal.

// Makes `op`, a str, ready: 0, or -1 with MemoryError set.
inline int unicode_ready(PyObject *op)
{
    assert(PyUnicode_Check(op));
#if PY_VERSION_HEX >= 0x030C0000
    (void)op;
    return 0;
#else
    return PyUnicode_READY(op);
#endif
}

// Whether `op`, a str, is ready, without making it so.
inline bool unicode_is_ready(PyObject *op)
{
    assert(PyUnicode_Check(op));
#if PY_VERSION_HEX >= 0x030C0000
    (void)op;
    return true;
#else
    return PyUnicode_IS_READY(op);
#endif
}

// ---- The handled exception ------------------------------------------------
// What sys.exc_info() reports, set for a scope and put back after it, as an
// `except` clause does. 3.10 keeps a (type, value, traceback) triple in the
// innermost exception-state item; from 3.11 that item holds only the value.
// The item is written directly on every version: PyErr_GetExcInfo and
// PyErr_GetHandledException report the innermost *non-empty* item, and
// putting that back would copy an outer frame's exception into a generator's
// own empty item.
class HandledExceptionScope {
public:
    // `exc` is an exception instance, handled for the holder's lifetime.
    explicit HandledExceptionScope(PyObject *exc) : item_(PyThreadState_Get()->exc_info)
    {
        assert(exc != nullptr && PyExceptionInstance_Check(exc));
        saved_value_ = item_->exc_value;
        item_->exc_value = Py_NewRef(exc);
#if PY_VERSION_HEX < 0x030B0000
        // 3.10's `except` sets the triple the exception was caught with: its
        // class and the traceback it carries then.
        saved_type_ = item_->exc_type;
        saved_tb_ = item_->exc_traceback;
        item_->exc_type = Py_NewRef(reinterpret_cast<PyObject *>(Py_TYPE(exc)));
        item_->exc_traceback = PyException_GetTraceback(exc);
#endif
    }
    ~HandledExceptionScope()
    {
        // Whatever ran in the scope pushed and popped its own items.
        assert(PyThreadState_Get()->exc_info == item_);
        Py_XSETREF(item_->exc_value, saved_value_);
#if PY_VERSION_HEX < 0x030B0000
        Py_XSETREF(item_->exc_type, saved_type_);
        Py_XSETREF(item_->exc_traceback, saved_tb_);
#endif
    }
    HandledExceptionScope(const HandledExceptionScope &) = delete;
    HandledExceptionScope &operator=(const HandledExceptionScope &) = delete;

private:
    _PyErr_StackItem *item_;
    PyObject *saved_value_;
#if PY_VERSION_HEX < 0x030B0000
    PyObject *saved_type_;
    PyObject *saved_tb_;
#endif
};

// ---- What a `with` statement raises again ------------------------------------
// When __exit__ returns false, a `with` raises its body's exception again.
// 3.10 kept the (type, value, traceback) triple it caught and restores it
// (WITH_EXCEPT_START, then RERAISE): the traceback is the body's, whatever
// __exit__ did to the exception's __traceback__. From 3.11 the statement
// keeps the exception object alone and raises it as __exit__ left it, with the
// __traceback__ it has then (RERAISE reads it from the object).
class WithReraise {
public:
    // At the body's failure: `exc` is its exception, about to go to __exit__.
    explicit WithReraise(PyObject *exc)
    {
        assert(exc != nullptr && PyExceptionInstance_Check(exc));
#if PY_VERSION_HEX < 0x030B0000
        tb_ = Ref::steal(PyException_GetTraceback(exc));
#else
        (void)exc;
#endif
    }

    // Makes `exc`, the same exception, pending again as the statement does.
    void reraise(Ref exc)
    {
        assert(exc && PyExceptionInstance_Check(exc.get()));
#if PY_VERSION_HEX < 0x030B0000
        PyObject *type = Py_NewRef(reinterpret_cast<PyObject *>(Py_TYPE(exc.get())));
        PyErr_Restore(type, exc.release(), tb_.release());
#else
        PyErr_SetRaisedException(exc.release());
#endif
    }

private:
#if PY_VERSION_HEX < 0x030B0000
    Ref tb_;
#endif
};

// ---- Code objects -----------------------------------------------------------
// A code object with a signature and no executable code. 3.11 adds the
// qualified name and the exception table to the constructor; 3.12 renames it
// PyUnstable_Code_NewWithPosOnlyArgs (the old name is deprecated). An empty
// code string and line table are valid on every version.
inline PyCodeObject *new_code(int argcount, int nlocals, int flags, PyObject *empty_bytes,
                              PyObject *empty_tuple, PyObject *varnames, PyObject *filename,
                              PyObject *name, PyObject *qualname, int firstlineno)
{
#if PY_VERSION_HEX >= 0x030C0000
    return PyUnstable_Code_NewWithPosOnlyArgs(
        argcount, 0, 0, nlocals, 0, flags, empty_bytes, empty_tuple, empty_tuple, varnames,
        empty_tuple, empty_tuple, filename, name, qualname, firstlineno, empty_bytes, empty_bytes);
#elif PY_VERSION_HEX >= 0x030B0000
    return PyCode_NewWithPosOnlyArgs(argcount, 0, 0, nlocals, 0, flags, empty_bytes, empty_tuple,
                                     empty_tuple, varnames, empty_tuple, empty_tuple, filename,
                                     name, qualname, firstlineno, empty_bytes, empty_bytes);
#else
    (void)qualname; // code objects have no qualified name before 3.11
    return PyCode_NewWithPosOnlyArgs(argcount, 0, 0, nlocals, 0, flags, empty_bytes, empty_tuple,
                                     empty_tuple, varnames, empty_tuple, empty_tuple, filename,
                                     name, firstlineno, empty_bytes);
#endif
}

// ---- Changes of a dictionary ------------------------------------------------
// A lookup is remembered only while the dictionary it was made in is
// unchanged. 3.10 and 3.11 tell by the dictionary's ma_version_tag, which
// every change sets to a new process-wide value. It is deprecated in 3.12
// and gone in 3.14, whose replacement is a dictionary watcher: there, every
// event of a watched dictionary (its deallocation included) bumps one
// counter, and a remembered lookup holds the counter's value.

namespace detail {
#if PY_VERSION_HEX >= 0x030C0000
inline uint64_t dict_changes = 1;
inline int dict_watcher = -1;

inline int count_dict_change(PyDict_WatchEvent, PyObject *, PyObject *, PyObject *)
{
    ++dict_changes;
    return 0;
}
#endif
} // namespace detail

// Prepares `dict` for dict_stamp(); false (no error set) when its changes
// cannot be followed, and nothing read from it may be remembered.
inline bool follow_dict(PyObject *dict)
{
    assert(PyDict_Check(dict));
#if PY_VERSION_HEX >= 0x030C0000
    if (detail::dict_watcher < 0) {
        detail::dict_watcher = PyDict_AddWatcher(detail::count_dict_change);
        if (detail::dict_watcher < 0) { // all of the interpreter's watchers are taken
            PyErr_Clear();
            return false;
        }
    }
    if (PyDict_Watch(detail::dict_watcher, dict) < 0) {
        PyErr_Clear();
        return false;
    }
    return true;
#else
    (void)dict;
    return true;
#endif
}

// A value that changes whenever a followed `dict` changes.
inline uint64_t dict_stamp(PyObject *dict)
{
#if PY_VERSION_HEX >= 0x030C0000
    (void)dict;
    return detail::dict_changes;
#else
    return reinterpret_cast<PyDictObject *>(dict)->ma_version_tag;
#endif
}

// ---- Module definition slots ------------------------------------------------
// The module keeps one interpreter per process on every version. 3.12 lets a
// module say so (Py_mod_multiple_interpreters), and 3.13 asks whether it
// needs the GIL (Py_mod_gil): it does, free-threaded builds are not
// supported. Expands to those slots, each followed by a comma.
#if PY_VERSION_HEX >= 0x030D0000
#define TESSAVOR_VERSION_MODULE_SLOTS                                                              \
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},                    \
        {Py_mod_gil, Py_MOD_GIL_USED},
#elif PY_VERSION_HEX >= 0x030C0000
#define TESSAVOR_VERSION_MODULE_SLOTS                                                              \
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#else
#define TESSAVOR_VERSION_MODULE_SLOTS
#endif

} // namespace tessavor::versions

#endif
