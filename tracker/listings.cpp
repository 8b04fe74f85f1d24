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

// Below `def get_tasks(self):` and `def get_persons(self):`.
constexpr int kTasksLine = 1;   // return gazu.user.all_tasks_to_do()
constexpr int kPersonsLine = 1; // return gazu.person.all_persons()

// Below `def get_projects(self):`.
constexpr int kResultLine = 1; // result = []
constexpr int kDataLine = 2;   // data = gazu.project.all_projects()
constexpr int kForLine = 3;    // for x in data:
constexpr int kAppendLine = 4; //     result.append(x["name"])

} // namespace

PyObject *get_tasks(const MethodSpec &method, PyObject *const *)
{
    return call_gazu(all_tasks_to_do, nullptr, 0, method.traceback_name,
                     line_of(method, kTasksLine))
        .release();
}

PyObject *get_persons(const MethodSpec &method, PyObject *const *)
{
    return call_gazu(all_persons, nullptr, 0, method.traceback_name, line_of(method, kPersonsLine))
        .release();
}

PyObject *get_projects(const MethodSpec &method, PyObject *const *)
{
    const char *funcname = method.traceback_name;
    Ref result = Ref::steal(PyList_New(0));
    if (!result) {
        return fail_at(funcname, line_of(method, kResultLine));
    }
    Ref data = call_gazu(all_projects, nullptr, 0, funcname, line_of(method, kDataLine));
    if (!data || collect_names(result.get(), data.get(), funcname, line_of(method, kForLine),
                               line_of(method, kAppendLine)) < 0) {
        return nullptr;
    }
    return result.release();
}

} // namespace tessavor::tracker
