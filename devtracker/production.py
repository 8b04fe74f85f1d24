"""One production, seeded through gazu into whichever tracker gazu points at.

    import gazu
    from devtracker.production import seed
    gazu.set_host(url)
    gazu.log_in(login, password)
    made = seed()            # the records created, by kind

`python -m devtracker.production API_URL LOGIN PASSWORD [--shots N]` seeds a
running tracker (devtracker or a real one) from the command line.

The logged-in user joins the team of every open project but one ("Spring"),
and gets to-do tasks in all of them, some already done; other persons get
tasks too. So a tracker that answers the user's to-do list shows only the
open tasks of the projects the user is on the team of.
"""

import argparse
import sys

import gazu

# name, production type, sequences, shots per sequence, episodes to add.
PROJECTS = [
    ("Agent 327", "featurefilm", 10, 100, ()),
    ("Big Buck Bunny", "tvshow", 2, 5, ("E02",)),
    ("Spring", "short", 1, 4, ()),
    ("Café Ōkami 夏", "short", 1, 3, ()),
]
# The user is left off this project's team: its tasks never reach the to-do list.
OFF_TEAM = "Spring"
PERSONS = [
    ("Alice", "Martin", "alice@example.com", "supervisor"),
    ("Bob", "Smith", "bob@example.com", "user"),
    ("Chloé", "Durand", "chloe@example.com", "user"),
]
TASKS_PER_PROJECT = 3  # the user's tasks on the first shots of each project


def seed(shots_per_sequence=None):
    """Creates the production as the logged-in user; returns what was made.

    `shots_per_sequence` caps every project's shots per sequence (for a
    quick production); the result maps "projects", "episodes", "sequences",
    "shots", "persons" and "tasks" to the records the tracker returned.
    """
    user = gazu.client.get_current_user()
    made = {kind: [] for kind in ("projects", "episodes", "sequences", "shots", "persons", "tasks")}
    for first, last, email, role in PERSONS:
        made["persons"].append(gazu.person.new_person(first, last, email, role=role))
    animation = gazu.task.get_task_type_by_name("Animation")
    layout = gazu.task.get_task_type_by_name("Layout")
    done = gazu.task.get_task_status_by_name("Done")
    for name, kind, n_sequences, n_shots, episodes in PROJECTS:
        if shots_per_sequence is not None:
            n_shots = min(n_shots, shots_per_sequence)
        project = gazu.project.new_project(name, kind)
        made["projects"].append(project)
        for person in made["persons"]:
            gazu.project.add_person_to_team(project, person)
        if name != OFF_TEAM:
            gazu.project.add_person_to_team(project, user)
        for episode in episodes:
            made["episodes"].append(gazu.shot.new_episode(project, episode))
        shots = []
        for s in range(1, n_sequences + 1):
            sequence = gazu.shot.new_sequence(project, f"sq{s * 10:03d}")
            made["sequences"].append(sequence)
            for n in range(1, n_shots + 1):
                shots.append(gazu.shot.new_shot(project, sequence, f"sh{n * 10:04d}"))
        made["shots"].extend(shots)
        for i, shot in enumerate(shots[:TASKS_PER_PROJECT]):
            # The last of the user's tasks in each project is done already.
            status = done if i == TASKS_PER_PROJECT - 1 else None
            made["tasks"].append(gazu.task.new_task(shot, animation, task_status=status, assignees=[user]))
            made["tasks"].append(gazu.task.new_task(shot, layout, assignees=[made["persons"][1]]))
    return made


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m devtracker.production",
                                     description=__doc__.splitlines()[0])
    parser.add_argument("api_url")
    parser.add_argument("login")
    parser.add_argument("password")
    parser.add_argument("--shots", type=int, default=None, help="at most N shots per sequence")
    args = parser.parse_args(argv)
    gazu.set_host(args.api_url)
    gazu.log_in(args.login, args.password)
    made = seed(args.shots)
    print(", ".join(f"{len(records)} {kind}" for kind, records in made.items()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
