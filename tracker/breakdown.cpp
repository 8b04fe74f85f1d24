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

// get_sequences and get_shots, from the statement `first` lines below the
// method's `def` line on:
//     project = gazu.project.get_project_by_name(project_name)
//     records = gazu.shot.<listing>(project)
//     return [record["name"] for record in records]
PyObject *breakdown(const MethodSpec &method, int first, PyObject *project_name, GazuChain &listing)
{
    const char *funcname = method.traceback_name;
    const int project_line = line_of(method, first);
    Ref project = call_gazu(get_project_by_name, &project_name, 1, funcname, project_line);
    if (!project) {
        return nullptr;
    }
    PyObject *project_arg = project.get();
    Ref records = call_gazu(listing, &project_arg, 1, funcname, project_line + 1);
    if (!records) {
        return nullptr;
    }
    const int list_line = project_line + 2;
    Ref result = Ref::steal(PyList_New(0));
    if (!result) {
        return fail_at(funcname, list_line);
    }
    if (collect_names(result.get(), records.get(), funcname, list_line, list_line) < 0) {
        return nullptr;
    }
    return result.release();
}

// Below `def get_episodes(self, project_name):` and its docstring.
constexpr int kEpisodesLine = 10; // episodes = []
constexpr int kProjectLine = 11;  // project = gazu.project.get_project_by_name(project_name)
constexpr int kForLine = 12;      // for episode in gazu.shot.all_episodes_for_project(project):
constexpr int kAppendLine = 13;   //     episodes.append(episode["name"])

// Below `def get_sequences(self, project_name):`, and below
// `def get_shots(self, project_name):` and its docstring: the project lookup.
constexpr int kSequencesFirst = 2;
constexpr int kShotsFirst = 10;

} // namespace

// get_episodes makes its list first and reports the walk apart from reading
// the names.
PyObject *get_episodes(const MethodSpec &method, PyObject *const *args)
{
    const char *funcname = method.traceback_name;
    Ref episodes = Ref::steal(PyList_New(0));
    if (!episodes) {
        return fail_at(funcname, line_of(method, kEpisodesLine));
    }
    Ref project =
        call_gazu(get_project_by_name, &args[1], 1, funcname, line_of(method, kProjectLine));
    if (!project) {
        return nullptr;
    }
    PyObject *project_arg = project.get();
    const int for_line = line_of(method, kForLine);
    Ref records = call_gazu(all_episodes, &project_arg, 1, funcname, for_line);
    if (!records || collect_names(episodes.get(), records.get(), funcname, for_line,
                                  line_of(method, kAppendLine)) < 0) {
        return nullptr;
    }
    return episodes.release();
}

PyObject *get_sequences(const MethodSpec &method, PyObject *const *args)
{
    return breakdown(method, kSequencesFirst, args[1], all_sequences);
}

PyObject *get_shots(const MethodSpec &method, PyObject *const *args)
{
    return breakdown(method, kShotsFirst, args[1], all_shots);
}

} // namespace tessavor::tracker
