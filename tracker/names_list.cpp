#include "tracker/names_list.hpp"

#include "module/names.hpp"
#include "module/traceback.hpp"
#include "tracker/gazu_call.hpp"
#include "tracker/walk.hpp"

namespace tessavor::tracker {

int collect_names(PyObject *result, PyObject *records, const char *funcname, int walk_line,
                  int item_line)
{
    int rc = walk(records, [&](PyObject *record) {
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
            return fail_status(funcname, item_line);
        }
        return 0;
    });
    if (rc == kWalkFailed) {
        add_traceback(funcname, walk_line);
    }
    return rc < 0 ? -1 : 0;
}

} // namespace tessavor::tracker
