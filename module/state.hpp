// Process-wide state, made by the first import and kept until the process
// ends. Plain pointers only: nothing here has a destructor that could run
// after the interpreter is gone.
#ifndef TESSAVOR_MODULE_STATE_HPP
#define TESSAVOR_MODULE_STATE_HPP

#include "module/ref.hpp"

// The file name the module's code objects and traceback entries carry. The
// code objects name it with one backslash, the traceback entries with two.
#define TESSAVOR_FILE_SUFFIX ".py"
#define TESSAVOR_CODE_FILENAME "tessavor\\prod" TESSAVOR_FILE_SUFFIX
#define TESSAVOR_TRACEBACK_FILENAME "tessavor\\\\prod" TESSAVOR_FILE_SUFFIX

namespace tessavor {

constexpr int kMethodCount = 11;

struct State {
    bool has_interpreter_id;
    int64_t interpreter_id;

    PyObject *module;      // set once the exec step has begun; cleared if it fails
    PyObject *module_dict; // the globals of every method
    PyObject *builtins;    // the builtins module
    PyObject *open;        // builtins.open as it stood during the exec step
    PyObject *prod_class;  // class Prod: kept even when the module's global is deleted

    PyObject *empty_tuple;
    PyObject *empty_bytes;
    PyObject *none3; // (None, None, None): __exit__'s arguments after a normal exit

    PyObject *code[kMethodCount];
};

extern State state;

} // namespace tessavor

#endif
