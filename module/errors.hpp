// Raising exceptions with a message, and setting a pending exception aside.
// PyErr_Format and PyErr_SetString replace a MemoryError met while building
// the message with a bare exception of the requested type; these keep the
// MemoryError instead.
#ifndef TESSAVOR_MODULE_ERRORS_HPP
#define TESSAVOR_MODULE_ERRORS_HPP

#include "module/ref.hpp"

namespace tessavor {

// Both always return -1, with an exception set.
int raise_message(PyObject *type, const char *message);
int raise_format(PyObject *type, const char *format, ...);

// The pending exception, set aside: takes the error indicator's references
// and clears it. restore() makes it pending again; a holder destroyed
// before that drops the references. This is the one place that knows how
// the interpreter holds a pending exception.
class FetchedError {
public:
    enum Form {
        kAsIs,       // as the indicator held it (possibly not normalised)
        kNormalized, // as an `except` clause sees it: the value is an exception
                     // instance (None if even that failed), its traceback attached
    };

    explicit FetchedError(Form form = kAsIs) noexcept;
    ~FetchedError();
    FetchedError(const FetchedError &) = delete;
    FetchedError &operator=(const FetchedError &) = delete;

    PyObject *type() const noexcept { return type_; }
    PyObject *value() const noexcept { return value_; }
    PyObject *traceback() const noexcept { return tb_; }

    // Makes the exception pending again, replacing any pending one; the
    // holder is empty afterwards.
    void restore() noexcept;

private:
    PyObject *type_ = nullptr;
    PyObject *value_ = nullptr;
    PyObject *tb_ = nullptr;
};

} // namespace tessavor

#endif
