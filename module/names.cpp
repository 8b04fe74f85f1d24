#include "module/names.hpp"

namespace tessavor {

Names names;

namespace {

struct NameEntry {
    PyObject *Names::*slot;
    const char *text;
};

const NameEntry kNameTable[] = {
#define TESSAVOR_NAME_ENTRY(id, text) {&Names::id, text},
    TESSAVOR_NAMES(TESSAVOR_NAME_ENTRY)
#undef TESSAVOR_NAME_ENTRY
};

} // namespace

int create_names()
{
    for (const NameEntry &entry : kNameTable) {
        PyObject *made = PyUnicode_InternFromString(entry.text);
        if (made == nullptr) {
            return -1;
        }
        Py_XSETREF(names.*entry.slot, made);
    }
    return 0;
}

} // namespace tessavor
