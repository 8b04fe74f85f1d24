// The bodies of Prod's methods. Each receives one borrowed value per
// parameter (self first) and returns a new reference, or null with the
// exception set and its traceback entry added.
#ifndef TESSAVOR_TRACKER_BODIES_HPP
#define TESSAVOR_TRACKER_BODIES_HPP

#include "module/ref.hpp"

namespace tessavor::tracker {

PyObject *init(PyObject *const *args);
PyObject *load_json(PyObject *const *args);
PyObject *get_tasks(PyObject *const *args);
PyObject *get_persons(PyObject *const *args);
PyObject *get_projects(PyObject *const *args);
PyObject *get_episodes(PyObject *const *args);
PyObject *get_sequences(PyObject *const *args);
PyObject *get_shots(PyObject *const *args);
PyObject *get_person_by_name(PyObject *const *args);
PyObject *get_project(PyObject *const *args);
PyObject *filter(PyObject *const *args);

} // namespace tessavor::tracker

#endif
