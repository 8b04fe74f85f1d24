#include "matcher/process_key.hpp"

namespace tessavor::matcher {

namespace {

uint64_t drawn = 0; // 0 until drawn: a drawn key is odd

} // namespace

bool process_key(uint64_t *key)
{
    if (drawn == 0) {
        static const char kSeed[] = "tessavor.prod substring matcher";
        Ref seed = Ref::steal(PyBytes_FromStringAndSize(kSeed, sizeof kSeed - 1));
        if (!seed) {
            return false;
        }
        // A bytes object's hash is SipHash keyed by the process's secret: a
        // stranger to the process cannot tell it from random. It cannot fail.
        Py_hash_t hash = PyObject_Hash(seed.get());
        // Spread over 64 bits (a Py_hash_t is narrower on 32-bit builds).
        drawn = (static_cast<uint64_t>(hash) * 0x9e3779b97f4a7c15ull) | 1;
    }
    *key = drawn;
    return true;
}

} // namespace tessavor::matcher
