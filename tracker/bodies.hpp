// The bodies of Prod's methods. Each receives its entry of the method table
// and one borrowed value per parameter (self first), and returns a new
// reference, or null with the exception set and its traceback entry added.
// Traceback names and lines come from the entry: a body names each line by
// its offset from the method's `def` line, beside the statement it mirrors.
#ifndef TESSAVOR_TRACKER_BODIES_HPP
#define TESSAVOR_TRACKER_BODIES_HPP

#include "module/method_table.hpp"

namespace tessavor::tracker {

PyObject *init(const MethodSpec &method, PyObject *const *args);
PyObject *load_json(const MethodSpec &method, PyObject *const *args);
PyObject *get_tasks(const MethodSpec &method, PyObject *const *args);
PyObject *get_persons(const MethodSpec &method, PyObject *const *args);
PyObject *get_projects(const MethodSpec &method, PyObject *const *args);
PyObject *get_episodes(const MethodSpec &method, PyObject *const *args);
PyObject *get_sequences(const MethodSpec &method, PyObject *const *args);
PyObject *get_shots(const MethodSpec &method, PyObject *const *args);
PyObject *get_person_by_name(const MethodSpec &method, PyObject *const *args);
PyObject *get_project(const MethodSpec &method, PyObject *const *args);
PyObject *filter(const MethodSpec &method, PyObject *const *args);

} // namespace tessavor::tracker

#endif
