#include "module/method_table.hpp"

#include "tracker/bodies.hpp"

#define TESSAVOR_TB(method) "tessavor.prod.Prod." method

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

// One row a method; kept in columns by hand.
// clang-format off
const MethodSpec kMethods[kMethodCount] = {
    {0, "__init__", TESSAVOR_TB("__init__"), &N::dunder_init, &N::q_init, 6, 2, 2,
     {&N::self, &N::crenditial}, nullptr, tracker::init},
    {1, "load_json", TESSAVOR_TB("load_json"), &N::load_json, &N::q_load_json, 22, 2, 4,
     {&N::self, &N::json_file, &N::data_file, &N::data}, nullptr, tracker::load_json},
    {2, "get_tasks", TESSAVOR_TB("get_tasks"), &N::get_tasks, &N::q_get_tasks, 28, 1, 1,
     {&N::self}, nullptr, tracker::get_tasks},
    {3, "get_persons", TESSAVOR_TB("get_persons"), &N::get_persons, &N::q_get_persons, 31, 1, 1,
     {&N::self}, nullptr, tracker::get_persons},
    {4, "get_projects", TESSAVOR_TB("get_projects"), &N::get_projects, &N::q_get_projects, 34, 1, 4,
     {&N::self, &N::result, &N::data, &N::x}, nullptr, tracker::get_projects},
    {5, "get_episodes", TESSAVOR_TB("get_episodes"), &N::get_episodes, &N::q_get_episodes, 42, 2,
     5, {&N::self, &N::project_name, &N::episodes, &N::project, &N::episode}, kEpisodesDoc,
     tracker::get_episodes},
    {6, "get_sequences", TESSAVOR_TB("get_sequences"), &N::get_sequences, &N::q_get_sequences, 58,
     2, 5, {&N::self, &N::project_name, &N::project, &N::sequences, &N::sequence}, nullptr,
     tracker::get_sequences},
    {7, "get_shots", TESSAVOR_TB("get_shots"), &N::get_shots, &N::q_get_shots, 64, 2, 5,
     {&N::self, &N::project_name, &N::project, &N::shots, &N::shot}, kShotsDoc,
     tracker::get_shots},
    {8, "get_person_by_name", TESSAVOR_TB("get_person_by_name"), &N::get_person_by_name,
     &N::q_get_person_by_name, 78, 2, 2, {&N::self, &N::person_name}, kPersonDoc,
     tracker::get_person_by_name},
    {9, "get_project", TESSAVOR_TB("get_project"), &N::get_project, &N::q_get_project, 90, 2, 2,
     {&N::self, &N::project_name}, nullptr, tracker::get_project},
    {10, "Filter", TESSAVOR_TB("Filter"), &N::Filter, &N::q_Filter, 94, 3, 6,
     {&N::self, &N::string, &N::substr, &N::str, &N::genexpr, &N::genexpr}, nullptr,
     tracker::filter},
};
// clang-format on

} // namespace tessavor
