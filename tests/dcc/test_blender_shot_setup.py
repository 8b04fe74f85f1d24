"""examples/blender_shot_setup.py in Blender's Python against devtracker, and bpy imported first.

Collected where bpy imports (`make test-dcc`). Each run of the tool and each look at a saved scene
is a fresh process; what a scene should hold is read from the tracker through gazu, not the module.
"""
import json
import socket
import subprocess
import sys
from pathlib import Path

import gazu
import pytest

import devtracker
from conftest import IMPORT_FIRST, run_python

TOOL = Path(__file__).resolve().parents[2] / "examples" / "blender_shot_setup.py"
# The blocks with a tracker id: collections as [name, id, parent], objects as [name, type, id,
# collections, location].
SCENE = """
import bpy, json
bpy.ops.wm.open_mainfile(filepath={path!r})
parents = {{k.name: c.name for c in [bpy.context.scene.collection, *bpy.data.collections] for k in c.children}}
print(json.dumps([
    sorted([c.name, c["tracker_id"], parents.get(c.name)] for c in bpy.data.collections if "tracker_id" in c),
    sorted([o.name, o.type, o["tracker_id"], [c.name for c in o.users_collection], list(o.location)]
           for o in bpy.data.objects if "tracker_id" in o)]))
"""


@pytest.fixture
def credentials(tmp_path):
    with devtracker.start() as server:
        gazu.set_host(server.api_url)
        gazu.log_in(server.login, server.password)
        path = tmp_path / "credentials.json"
        path.write_text(json.dumps(devtracker.credentials(server)))
        yield path


def run_tool(*args, status=0):
    proc = subprocess.run([sys.executable, str(TOOL), *map(str, args)], capture_output=True, text=True)
    assert proc.returncode == status, proc.stderr
    return proc


def added(*args):
    return next(line for line in run_tool(*args).stdout.splitlines() if line.startswith("added "))


def scene_of(path):
    return json.loads(run_python(SCENE.format(path=str(path))).stdout.splitlines()[-1])


def from_tracker(projects, parts=("",)):
    collections, objects = [], []
    for project in projects:
        collections.append([project["name"], project["id"], "Scene Collection"])
        sequences = {s["id"]: f"{project['name']}/{s['name']}"
                     for s in gazu.shot.all_sequences_for_project(project)}
        collections += [[name, id, project["name"]] for id, name in sequences.items()]
        for shot in gazu.shot.all_shots_for_project(project):
            parent = sequences[shot["parent_id"]]
            if any(part in shot["name"] for part in parts):
                objects.append([f"{parent}/{shot['name']}", "EMPTY", shot["id"], [parent], [0, 0, 0]])
    return [sorted(collections), sorted(objects)]


def test_a_second_run_adds_nothing_and_the_saved_scene_is_the_tracker_s(credentials, tmp_path):
    blend = tmp_path / "shots.blend"
    assert added(credentials, blend) == "added 3 projects, 6 sequences and 16 shots"
    assert added(credentials, blend) == "added 0 projects, 0 sequences and 0 shots"
    assert scene_of(blend) == from_tracker(gazu.project.all_projects())


def test_a_rerun_adds_new_shots_and_leaves_what_the_user_changed(credentials, tmp_path):
    blend, project = tmp_path / "shots.blend", gazu.project.get_project_by_name("Agent 327")
    # "sq" is in every sequence's name and in no shot's: --only looks at the shots' names alone.
    assert added(credentials, blend, "--project", "Agent 327", "--only", "010", "sq") == (
        "added 1 projects, 2 sequences and 1 shots")
    assert scene_of(blend) == from_tracker([project], ["010"])
    run_python(f"""
        import bpy
        bpy.ops.wm.open_mainfile(filepath={str(blend)!r})
        shot = bpy.data.objects["Agent 327/sq010/sh010"]
        shot.name, shot.location = "hero", (1, 2, 3)
        bpy.ops.wm.save_as_mainfile(filepath={str(blend)!r})
        """)
    new = gazu.shot.new_shot(project, gazu.shot.get_sequence_by_name(project, "sq020"), "sh090")
    assert added(credentials, blend, "--project", "Agent 327", "--only", "010", "090") == (
        "added 0 projects, 0 sequences and 1 shots")
    collections, [sh010, sh090] = from_tracker([project], ["010", "090"])
    assert scene_of(blend) == [collections, [sh090, ["hero", *sh010[1:4], [1, 2, 3]]]]


SAVE_FAILED = "Cannot open file {tmp}/no/shots.blend@ for writing: No such file or directory"


# What the credentials file holds instead (None: no file), the scene, further arguments, the message.
@pytest.mark.parametrize("change, scene, args, message", [
    ({"host_url": "http://127.0.0.1:{closed}/api"}, "shots.blend", [],
     "no tracker answers at http://127.0.0.1:{closed}/api"),
    ({"password": "not it"}, "shots.blend", [],
     "the tracker at {host_url} refused the login and password of {path}"),
    ({}, "shots.blend", ["--project", "Nowhere"], "no project named 'Nowhere' on the tracker at {host_url}"),
    ({}, "no/shots.blend", [], "cannot save {tmp}/no/shots.blend: " + SAVE_FAILED),
    (None, "shots.blend", [], "cannot read credentials {path}: No such file or directory"),
    ([], "shots.blend", [], "credentials {path} must be a JSON object with host_url, event_url, login_id and "
                            "password as text"),
], ids=["no tracker", "wrong password", "unknown project", "nowhere to save", "no file", "not an object"])
def test_a_failure_is_one_line_and_exit_status_1(credentials, tmp_path, change, scene, args, message):
    with socket.socket() as bound:  # bound, never listening: a connection to it is refused
        bound.bind(("127.0.0.1", 0))
        values = json.loads(credentials.read_text())
        names = {**values, "closed": bound.getsockname()[1], "tmp": tmp_path, "path": credentials}
        if change is None:
            credentials.unlink()
        elif isinstance(change, dict):
            credentials.write_text(json.dumps({**values, **{k: v.format(**names) for k, v in change.items()}}))
        else:
            credentials.write_text(json.dumps(change))
        proc = run_tool(credentials, tmp_path / scene, *args, status=1)
    lines = proc.stderr.splitlines()  # Blender may say something first (4.2 does without /etc/mtab)
    assert lines[-1] == "blender_shot_setup: " + message.format(**names)
    assert [line for line in lines if "blender_shot_setup" in line or "Traceback" in line] == lines[-1:]
    assert "Traceback" not in proc.stdout and not (tmp_path / scene).exists()


def test_bpy_is_imported_before_the_module_here_and_in_fresh_interpreters():
    assert IMPORT_FIRST == ["bpy"], "run with TESSAVOR_IMPORT_FIRST=bpy, as make test-dcc does"
    order = "import sys, tessavor.prod; m = list(sys.modules); print(m.index('bpy') < m.index('tessavor.prod'))"
    import tessavor.prod  # noqa: F401

    assert list(sys.modules).index("bpy") < list(sys.modules).index("tessavor.prod")
    assert run_python(order).stdout.splitlines()[-1] == "True"
