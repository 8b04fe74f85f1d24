"""Shot setup in Blender from the tracker: a collection per project and sequence, an empty per shot.

    python blender_shot_setup.py CREDENTIALS.json SCENE.blend [--project NAME] [--only PART ...]
    blender --background --python blender_shot_setup.py -- CREDENTIALS.json SCENE.blend ...

Runs where `bpy` imports beside `tessavor.prod`: Blender's own Python, or a
CPython with Blender's `bpy` module installed (what `make test-dcc` runs).
SCENE.blend is opened when it exists, else the tool fills the scene Blender
started with; either way it is saved there at the end.

Layout: a collection per project, in it a collection per sequence
("Project/sq010"), in each an empty per shot ("Project/sq010/sh010"); a shot
with no sequence goes into its project's collection ("Project/sh010"). Each
keeps the tracker's id as its custom property "tracker_id", by which a later
run finds it: a run adds what is new on the tracker and leaves everything
already in the scene as it is, wherever it was moved or renamed to.
--only keeps the shots whose names contain one of the parts.

A failure a user can meet (no tracker, a refused login, an unknown project, a
file that cannot be read or written) ends with one line on stderr and exit
status 1.
"""

import argparse
import json
import sys
from pathlib import Path

import bpy
import gazu
import requests

from tessavor.prod import Prod

ID = "tracker_id"
KEYS = ("host_url", "event_url", "login_id", "password")
# Whatever else the tracker refuses later on (gazu 0.10 has no common base class for them).
GAZU_ERRORS = tuple(cls for cls in vars(gazu.exception).values()
                    if isinstance(cls, type) and issubclass(cls, Exception))


class Failure(Exception):
    """A failure the user can act on: its message is the one line printed."""


def log_in(credentials):
    """A Prod logged in with the credentials file, or Failure saying why not."""
    try:
        with open(credentials, encoding="utf-8") as f:
            values = json.load(f)
    except OSError as exc:
        raise Failure(f"cannot read credentials {credentials}: {exc.strerror}") from None
    except ValueError as exc:
        raise Failure(f"credentials {credentials} are not JSON: {exc}") from None
    if not isinstance(values, dict) or not all(isinstance(values.get(key), str) for key in KEYS):
        raise Failure(f"credentials {credentials} must be a JSON object with "
                      f"{', '.join(KEYS[:-1])} and {KEYS[-1]} as text")
    host = values["host_url"]
    try:
        return Prod(credentials)
    except requests.exceptions.ConnectionError:
        raise Failure(f"no tracker answers at {host}") from None
    except gazu.exception.AuthFailedException:
        raise Failure(f"the tracker at {host} refused the login and password of {credentials}") from None
    except gazu.exception.RouteNotFoundException:
        raise Failure(f"{host} is not a tracker's API address (does it end with /api?)") from None


def projects_of(prod, name):
    """The project records asked for: the one named, or every project."""
    names = prod.get_projects() if name is None else [name]
    projects = [prod.get_project(each) for each in names]
    if None in projects:
        raise Failure(f"no project named {name!r} on the tracker at {prod.host_url}")
    return projects


def by_tracker_id(blocks):
    return {block[ID]: block for block in blocks if ID in block}


class Scene:
    """The blocks this tool made, by tracker id; adds what is missing and counts it."""

    def __init__(self):
        self.collections = by_tracker_id(bpy.data.collections)
        self.objects = by_tracker_id(bpy.data.objects)
        self.added = {"projects": 0, "sequences": 0, "shots": 0}

    def collection(self, record, name, parent, kind):
        found = self.collections.get(record["id"])
        if found is None:
            found = self.collections[record["id"]] = bpy.data.collections.new(name)
            found[ID] = record["id"]
            parent.children.link(found)
            self.added[kind] += 1
        return found

    def shot(self, record, name, collection):
        if record["id"] not in self.objects:
            empty = self.objects[record["id"]] = bpy.data.objects.new(name, None)
            empty[ID] = record["id"]
            collection.objects.link(empty)
            self.added["shots"] += 1


def set_up(prod, scene, project, only):
    """Adds to the scene what it lacks of one project."""
    top = scene.collection(project, project["name"], bpy.context.scene.collection, "projects")
    sequences = {}
    for sequence in gazu.shot.all_sequences_for_project(project):
        name = f"{project['name']}/{sequence['name']}"
        sequences[sequence["id"]] = (name, scene.collection(sequence, name, top, "sequences"))
    shots = gazu.shot.all_shots_for_project(project)
    if only:
        kept = set(prod.Filter([shot["name"] for shot in shots], only))
        shots = [shot for shot in shots if shot["name"] in kept]
    for shot in shots:
        parent, collection = sequences.get(shot["parent_id"], (project["name"], top))
        scene.shot(shot, f"{parent}/{shot['name']}", collection)


def run(args):
    prod = log_in(args.credentials)
    projects = projects_of(prod, args.project)
    if args.scene.exists():
        try:
            bpy.ops.wm.open_mainfile(filepath=str(args.scene))
        except RuntimeError as exc:
            raise Failure(f"cannot open {args.scene}: {str(exc).strip().removeprefix('Error: ')}") from None
    scene = Scene()
    for project in projects:
        set_up(prod, scene, project, args.only)
    try:
        bpy.ops.wm.save_as_mainfile(filepath=str(args.scene))
    except RuntimeError as exc:
        raise Failure(f"cannot save {args.scene}: {str(exc).strip().removeprefix('Error: ')}") from None
    added = scene.added
    print(f"added {added['projects']} projects, {added['sequences']} sequences and {added['shots']} shots")
    print(f"saved {args.scene}: {len(scene.collections)} collections and {len(scene.objects)} shots "
          "from the tracker")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("credentials", help="the credentials JSON file for Prod")
    parser.add_argument("scene", type=Path, help="the .blend to update (when it exists) and save")
    parser.add_argument("--project", help="this project only (default: every project)")
    parser.add_argument("--only", nargs="+", metavar="PART", help="the shots whose names contain a part")
    if argv is None and "--" in sys.argv:  # inside blender: its own arguments come before "--"
        argv = sys.argv[sys.argv.index("--") + 1:]
    args = parser.parse_args(argv)
    try:
        run(args)
    except Failure as exc:
        print(f"blender_shot_setup: {exc}", file=sys.stderr)
        return 1
    except (requests.exceptions.RequestException, *GAZU_ERRORS) as exc:
        print(f"blender_shot_setup: the tracker failed: {type(exc).__name__}: {exc}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
