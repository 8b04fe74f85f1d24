// Name lists: the "name" item of every tracker record a listing yields.
#ifndef TESSAVOR_TRACKER_NAMES_LIST_HPP
#define TESSAVOR_TRACKER_NAMES_LIST_HPP

#include "module/ref.hpp"

namespace tessavor::tracker {

// Appends `record["name"]` of each record of `records` (walked as a `for`
// statement walks it) to `result`. On failure adds the entry of `funcname`:
// `walk_line` when the walk itself fails, `item_line` when reading a name or
// appending it fails; returns -1.
int collect_names(PyObject *result, PyObject *records, const char *funcname, int walk_line,
                  int item_line);

} // namespace tessavor::tracker

#endif
