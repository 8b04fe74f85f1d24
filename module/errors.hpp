// Raising exceptions with a message, and setting a pending exception aside.
// PyErr_Format and PyErr_SetString replace a MemoryError met while building
// the message with a bare exception of the requested type; these keep the
// MemoryError instead.
#ifndef TESSAVOR_MODULE_ERRORS_HPP
#define TESSAVOR_MODULE_ERRORS_HPP

#include <utility>

#include "module/ref.hpp"

namespace tessavor {

// Both always return -1, with an exception set.
int raise_message(PyObject *type, const char *message);
int raise_format(PyObject *type, const char *format, ...);

// The pending exception, set aside: takes it from the error indicator and
// clears it. restore() makes it pending again; a holder destroyed before that
// drops it. It is one exception object on every version, as 3.12 holds it
// (module/versions.hpp gives 3.10 and 3.11 PyErr_GetRaisedException): a
// normalised exception instance whose __traceback__ is its traceback.
class FetchedError {
public:
    FetchedError() noexcept;
    FetchedError(const FetchedError &) = delete;
    FetchedError &operator=(const FetchedError &) = delete;

    // The exception, borrowed; null when none was pending.
    PyObject *value() const noexcept { return exc_.get(); }

    // Makes the exception pending again, with the traceback it has now,
    // replacing any pending one; the holder is empty afterwards.
    void restore() noexcept;

    // Hands the exception on; the holder is empty afterwards.
    Ref take() noexcept { return std::move(exc_); }

private:
    Ref exc_;
};

} // namespace tessavor

#endif
