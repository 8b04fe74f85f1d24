#include "module/method_table.hpp"

#include "tracker/bodies.hpp"

// A method's names, from its interned name's identifier and its text: the
// bare name, the traceback name, and the interned name and qualified name.
#define TESSAVOR_METHOD_NAMES(id, text) text, "tessavor.prod.Prod." text, &Names::id, &Names::q_##id

namespace tessavor {

namespace {

const char kEpisodesDoc[] = "\n        Get all episode names for a given project.\n\n"
                            "        Args:\n"
                            "            project_name (str): The name of the project.\n\n"
                            "        Returns:\n"
                            "            list: A list of episode names.\n        ";

const char kShotsDoc[] = "\n        Get all shot names for a given project.\n\n"
                         "        Args:\n"
                         "            project_name (str): The name of the project.\n\n"
                         "        Returns:\n"
                         "            list: A list of shot names.\n        ";

const char kPersonDoc[] = "\n        Get a person by their full name.\n\n"
                          "        Args:\n"
                          "            person_name (str): The full name of the person.\n\n"
                          "        Returns:\n"
                          "            dict: The person data.\n        ";

} // namespace

using N = Names;

// One row a method: its names; the line of its `def`, its parameter count
// and its count of locals (parameters first); their names; its docstring
// and its body. Kept in columns by hand.
// clang-format off
const MethodSpec kMethods[kMethodCount] = {
    {TESSAVOR_METHOD_NAMES(init, "__init__"),                          6, 2, 2,
        {&N::self, &N::crenditial},
        nullptr, tracker::init},
    {TESSAVOR_METHOD_NAMES(load_json, "load_json"),                   22, 2, 4,
        {&N::self, &N::json_file, &N::data_file, &N::data},
        nullptr, tracker::load_json},
    {TESSAVOR_METHOD_NAMES(get_tasks, "get_tasks"),                   28, 1, 1,
        {&N::self},
        nullptr, tracker::get_tasks},
    {TESSAVOR_METHOD_NAMES(get_persons, "get_persons"),               31, 1, 1,
        {&N::self},
        nullptr, tracker::get_persons},
    {TESSAVOR_METHOD_NAMES(get_projects, "get_projects"),             34, 1, 4,
        {&N::self, &N::result, &N::data, &N::x},
        nullptr, tracker::get_projects},
    {TESSAVOR_METHOD_NAMES(get_episodes, "get_episodes"),             42, 2, 5,
        {&N::self, &N::project_name, &N::episodes, &N::project, &N::episode},
        kEpisodesDoc, tracker::get_episodes},
    {TESSAVOR_METHOD_NAMES(get_sequences, "get_sequences"),           58, 2, 5,
        {&N::self, &N::project_name, &N::project, &N::sequences, &N::sequence},
        nullptr, tracker::get_sequences},
    {TESSAVOR_METHOD_NAMES(get_shots, "get_shots"),                   64, 2, 5,
        {&N::self, &N::project_name, &N::project, &N::shots, &N::shot},
        kShotsDoc, tracker::get_shots},
    {TESSAVOR_METHOD_NAMES(get_person_by_name, "get_person_by_name"), 78, 2, 2,
        {&N::self, &N::person_name},
        kPersonDoc, tracker::get_person_by_name},
    {TESSAVOR_METHOD_NAMES(get_project, "get_project"),               90, 2, 2,
        {&N::self, &N::project_name},
        nullptr, tracker::get_project},
    {TESSAVOR_METHOD_NAMES(Filter, "Filter"),                         94, 3, 6,
        {&N::self, &N::string, &N::substr, &N::str, &N::genexpr, &N::genexpr},
        nullptr, tracker::filter},
};
// clang-format on

} // namespace tessavor
