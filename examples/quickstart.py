"""First steps with tessavor.prod: what a pipeline tool asks the tracker.

    python examples/quickstart.py CREDENTIALS.json [--project NAME]
        [--fragments TEXT ...] [--person "FULL NAME"]

CREDENTIALS.json holds the tracker's API address, its event address, a login
and a password:

    {"host_url": "https://tracker.example.com/api",
     "event_url": "https://tracker.example.com/socket.io",
     "login_id": "you@example.com", "password": "..."}

Without --project, the first project that has episodes is shown; without
--person, the first person the tracker lists.
"""

import argparse

from tessavor.prod import Prod


def section(title, lines):
    print(f"== {title} ==")
    for line in lines:
        print(f"  {line}")
    if not lines:
        print("  (none)")
    print()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("credentials", help="path of the credentials JSON file")
    parser.add_argument("--project", help="project to break down")
    parser.add_argument(
        "--fragments", nargs="+", default=["10", "30"], help="texts the shots are filtered by"
    )
    parser.add_argument("--person", help="full name of the person to look up")
    args = parser.parse_args(argv)

    prod = Prod(args.credentials)

    projects = prod.get_projects()
    section("Projects", projects)

    project = args.project
    if project is None:
        project = next((name for name in projects if prod.get_episodes(name)), projects[0])
    section(f"Episodes of {project}", prod.get_episodes(project))
    section(f"Sequences of {project}", prod.get_sequences(project))
    shots = prod.get_shots(project)
    section(f"Shots of {project}", shots)
    fragments = " or ".join(map(repr, args.fragments))
    section(f"Shots of {project} containing {fragments}", prod.Filter(shots, args.fragments))

    full_name = args.person
    if full_name is None:
        full_name = prod.get_persons()[0]["full_name"]
    person = prod.get_person_by_name(full_name)
    shown = ("full_name", "email", "role")
    section(f"Person {full_name}", [f"{key}: {person.get(key)}" for key in shown] if person else [])

    tasks = prod.get_tasks()
    section(
        "My tasks to do",
        [
            f"{task.get('project_name', '?')} / {task.get('entity_name', '?')}: "
            f"{task.get('task_type_name', '?')} ({task.get('task_status_name', '?')})"
            for task in tasks
        ],
    )


if __name__ == "__main__":
    main()
