"""examples/blender_shot_setup.py in Blender's Python, against devtracker: runs, reruns, --only, failures.

Collected only where bpy imports (`make test-dcc`). Each run of the tool and each look at a saved
scene is a fresh process, as a user's would be; what the scene should hold is read from the tracker
through gazu directly, not through the module.
"""
import json
import subprocess
import sys
from pathlib import Path

import gazu
import pytest

import devtracker
from conftest import run_python

TOOL = Path(__file__).resolve().parents[2] / "examples" / "blender_shot_setup.py"

# Every collection as [name, tracker id or "", parent's name], every object as [name, type, tracker
# id or "", its collections' names, location], as the saved file holds them.
SCENE = """
import bpy, json
bpy.ops.wm.open_mainfile(filepath={path!r})
top = bpy.context.scene.collection
parents = {{child.name: c.name for c in [top, *bpy.data.collections] for child in c.children}}
print(json.dumps({{
    "collections": sorted([c.name, c.get("tracker_id", ""), parents.get(c.name)]
                          for c in bpy.data.collections),
    "objects": sorted([o.name, o.type, o.get("tracker_id", ""), [c.name for c in o.users_collection],
                       [round(v, 3) for v in o.location]] for o in bpy.data.objects),
}}))
"""


@pytest.fixture
def tracker():
    with devtracker.start() as server:
        gazu.set_host(server.api_url)
        gazu.log_in(server.login, server.password)
        yield server


def write_credentials(path, server, **changed):
    path.write_text(json.dumps({**devtracker.credentials(server), **changed}))
    return path


@pytest.fixture
def credentials(tracker, tmp_path):
    return write_credentials(tmp_path / "credentials.json", tracker)


def run_tool(*args):
    return subprocess.run([sys.executable, str(TOOL), *map(str, args)], capture_output=True, text=True,
                          timeout=300)


def added(proc):
    """The tool's line of what it added."""
    assert proc.returncode == 0, proc.stderr
    return next(line for line in proc.stdout.splitlines() if line.startswith("added "))


def scene_of(path):
    return json.loads(run_python(SCENE.format(path=str(path))).stdout.splitlines()[-1])


def from_tracker(projects, parts=None):
    """(collections, objects) the tracker's records call for, as scene_of lists the tool's own."""
    collections, objects = [], []
    for project in projects:
        collections.append([project["name"], project["id"], "Scene Collection"])
        sequences = {}
        for sequence in gazu.shot.all_sequences_for_project(project):
            sequences[sequence["id"]] = f"{project['name']}/{sequence['name']}"
            collections.append([sequences[sequence["id"]], sequence["id"], project["name"]])
        for shot in gazu.shot.all_shots_for_project(project):
            if parts is None or any(part in shot["name"] for part in parts):
                parent = sequences[shot["parent_id"]]
                objects.append([f"{parent}/{shot['name']}", "EMPTY", shot["id"], [parent], [0, 0, 0]])
    return sorted(collections), sorted(objects)


def tool_made(scene):
    return ([c for c in scene["collections"] if c[1]], [o for o in scene["objects"] if o[2]])


def test_a_second_run_adds_nothing_and_the_saved_scene_is_the_tracker_s(credentials, tmp_path):
    blend = tmp_path / "shots.blend"
    collections, objects = expected = from_tracker(gazu.project.all_projects())
    projects = sum(parent == "Scene Collection" for _, _, parent in collections)
    assert added(run_tool(credentials, blend)) == (
        f"added {projects} projects, {len(collections) - projects} sequences and {len(objects)} shots")
    assert added(run_tool(credentials, blend)) == "added 0 projects, 0 sequences and 0 shots"
    scene = scene_of(blend)
    assert tool_made(scene) == expected
    assert [o[0] for o in scene["objects"] if not o[2]] == ["Camera", "Cube", "Light"]


def test_a_rerun_adds_new_shots_and_leaves_what_the_user_changed(credentials, tmp_path):
    blend = tmp_path / "shots.blend"
    project = gazu.project.get_project_by_name("Agent 327")
    # "sq" is in every sequence's name and no shot's: --only looks at the shots' names alone.
    assert added(run_tool(credentials, blend, "--project", "Agent 327", "--only", "010", "sq")) == (
        "added 1 projects, 2 sequences and 1 shots")
    assert tool_made(scene_of(blend)) == from_tracker([project], ["010"])
    run_python(f"""
        import bpy
        bpy.ops.wm.open_mainfile(filepath={str(blend)!r})
        shot = bpy.data.objects["Agent 327/sq010/sh010"]
        shot.name, shot.location = "hero", (1, 2, 3)
        bpy.ops.wm.save_as_mainfile(filepath={str(blend)!r})
        """)
    sequence = gazu.shot.get_sequence_by_name(project, "sq020")
    new = gazu.shot.new_shot(project, sequence, "sh090")
    assert added(run_tool(credentials, blend, "--project", "Agent 327", "--only", "010", "090")) == (
        "added 0 projects, 0 sequences and 1 shots")
    collections, objects = tool_made(scene_of(blend))
    hero = gazu.shot.get_shot_by_name(gazu.shot.get_sequence_by_name(project, "sq010"), "sh010")
    assert objects == [
        ["Agent 327/sq020/sh090", "EMPTY", new["id"], ["Agent 327/sq020"], [0, 0, 0]],
        ["hero", "EMPTY", hero["id"], ["Agent 327/sq010"], [1, 2, 3]],
    ]
    assert collections == from_tracker([project])[0]


@pytest.mark.parametrize("case", ["no tracker", "wrong password", "unknown project", "no such file",
                                  "not an object", "nowhere to save"])
def test_a_failure_is_one_line_and_exit_status_1(case, tracker, credentials, tmp_path):
    blend, args = tmp_path / "shots.blend", []
    url = tracker.api_url
    if case == "no tracker":
        with devtracker.start() as gone:
            url = gone.api_url
        write_credentials(credentials, gone)
        expected = f"no tracker answers at {url}"
    elif case == "wrong password":
        write_credentials(credentials, tracker, password="not it")
        expected = f"the tracker at {url} refused the login and password of {credentials}"
    elif case == "unknown project":
        args = ["--project", "Nowhere"]
        expected = f"no project named 'Nowhere' on the tracker at {url}"
    elif case == "no such file":
        credentials = tmp_path / "missing.json"
        expected = f"cannot read credentials {credentials}: No such file or directory"
    elif case == "not an object":
        credentials.write_text("[]")
        expected = (f"credentials {credentials} must be a JSON object with host_url, event_url, login_id "
                    "and password as text")
    else:  # Blender's own message follows, which names the file it tried to write
        blend = tmp_path / "missing" / "shots.blend"
        expected = f"cannot save {blend}: Cannot open file {blend}"
    proc = run_tool(credentials, blend, *args)
    assert proc.returncode == 1
    # Blender may say something of its own first (in a chroot without /etc/mtab, 4.2 does).
    [line] = [line for line in proc.stderr.splitlines() if line.startswith("blender_shot_setup")]
    assert proc.stderr.endswith(line + "\n")
    assert line == f"blender_shot_setup: {expected}" or case == "nowhere to save" and line.startswith(
        f"blender_shot_setup: {expected}") and line.endswith("for writing: No such file or directory")
    assert "Traceback" not in proc.stdout + proc.stderr
    assert not blend.exists()
