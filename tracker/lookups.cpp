// Lookups by name: one gazu call each, its result returned unchanged.
#include "tracker/bodies.hpp"
#include "tracker/gazu_call.hpp"

namespace tessavor::tracker {

namespace {

GazuChain get_person_by_full_name = {&Names::person, &Names::get_person_by_full_name, {}, {}};

// Below `def get_person_by_name(self, person_name):` and its docstring.
constexpr int kPersonLine = 10; // return gazu.person.get_person_by_full_name(person_name)
// Below `def get_project(self, project_name):`.
constexpr int kProjectLine = 1; // return gazu.project.get_project_by_name(project_name)

} // namespace

PyObject *get_person_by_name(const MethodSpec &method, PyObject *const *args)
{
    return call_gazu(get_person_by_full_name, &args[1], 1, method.traceback_name,
                     line_of(method, kPersonLine))
        .release();
}

PyObject *get_project(const MethodSpec &method, PyObject *const *args)
{
    return call_gazu(get_project_by_name, &args[1], 1, method.traceback_name,
                     line_of(method, kProjectLine))
        .release();
}

} // namespace tessavor::tracker
