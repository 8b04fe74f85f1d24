// Methods whose tracker access is not built yet: each raises
// NotImplementedError naming itself, with an entry at its first line.
#include "module/errors.hpp"
#include "module/method_table.hpp"
#include "module/traceback.hpp"
#include "tracker/bodies.hpp"

namespace tessavor::tracker {

namespace {

PyObject *not_implemented(int index)
{
    const MethodSpec &method = kMethods[index];
    raise_format(PyExc_NotImplementedError, "Prod.%s is not implemented yet", method.name);
    return fail_at(method.traceback_name, method.first_line);
}

} // namespace

PyObject *init(PyObject *const *)
{
    return not_implemented(0);
}
PyObject *load_json(PyObject *const *)
{
    return not_implemented(1);
}
PyObject *get_tasks(PyObject *const *)
{
    return not_implemented(2);
}
PyObject *get_persons(PyObject *const *)
{
    return not_implemented(3);
}
PyObject *get_projects(PyObject *const *)
{
    return not_implemented(4);
}
PyObject *get_episodes(PyObject *const *)
{
    return not_implemented(5);
}
PyObject *get_sequences(PyObject *const *)
{
    return not_implemented(6);
}
PyObject *get_shots(PyObject *const *)
{
    return not_implemented(7);
}
PyObject *get_person_by_name(PyObject *const *)
{
    return not_implemented(8);
}
PyObject *get_project(PyObject *const *)
{
    return not_implemented(9);
}

} // namespace tessavor::tracker
