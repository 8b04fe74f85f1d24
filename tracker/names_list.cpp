#include "tracker/names_list.hpp"

#include "module/names.hpp"
#include "module/traceback.hpp"
#include "tracker/gazu_call.hpp"
#include "tracker/walk.hpp"

namespace tessavor::tracker {

int collect_names(PyObject *result, PyObject *records, const char *funcname, int walk_line,
                  int item_line)
{
    WalkResult walked = walk(records, [&](PyObject *record) {
        int appended;
        if (PyDict_CheckExact(record)) {
            // Borrowed from the record, which the walk holds; nothing runs
            // between the lookup and the append that takes its reference.
            PyObject *name = exact_dict_item(record, names.name);
            appended = name != nullptr ? PyList_Append(result, name) : -1;
        } else {
            Ref name = record_item(record, names.name);
            appended = name ? PyList_Append(result, name.get()) : -1;
        }
        if (appended < 0) {
            add_traceback(funcname, item_line);
            return Visit::kFailed;
        }
        return Visit::kNext;
    });
    switch (walked) {
    case WalkResult::kEnded:
        return 0;
    case WalkResult::kFailed:
        add_traceback(funcname, walk_line);
        return -1;
    case WalkResult::kStopped: // the visitor never asks to stop
    case WalkResult::kVisitFailed:
        break;
    }
    assert(walked == WalkResult::kVisitFailed && PyErr_Occurred());
    return -1;
}

} // namespace tessavor::tracker
