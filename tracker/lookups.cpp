// Lookups by name: one gazu call each, its result returned unchanged.
#include "tracker/bodies.hpp"
#include "tracker/gazu_call.hpp"

namespace tessavor::tracker {

namespace {

GazuChain get_person_by_full_name = {&Names::person, &Names::get_person_by_full_name, {}, {}};

} // namespace

PyObject *get_person_by_name(PyObject *const *args)
{
    return call_gazu(get_person_by_full_name, &args[1], 1, "tessavor.prod.Prod.get_person_by_name",
                     88)
        .release();
}

PyObject *get_project(PyObject *const *args)
{
    return call_gazu(get_project_by_name, &args[1], 1, "tessavor.prod.Prod.get_project", 91)
        .release();
}

} // namespace tessavor::tracker
