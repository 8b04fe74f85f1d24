// Tracker-wide listings: get_tasks, get_persons, get_projects.
#include "module/traceback.hpp"
#include "tracker/bodies.hpp"
#include "tracker/gazu_call.hpp"
#include "tracker/names_list.hpp"

namespace tessavor::tracker {

namespace {

GazuChain all_tasks_to_do = {&Names::user, &Names::all_tasks_to_do, {}, {}};
GazuChain all_persons = {&Names::person, &Names::all_persons, {}, {}};
GazuChain all_projects = {&Names::project, &Names::all_projects, {}, {}};

} // namespace

PyObject *get_tasks(PyObject *const *)
{
    return call_gazu(all_tasks_to_do, nullptr, 0, "tessavor.prod.Prod.get_tasks", 29).release();
}

PyObject *get_persons(PyObject *const *)
{
    return call_gazu(all_persons, nullptr, 0, "tessavor.prod.Prod.get_persons", 32).release();
}

PyObject *get_projects(PyObject *const *)
{
    const char *funcname = "tessavor.prod.Prod.get_projects";
    Ref result = Ref::steal(PyList_New(0));
    if (!result) {
        return fail_at(funcname, 35);
    }
    Ref data = call_gazu(all_projects, nullptr, 0, funcname, 36);
    if (!data || collect_names(result.get(), data.get(), funcname, 37, 38) < 0) {
        return nullptr;
    }
    return result.release();
}

} // namespace tessavor::tracker
