// Traceback entries for failures that leave the module's functions.
#ifndef TESSAVOR_MODULE_TRACEBACK_HPP
#define TESSAVOR_MODULE_TRACEBACK_HPP

#include "module/ref.hpp"

namespace tessavor {

// Adds one entry (function name, the module's file name, line) to the pending
// exception. Called exactly once by each failure point, with the exception
// set. If the entry's code object cannot be made, that error replaces the
// pending exception; if only its frame cannot be made, no entry is added.
void add_traceback(const char *funcname, int line);

// The usual shape of a failure point: add the entry, then fail (null for
// functions returning an object, -1 for those returning a status).
inline PyObject *fail_at(const char *funcname, int line)
{
    add_traceback(funcname, line);
    return nullptr;
}

inline int fail_status(const char *funcname, int line)
{
    add_traceback(funcname, line);
    return -1;
}

} // namespace tessavor

#endif
