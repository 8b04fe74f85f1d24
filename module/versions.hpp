// What differs between the CPython versions the module is built for (3.10 to
// 3.13), one helper per difference. Each says which versions take which
// branch and why; no other source tests the version.
#ifndef TESSAVOR_MODULE_VERSIONS_HPP
#define TESSAVOR_MODULE_VERSIONS_HPP

#include <stdint.h>

#include "module/ref.hpp"

#if PY_VERSION_HEX < 0x030A0000 || PY_VERSION_HEX >= 0x030E0000
#error "tessavor.prod is built for CPython 3.10 to 3.13"
#endif

namespace tessavor::versions {

// ---- The pending exception ------------------------------------------------
// 3.10 and 3.11 hold it as a triple that may not be normalised yet
// (PyErr_Fetch, PyErr_NormalizeException, PyErr_Restore). From 3.12 it is one
// normalised exception object, and those three functions are deprecated for
// PyErr_GetRaisedException and PyErr_SetRaisedException; the triple is then
// derived from the object, and given back as the object.

// Takes the indicator's references and clears it; all three are null when
// nothing is pending.
inline void fetch_pending(PyObject **type, PyObject **value, PyObject **tb)
{
#if PY_VERSION_HEX >= 0x030C0000
    PyObject *exc = PyErr_GetRaisedException();
    *value = exc;
    *type = exc != nullptr ? Py_NewRef(Py_TYPE(exc)) : nullptr;
    *tb = exc != nullptr ? PyException_GetTraceback(exc) : nullptr;
#else
    PyErr_Fetch(type, value, tb);
#endif
}

// Normalises a fetched triple as an `except` clause would see it.
inline void normalize_pending(PyObject **type, PyObject **value, PyObject **tb)
{
#if PY_VERSION_HEX >= 0x030C0000
    (void)type, (void)value, (void)tb; // always normalised already
#else
    PyErr_NormalizeException(type, value, tb);
#endif
}

// Makes a fetched triple pending again, taking its references.
inline void restore_pending(PyObject *type, PyObject *value, PyObject *tb)
{
#if PY_VERSION_HEX >= 0x030C0000
    // The value carries its traceback; setting nothing clears the indicator.
    Py_XDECREF(type);
    Py_XDECREF(tb);
    PyErr_SetRaisedException(value);
#else
    PyErr_Restore(type, value, tb);
#endif
}

// ---- The handled exception ------------------------------------------------
// What sys.exc_info() reports, set for a scope and put back after it. 3.10
// keeps a (type, value, traceback) triple in the innermost exception-state
// item; from 3.11 that item holds only the value. The item is written
// directly on every version: PyErr_GetExcInfo and PyErr_GetHandledException
// report the innermost *non-empty* item, and putting that back would copy an
// outer frame's exception into a generator's own empty item.
class HandledExceptionScope {
public:
    HandledExceptionScope(PyObject *type, PyObject *value, PyObject *tb)
        : item_(PyThreadState_Get()->exc_info)
    {
#if PY_VERSION_HEX >= 0x030B0000
        (void)type, (void)tb; // the value carries both
        saved_value_ = item_->exc_value;
        item_->exc_value = Py_XNewRef(value);
#else
        saved_type_ = item_->exc_type;
        saved_value_ = item_->exc_value;
        saved_tb_ = item_->exc_traceback;
        item_->exc_type = Py_XNewRef(type);
        item_->exc_value = Py_XNewRef(value);
        item_->exc_traceback = Py_XNewRef(tb);
#endif
    }
    ~HandledExceptionScope()
    {
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
    return PyCode_NewWithPosOnlyArgs(argcount, 0, 0, nlocals, 0, flags, empty_bytes,
                                     empty_tuple, empty_tuple, varnames, empty_tuple,
                                     empty_tuple, filename, name, qualname, firstlineno,
                                     empty_bytes, empty_bytes);
#else
    (void)qualname; // code objects have no qualified name before 3.11
    return PyCode_NewWithPosOnlyArgs(argcount, 0, 0, nlocals, 0, flags, empty_bytes,
                                     empty_tuple, empty_tuple, varnames, empty_tuple,
                                     empty_tuple, filename, name, firstlineno, empty_bytes);
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
