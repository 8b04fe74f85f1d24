// Project breakdown listings: the episode, sequence and shot names of a
// project given by name.
#include "module/traceback.hpp"
#include "tracker/bodies.hpp"
#include "tracker/gazu_call.hpp"
#include "tracker/names_list.hpp"

namespace tessavor::tracker {

namespace {

GazuChain all_episodes = {&Names::shot, &Names::all_episodes_for_project, {}, {}};
GazuChain all_sequences = {&Names::shot, &Names::all_sequences_for_project, {}, {}};
GazuChain all_shots = {&Names::shot, &Names::all_shots_for_project, {}, {}};

// get_sequences and get_shots, from `first_line` on:
//     project = gazu.project.get_project_by_name(project_name)
//     records = gazu.shot.<listing>(project)
//     return [record["name"] for record in records]
PyObject *breakdown(PyObject *project_name, GazuChain &listing, const char *funcname,
                    int first_line)
{
    Ref project = call_gazu(get_project_by_name, &project_name, 1, funcname, first_line);
    if (!project) {
        return nullptr;
    }
    PyObject *project_arg = project.get();
    Ref records = call_gazu(listing, &project_arg, 1, funcname, first_line + 1);
    if (!records) {
        return nullptr;
    }
    const int list_line = first_line + 2;
    Ref result = Ref::steal(PyList_New(0));
    if (!result) {
        return fail_at(funcname, list_line);
    }
    if (collect_names(result.get(), records.get(), funcname, list_line, list_line) < 0) {
        return nullptr;
    }
    return result.release();
}

} // namespace

// get_episodes makes its list first and reports the walk (54) apart from
// reading the names (55).
PyObject *get_episodes(PyObject *const *args)
{
    const char *funcname = "tessavor.prod.Prod.get_episodes";
    Ref episodes = Ref::steal(PyList_New(0));
    if (!episodes) {
        return fail_at(funcname, 52);
    }
    Ref project = call_gazu(get_project_by_name, &args[1], 1, funcname, 53);
    if (!project) {
        return nullptr;
    }
    PyObject *project_arg = project.get();
    Ref records = call_gazu(all_episodes, &project_arg, 1, funcname, 54);
    if (!records || collect_names(episodes.get(), records.get(), funcname, 54, 55) < 0) {
        return nullptr;
    }
    return episodes.release();
}

PyObject *get_sequences(PyObject *const *args)
{
    return breakdown(args[1], all_sequences, "tessavor.prod.Prod.get_sequences", 60);
}

PyObject *get_shots(PyObject *const *args)
{
    return breakdown(args[1], all_shots, "tessavor.prod.Prod.get_shots", 74);
}

} // namespace tessavor::tracker
