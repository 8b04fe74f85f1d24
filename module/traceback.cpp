#include "module/traceback.hpp"

#include <frameobject.h>
#include <string.h>

#include "module/errors.hpp"
#include "module/state.hpp"

namespace tessavor {

namespace {

// Code objects made for entries, sorted by line; entries with one line and
// different function names sit side by side. Grows by kGrowth entries and is
// never shrunk or freed.
struct CodeCacheEntry {
    int line;
    const char *funcname;
    PyObject *code;
};

constexpr Py_ssize_t kGrowth = 64;

CodeCacheEntry *cache_entries = nullptr;
Py_ssize_t cache_count = 0;
Py_ssize_t cache_room = 0;

// Index of the first entry whose line is not below `line`.
Py_ssize_t lower_bound(int line)
{
    Py_ssize_t lo = 0, hi = cache_count;
    while (lo < hi) {
        Py_ssize_t mid = lo + (hi - lo) / 2;
        if (cache_entries[mid].line < line) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

bool same_name(const char *a, const char *b)
{
    return a == b || strcmp(a, b) == 0;
}

PyObject *cached_code(const char *funcname, int line)
{
    if (line == 0 || cache_entries == nullptr) {
        return nullptr;
    }
    for (Py_ssize_t i = lower_bound(line); i < cache_count && cache_entries[i].line == line; ++i) {
        if (same_name(cache_entries[i].funcname, funcname)) {
            return cache_entries[i].code;
        }
    }
    return nullptr;
}

// Keeps `code` (a new reference is taken) under `line`. A failed allocation
// only means the entry is not cached; no error is raised.
void insert_code(const char *funcname, int line, PyObject *code)
{
    if (line == 0) {
        return;
    }
    if (cache_entries == nullptr) {
        auto *fresh = static_cast<CodeCacheEntry *>(PyMem_Malloc(kGrowth * sizeof(CodeCacheEntry)));
        if (fresh == nullptr) {
            return;
        }
        cache_entries = fresh;
        cache_room = kGrowth;
        cache_count = 0;
    }
    Py_ssize_t pos = lower_bound(line);
    if (cache_count == cache_room) {
        auto *grown = static_cast<CodeCacheEntry *>(
            PyMem_Realloc(cache_entries, (cache_room + kGrowth) * sizeof(CodeCacheEntry)));
        if (grown == nullptr) {
            return;
        }
        cache_entries = grown;
        cache_room += kGrowth;
    }
    memmove(&cache_entries[pos + 1], &cache_entries[pos],
            (cache_count - pos) * sizeof(CodeCacheEntry));
    cache_entries[pos] = CodeCacheEntry{line, funcname, Py_NewRef(code)};
    ++cache_count;
}

} // namespace

void add_traceback(const char *funcname, int line)
{
    Ref code = Ref::borrow(cached_code(funcname, line));
    if (!code) {
        FetchedError pending;
        code = Ref::steal(reinterpret_cast<PyObject *>(
            PyCode_NewEmpty(TESSAVOR_TRACEBACK_FILENAME, funcname, line)));
        if (!code) {
            return; // the creation's own error propagates instead
        }
        pending.restore();
        insert_code(funcname, line, code.get());
    }

    // The frame is made with the exception set aside, so that a failure to
    // make it leaves the original exception untouched (and no entry).
    if (state.module_dict == nullptr) {
        return;
    }
    FetchedError pending;
    PyFrameObject *frame =
        PyFrame_New(PyThreadState_Get(), reinterpret_cast<PyCodeObject *>(code.get()),
                    state.module_dict, nullptr);
    if (frame == nullptr) {
        PyErr_Clear();
        pending.restore();
        return;
    }
    pending.restore();
    // The entry's line is the frame's: that of its code object's first line,
    // which is `line` (the cache keys on it).
    PyTraceBack_Here(frame);
    Py_DECREF(frame);
}

} // namespace tessavor
