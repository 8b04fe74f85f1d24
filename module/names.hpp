// Every name and literal key the module looks up, made once at import as an
// interned str, so later attribute, global, item and keyword lookups start
// from a string whose hash is already known (and keyword matching can go by
// identity first).
#ifndef TESSAVOR_MODULE_NAMES_HPP
#define TESSAVOR_MODULE_NAMES_HPP

#include "module/ref.hpp"

// X(identifier, text)
#define TESSAVOR_NAMES(X)                                                                          \
    /* the module, the class and the namespace */                                                  \
    X(tessavor_prod, "tessavor.prod")                                                              \
    X(Prod, "Prod")                                                                                \
    X(dunder_module, "__module__")                                                                 \
    X(dunder_qualname, "__qualname__")                                                             \
    X(dunder_test, "__test__")                                                                     \
    X(dunder_spec, "__spec__")                                                                     \
    X(initializing, "_initializing")                                                               \
    X(gazu, "gazu")                                                                                \
    X(json, "json")                                                                                \
    X(open, "open")                                                                                \
    X(empty, "") /* what a cleared method object's names become */                                 \
    /* method names and qualified names */                                                         \
    X(init, "__init__")                                                                            \
    X(load_json, "load_json")                                                                      \
    X(get_tasks, "get_tasks")                                                                      \
    X(get_persons, "get_persons")                                                                  \
    X(get_projects, "get_projects")                                                                \
    X(get_episodes, "get_episodes")                                                                \
    X(get_sequences, "get_sequences")                                                              \
    X(get_shots, "get_shots")                                                                      \
    X(get_person_by_name, "get_person_by_name")                                                    \
    X(get_project, "get_project")                                                                  \
    X(Filter, "Filter")                                                                            \
    X(q_init, "Prod.__init__")                                                                     \
    X(q_load_json, "Prod.load_json")                                                               \
    X(q_get_tasks, "Prod.get_tasks")                                                               \
    X(q_get_persons, "Prod.get_persons")                                                           \
    X(q_get_projects, "Prod.get_projects")                                                         \
    X(q_get_episodes, "Prod.get_episodes")                                                         \
    X(q_get_sequences, "Prod.get_sequences")                                                       \
    X(q_get_shots, "Prod.get_shots")                                                               \
    X(q_get_person_by_name, "Prod.get_person_by_name")                                             \
    X(q_get_project, "Prod.get_project")                                                           \
    X(q_Filter, "Prod.Filter")                                                                     \
    /* parameter and local names */                                                                \
    X(self, "self")                                                                                \
    X(crenditial, "crenditial")                                                                    \
    X(json_file, "json_file")                                                                      \
    X(data_file, "data_file")                                                                      \
    X(data, "data")                                                                                \
    X(result, "result")                                                                            \
    X(x, "x")                                                                                      \
    X(project_name, "project_name")                                                                \
    X(episodes, "episodes")                                                                        \
    X(project, "project")                                                                          \
    X(episode, "episode")                                                                          \
    X(sequences, "sequences")                                                                      \
    X(sequence, "sequence")                                                                        \
    X(shots, "shots")                                                                              \
    X(shot, "shot")                                                                                \
    X(person_name, "person_name")                                                                  \
    X(string, "string")                                                                            \
    X(substr, "substr")                                                                            \
    X(str, "str")                                                                                  \
    X(genexpr, "genexpr")                                                                          \
    /* record keys */                                                                              \
    X(host_url, "host_url")                                                                        \
    X(event_url, "event_url")                                                                      \
    X(login_id, "login_id")                                                                        \
    X(password, "password")                                                                        \
    X(name, "name")                                                                                \
    /* attributes of gazu, json and the opened file */                                             \
    X(set_host, "set_host")                                                                        \
    X(set_event_host, "set_event_host")                                                            \
    X(log_in, "log_in")                                                                            \
    X(user, "user")                                                                                \
    X(all_tasks_to_do, "all_tasks_to_do")                                                          \
    X(person, "person")                                                                            \
    X(all_persons, "all_persons")                                                                  \
    X(all_projects, "all_projects")                                                                \
    X(get_project_by_name, "get_project_by_name")                                                  \
    X(get_person_by_full_name, "get_person_by_full_name")                                          \
    X(all_episodes_for_project, "all_episodes_for_project")                                        \
    X(all_sequences_for_project, "all_sequences_for_project")                                      \
    X(all_shots_for_project, "all_shots_for_project")                                              \
    X(load, "load")                                                                                \
    X(dunder_enter, "__enter__")                                                                   \
    X(dunder_exit, "__exit__")

namespace tessavor {

struct Names {
#define TESSAVOR_DECLARE_NAME(id, text) PyObject *id;
    TESSAVOR_NAMES(TESSAVOR_DECLARE_NAME)
#undef TESSAVOR_DECLARE_NAME
};

// Filled by create_names(); process-wide, never released.
extern Names names;

// Creates (or, after a failed import, re-creates) every interned name.
int create_names();

} // namespace tessavor

#endif
