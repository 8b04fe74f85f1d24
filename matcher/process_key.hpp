// A secret number drawn once per process, for the matcher's hash tables: a
// list of parts cannot be made to crowd them without knowing it. It comes
// from the interpreter's own hash secret (the one that randomises str and
// bytes hashing), so PYTHONHASHSEED fixes it where a run must repeat.
#ifndef TESSAVOR_MATCHER_PROCESS_KEY_HPP
#define TESSAVOR_MATCHER_PROCESS_KEY_HPP

#include <stdint.h>

#include "module/ref.hpp"

namespace tessavor::matcher {

// An odd 64-bit multiplier, the same for the whole process. Returns false
// with MemoryError set when it could not be drawn (only the first call
// draws).
bool process_key(uint64_t *key);

} // namespace tessavor::matcher

#endif
