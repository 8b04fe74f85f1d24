// What the matcher's ways share: the parts as one array of borrowed exact
// strs, and buffers of PyMem memory that free themselves.
#ifndef TESSAVOR_MATCHER_PARTS_HPP
#define TESSAVOR_MATCHER_PARTS_HPP

#include <stdint.h>

#include "module/ref.hpp"

// A hint that `address` will be read soon; nothing where the compiler has
// no such hint.
#if defined(__GNUC__) || defined(__clang__)
#define TESSAVOR_PREFETCH(address) __builtin_prefetch(address)
#else
#define TESSAVOR_PREFETCH(address) ((void)(address))
#endif

namespace tessavor::matcher {

// A zero-filled array from PyMem_Calloc, freed with its owner. allocate()
// sets MemoryError when it fails (PyMem_Calloc also refuses a count whose
// size in bytes overflows).
template <typename T> class Buffer {
public:
    Buffer() = default;
    ~Buffer() { PyMem_Free(data_); }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;

    bool allocate(Py_ssize_t count)
    {
        PyMem_Free(data_);
        data_ =
            static_cast<T *>(PyMem_Calloc(static_cast<size_t>(count > 0 ? count : 1), sizeof(T)));
        if (data_ == nullptr) {
            PyErr_NoMemory();
            return false;
        }
        return true;
    }
    // Makes room for `count` elements, keeping the first ones; the new ones
    // are not zeroed. Sets MemoryError when it fails (the old ones stay).
    bool resize(Py_ssize_t count)
    {
        void *data = PyMem_Realloc(data_, sizeof(T) * static_cast<size_t>(count > 0 ? count : 1));
        if (data == nullptr) {
            PyErr_NoMemory();
            return false;
        }
        data_ = static_cast<T *>(data);
        return true;
    }
    void swap(Buffer &other)
    {
        T *data = data_;
        data_ = other.data_;
        other.data_ = data;
    }
    T &operator[](Py_ssize_t i) { return data_[i]; }
    const T &operator[](Py_ssize_t i) const { return data_[i]; }
    T *get() const { return data_; }

private:
    T *data_ = nullptr;
};

// The parts, each a ready, non-empty exact str, borrowed from the container
// Filter was given: no Python code runs while the matcher lives, so the
// container cannot change under it.
struct PartList {
    Buffer<PyObject *> items;
    Py_ssize_t count = 0;
    Py_ssize_t total = 0; // code points over all parts
    Py_ssize_t longest = 0;
    bool wide = false;          // some part has a code point from 256 up
    Buffer<Py_ssize_t> lengths; // the distinct part lengths, ascending
    Py_ssize_t length_count = 0;
};

inline Py_ssize_t part_length(PyObject *part)
{
    return PyUnicode_GET_LENGTH(part);
}

// The smallest power of two that is at least `count` (and at least 2).
inline Py_ssize_t power_of_two_at_least(Py_ssize_t count)
{
    Py_ssize_t size = 2;
    while (size < count) {
        size *= 2;
    }
    return size;
}

inline int log2_of(Py_ssize_t power)
{
    int bits = 0;
    while ((Py_ssize_t(1) << bits) < power) {
        ++bits;
    }
    return bits;
}

} // namespace tessavor::matcher

#endif
