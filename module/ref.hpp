// One owned strong reference, moved but never copied.
//
// A Ref is built explicitly, either by stealing a new reference or by taking
// a borrowed one (which increments it); it releases its reference when it
// goes out of scope, so an early return never leaks. `get()` borrows,
// `release()` hands the reference to the caller. There is no implicit
// conversion to PyObject *.
#ifndef TESSAVOR_MODULE_REF_HPP
#define TESSAVOR_MODULE_REF_HPP

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tessavor {

class Ref {
public:
    Ref() noexcept : obj_(nullptr) {}
    // Takes ownership of a new reference (which may be null).
    static Ref steal(PyObject *obj) noexcept { return Ref(obj); }
    // Shares a borrowed reference: increments it.
    static Ref borrow(PyObject *obj) noexcept
    {
        Py_XINCREF(obj);
        return Ref(obj);
    }

    Ref(Ref &&other) noexcept : obj_(other.obj_) { other.obj_ = nullptr; }
    Ref &operator=(Ref &&other) noexcept
    {
        if (this != &other) {
            PyObject *old = obj_;
            obj_ = other.obj_;
            other.obj_ = nullptr;
            Py_XDECREF(old);
        }
        return *this;
    }
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    ~Ref() { Py_XDECREF(obj_); }

    PyObject *get() const noexcept { return obj_; }
    PyObject *release() noexcept
    {
        PyObject *obj = obj_;
        obj_ = nullptr;
        return obj;
    }
    explicit operator bool() const noexcept { return obj_ != nullptr; }

private:
    explicit Ref(PyObject *obj) noexcept : obj_(obj) {}
    PyObject *obj_;
};

} // namespace tessavor

#endif
