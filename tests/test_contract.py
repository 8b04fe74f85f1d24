"""One contract over both trackers: devtracker and the real server (zou).

TESSAVOR_TRACKERS lists the trackers the suite runs on, comma-separated:
"devtracker" (the default, offline) and "zou" (a real stack started here,
see devtracker/real_stack.py). Each gets the same production, seeded through
gazu; every answer of Prod must equal what gazu called directly returns, and
the answers that depend on the server are pinned to the real server's.
"""
import json
import os
import re
import signal
import subprocess
import sys
import traceback
from pathlib import Path

import gazu
import pytest
import requests

from conftest import TRACEBACK_FILENAME, module_entries, request_json
from devtracker import production, real_stack, records, start

TRACKERS = os.environ.get("TESSAVOR_TRACKERS", "devtracker").split(",")
ROOT = Path(__file__).resolve().parent.parent
# devtracker starts with what the real stack starts with: one administrator.
BASE = {
    "login": {"email": real_stack.ADMIN_EMAIL, "password": real_stack.ADMIN_PASSWORD},
    "persons": [{"first_name": "Super", "last_name": "Admin", "email": real_stack.ADMIN_EMAIL,
                 "role": "admin"}],
}


class Tracker:
    def __init__(self, name, api_url, event_url, login, password):
        self.name, self.api_url, self.event_url = name, api_url, event_url
        self.login, self.password = login, password

    def credentials(self, folder, **changes):
        values = {"host_url": self.api_url, "event_url": self.event_url,
                  "login_id": self.login, "password": self.password, **changes}
        path = Path(folder) / f"{self.name}.json"
        path.write_text(json.dumps(values), encoding="utf-8")
        self.credentials_path = path
        return str(path)


@pytest.fixture(scope="module", params=TRACKERS)
def tracker(request):
    """A tracker with the production seeded, logged in through gazu."""
    if request.param == "zou":
        try:
            server = real_stack.start()
        except real_stack.StackError as exc:
            pytest.exit(str(exc), returncode=3)  # one line, never a skip
    elif request.param == "devtracker":
        server = start(BASE)
    else:
        raise ValueError(f"TESSAVOR_TRACKERS: unknown tracker {request.param!r}")
    try:
        made = Tracker(request.param, server.api_url, server.event_url, server.login, server.password)
        gazu.set_host(made.api_url)
        gazu.log_in(made.login, made.password)
        made.user = gazu.client.get_current_user()
        made.seeded = production.seed()
        yield made
    finally:
        server.stop()


@pytest.fixture
def logged_in(Prod, tracker, tmp_path):
    """A Prod constructed with the tracker's credentials."""
    return Prod(tracker.credentials(tmp_path))


def names(records_):
    return [r["name"] for r in records_]


PROJECT_NAMES = [name for name, *_ in production.PROJECTS]


def test_every_method_answers_what_gazu_answers(logged_in, tracker):
    values = json.loads(Path(tracker.credentials_path).read_text(encoding="utf-8"))
    assert logged_in.crenditial == values
    assert [getattr(logged_in, k) for k in values] == list(values.values())
    assert (gazu.get_host(), gazu.get_event_host()) == (tracker.api_url, tracker.event_url)
    assert logged_in.get_tasks() == gazu.user.all_tasks_to_do()
    assert logged_in.get_persons() == gazu.person.all_persons()
    assert logged_in.get_projects() == names(gazu.project.all_projects())
    for name in PROJECT_NAMES + [n.upper() for n in PROJECT_NAMES] + ["agent_327"]:
        project = gazu.project.get_project_by_name(name)
        assert logged_in.get_project(name) == project, name
        assert logged_in.get_episodes(name) == names(gazu.shot.all_episodes_for_project(project))
        assert logged_in.get_sequences(name) == names(gazu.shot.all_sequences_for_project(project))
        assert logged_in.get_shots(name) == names(gazu.shot.all_shots_for_project(project))
    for person in gazu.person.all_persons() + [{"full_name": "bob smith"}]:
        full_name = person["full_name"]
        assert logged_in.get_person_by_name(full_name) == gazu.person.get_person_by_full_name(full_name)


def test_the_seeded_production(logged_in, tracker):
    assert logged_in.get_projects() == sorted(PROJECT_NAMES, key=str.lower)
    for name, kind, n_sequences, n_shots, episodes in production.PROJECTS:
        shots = [f"sh{n * 10:04d}" for n in range(1, n_shots + 1)]
        assert logged_in.get_shots(name) == sorted(shots * n_sequences)
        assert logged_in.get_sequences(name) == [f"sq{s * 10:03d}" for s in range(1, n_sequences + 1)]
        # A TV show starts with an episode E01 of its own.
        assert logged_in.get_episodes(name) == (["E01", *episodes] if kind == "tvshow" else [])
    assert len(logged_in.get_shots("Agent 327")) == 1000
    # Project names match case aside, and as SQL's ILIKE matches: _ and % are wildcards.
    for spelling in ["agent 327", "AGENT 327", "Agent_327", "Agent%", "café ōkami 夏"]:
        assert logged_in.get_project(spelling)["name"] in PROJECT_NAMES, spelling
    for spelling in ["Agent", " Agent 327", "Agent 3270"]:
        assert logged_in.get_project(spelling) is None, spelling
    # A person's full name matches exactly.
    assert logged_in.get_person_by_name("Chloé Durand")["email"] == "chloe@example.com"
    assert logged_in.get_person_by_name("chloé durand") is None
    assert [p["full_name"] for p in logged_in.get_persons()] == (
        ["Super Admin"] + [f"{first} {last}" for first, last, *_ in production.PERSONS])
    # To-do: the user's open tasks, only in projects whose team the user is on.
    expected = sorted(
        (name, f"sh{n * 10:04d}", "Animation", "Todo")
        for name, *_ in production.PROJECTS if name != production.OFF_TEAM
        for n in range(1, production.TASKS_PER_PROJECT)
    )
    tasks = logged_in.get_tasks()
    assert sorted((t["project_name"], t["entity_name"], t["task_type_name"], t["task_status_name"])
                  for t in tasks) == expected
    assert {(t["sequence_name"], t["episode_name"], t["episode_id"], t["entity_type_name"],
             t["task_type_color"], t["task_status_short_name"], t["assignees"] == [tracker.user["id"]])
            for t in tasks} == {("sq010", None, "", "Shot", "#009688", "todo", True)}


ROW_FIELDS = {
    "projects": set(records.PROJECT),
    "episodes": set(records.ENTITY), "sequences": set(records.ENTITY), "shots": set(records.ENTITY),
    "persons": set(records.PERSON), "tasks": set(records.TASK),
}
TODO_EXTRA = {
    "assignees", "entity_canceled", "entity_data", "entity_description", "entity_name",
    "entity_preview_file_id", "entity_source_id", "entity_type_name", "episode_id", "episode_name",
    "last_comment", "project_has_avatar", "project_name", "sequence_name", "task_due_date",
    "task_duration", "task_estimation", "task_start_date", "task_status_color",
    "task_status_name", "task_status_short_name", "task_type_color", "task_type_for_entity",
    "task_type_name",
}
# Values every record of a kind gets when its creating call leaves them out.
SET_BY_SEED = {"id", "created_at", "updated_at", "name", "first_name", "last_name", "full_name",
               "email", "role", "production_type", "project_id", "parent_id", "created_by",
               "entity_type_id", "type", "project_status_id", "task_type_id", "task_status_id",
               "entity_id"}


def test_records_have_the_real_servers_fields_and_defaults(logged_in, tracker):
    project = gazu.project.get_project_by_name("Spring")
    listed = {
        "projects": gazu.project.all_projects(), "persons": gazu.person.all_persons(),
        "episodes": gazu.shot.all_episodes_for_project(gazu.project.get_project_by_name("Big Buck Bunny")),
        "sequences": gazu.shot.all_sequences_for_project(project),
        "shots": gazu.shot.all_shots_for_project(project),
        "tasks": gazu.client.fetch_all("tasks", {"project_id": project["id"]}),
    }
    for kind, rows in listed.items():
        assert rows and [sorted(set(r) ^ ROW_FIELDS[kind]) for r in rows] == [[]] * len(rows), kind
    for kind, made in tracker.seeded.items():  # what a creating call answers
        extra = set(records.CREATED_ONLY.get(kind, ()))
        assert [sorted(set(r) ^ ROW_FIELDS[kind] ^ extra ^ (
            set(records.TVSHOW_CREATED) if r.get("production_type") == "tvshow" else set()))
            for r in made] == [[]] * len(made), kind
        # The real server leaves a new shot's description null, an episode's or sequence's "".
        shape = dict(records.SHAPES[kind], description=None) if kind == "shots" else records.SHAPES[kind]
        for field, default in shape.items():
            if field not in SET_BY_SEED:
                assert {json.dumps(r[field]) for r in made} == {json.dumps(default)}, (kind, field)
    assert {frozenset(t) for t in logged_in.get_tasks()} == {frozenset(ROW_FIELDS["tasks"] | TODO_EXTRA)}


@pytest.mark.parametrize("method, line", [("get_episodes", 54), ("get_sequences", 61), ("get_shots", 75)])
def test_unknown_names(logged_in, method, line):
    assert logged_in.get_person_by_name("Nobody Atall") is None and logged_in.get_project("No Such Project") is None
    with pytest.raises(TypeError) as info:  # gazu subscripts the None it was given as project
        getattr(logged_in, method)("No Such Project")
    assert str(info.value) == "'NoneType' object is not subscriptable"
    assert module_entries(info.value) == [(f"tessavor.prod.Prod.{method}", line)]


@pytest.mark.parametrize("failure, exc", [
    ("wrong password", gazu.exception.AuthFailedException),
    ("unknown login", gazu.exception.AuthFailedException),
    ("stopped tracker", requests.exceptions.ConnectionError),
])
def test_failed_login_propagates_from_init(Prod, tracker, tmp_path, failure, exc):
    if failure == "stopped tracker":
        dead = start(BASE)
        dead.stop()
        changes = dict(host_url=dead.api_url, event_url=dead.event_url)
    else:
        changes = dict(password=tracker.password + "x") if failure == "wrong password" \
            else dict(login_id="nobody@example.com")
    path = tracker.credentials(tmp_path, **changes)
    with pytest.raises(exc) as info:
        Prod(path)
    assert type(info.value) is exc
    assert module_entries(info.value) == [("tessavor.prod.Prod.__init__", 17)]
    files = [entry.filename for entry in traceback.extract_tb(info.value.__traceback__)]
    assert files[files.index(TRACEBACK_FILENAME) + 1].startswith(str(Path(gazu.__file__).parent))


def http(tracker, method, path, body=None, authorization=None):
    return request_json(tracker.api_url + path, method, body, authorization)


NOT_FOUND = ("404 Not Found: The requested URL was not found on the server. If you entered the URL "
             "manually please check your spelling and try again.")
NO_JWT = "Missing JWT in cookies or headers (Missing cookie \"access_token_cookie\"; %s)"
UNKNOWN_ID = "00000000-0000-4000-8000-000000000000"
WRONG = {"login": False, "message": "Wrong email or password."}


def validation(field, message):
    return {"error": True, "message": "Validation error.", "data": {"errors": [{"field": field, "message": message}]}}


ANSWERS = [  # method, path, body, authorization ("token": the user's), status, body
    ("POST", "/auth/login", {"email": "@login", "password": "wrong"}, None, 400, WRONG),
    ("POST", "/auth/login", {"email": "nobody@example.com", "password": "@password"}, None, 400, WRONG),
    ("POST", "/auth/login", {"email": "@login"}, None, 400, WRONG),
    ("POST", "/auth/login", {}, None, 400, validation("email", "Field required")),
    ("POST", "/auth/login", b"{not json", None, 400, validation("email", "Field required")),
    ("POST", "/auth/login", [1, 2], None, 400,
     validation("", "Input should be a valid dictionary or instance of LoginSchema")),
    ("POST", "/auth/login", {"email": "@login", "password": 5}, None, 400,
     validation("password", "Input should be a valid string")),
    ("GET", "/auth/login", None, None, 405,
     {"error": True, "message": "The method is not allowed for the requested URL."}),
    ("GET", "/data/projects", None, None, 401, {"msg": NO_JWT % "Missing Authorization Header"}),
    ("GET", "/data/projects", None, "Basic abc", 401, {"msg": NO_JWT % (
        "Missing 'Bearer' type in 'Authorization' header. Expected 'Authorization: Bearer <JWT>'")}),
    ("GET", "/data/projects", None, "Bearer ", 422,
     {"msg": "Bad Authorization header. Expected 'Authorization: Bearer <JWT>'"}),
    ("GET", "/data/projects", None, "Bearer not-a-token", 422, {"msg": "Not enough segments"}),
    ("GET", "/data/projects", None,
     "Bearer eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9.eyJzdWIiOiIxMjM0NTY3ODkwIn0."
     "SflKxwRJSMeKKF2QT4fwpMeJf36POk6yJV_adQssw5c", 422, {"msg": "Signature verification failed"}),
    ("GET", "/data/nothing-here", None, "token", 404, {"error": True, "message": NOT_FOUND}),
    ("GET", "/nowhere", None, None, 404, {"error": True, "message": NOT_FOUND}),
    ("GET", f"/data/projects/{UNKNOWN_ID}", None, "token", 404, {"error": True, "message": NOT_FOUND}),
    ("GET", f"/data/projects/{UNKNOWN_ID}/shots", None, "token", 404, {"error": True, "message": NOT_FOUND}),
    ("GET", "/data/projects/not-an-id", None, "token", 400,
     {"error": True, "message": "Malformed ID.", "data": None}),
    ("POST", "/data/projects", {"name": "Spring"}, "token", 400,
     {"message": "A record with the same unique values already exists."}),
    ("POST", "/data/projects", {}, "token", 400, {"message": "A required field is missing."}),
    ("POST", "/data/persons", {"first_name": "B", "last_name": "S", "email": "BOB@example.com"}, "token",
     400, {"error": True, "message": "Email already in use.", "data": None}),
    ("POST", "/data/persons", {"first_name": "B", "last_name": "S", "email": "bob"}, "token",
     400, {"error": True, "message": "An email address must have an @-sign.", "data": None}),
]


def test_raw_answers_of_the_server(logged_in, tracker):
    status, body = http(tracker, "POST", "/auth/login", {"email": tracker.login.upper(), "password": tracker.password})
    assert status == 200 and body["login"] is True and body["user"]["id"] == tracker.user["id"]
    token = "Bearer " + body["access_token"]
    got, expected = [], []
    for method, path, sent, authorization, status, body in ANSWERS:
        if isinstance(sent, dict):  # "@login": the tracker's login, and so on
            sent = {k: getattr(tracker, v[1:]) if isinstance(v, str) and v.startswith("@") else v
                    for k, v in sent.items()}
        answer = http(tracker, method, path, sent, token if authorization == "token" else authorization)
        got.append((method, path, authorization, answer))
        expected.append((method, path, authorization, (status, body)))
    assert got == expected
    spring = gazu.project.get_project_by_name("Spring")
    # Creating routes answer 201; an episode, sequence or shot created again is the one there was.
    status, again = http(tracker, "POST", f"/data/projects/{spring['id']}/sequences", {"name": "sq010"}, token)
    assert (status, again) == (201, gazu.shot.all_sequences_for_project(spring)[0])
    task = tracker.seeded["tasks"][0]
    status, body = http(tracker, "POST", "/data/tasks", {k: task[k] for k in (
        "project_id", "entity_id", "task_type_id", "task_status_id", "name")}, token)
    assert (status, body) == (400, {"message": "Task already exists."})
    status, body = http(tracker, "POST", f"/data/projects/{spring['id']}/team", {"person_id": UNKNOWN_ID}, token)
    assert (status, body) == (400, {"error": True, "message": f"Person with id {UNKNOWN_ID} not found", "data": None})
    assert http(tracker, "GET", "/auth/logout", None, token) == (200, {"logout": True})
    assert http(tracker, "GET", "/data/projects", None, token) == (401, {"msg": "Token has been revoked"})


# -- the real stack's own promises: one line on failure, nothing left behind


def stack_command(env_changes, *args):
    env = {**os.environ, "PYTHONPATH": str(ROOT), **env_changes}
    return subprocess.Popen([sys.executable, "-m", "devtracker.real_stack", "--verbose", *args],
                            cwd=ROOT, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def left_behind(folder):
    """Processes whose command line names the stack's folder, and whether it still exists."""
    ps = subprocess.run(["ps", "-eo", "args"], capture_output=True, text=True).stdout
    return [line for line in ps.splitlines() if folder in line], os.path.exists(folder)


@pytest.mark.skipif("zou" not in TRACKERS, reason="the real stack runs with TESSAVOR_TRACKERS=...,zou")
@pytest.mark.parametrize("how", ["missing zou", "SIGTERM", "SIGINT"])
def test_real_stack_stops_all_it_started(how):
    broken = {"TESSAVOR_ZOU_VENV": "/nonexistent/venv-zou"} if how == "missing zou" else {}
    proc = stack_command(broken)
    lines = []
    try:
        for line in proc.stderr:
            lines.append(line)
            if how != "missing zou" and line.startswith("real stack: redis:"):
                proc.send_signal(getattr(signal, how))  # in the middle of start-up
                break
        out, err = proc.communicate(timeout=60)
    finally:
        proc.kill()
        proc.wait()
    lines += err.splitlines(keepends=True)
    folder = next(re.fullmatch(r"real stack: folder (\S+)\n", line)[1] for line in lines
                  if line.startswith("real stack: folder "))
    assert folder and left_behind(folder) == ([], False)
    if how == "missing zou":
        assert proc.returncode == 2 and out == ""
        assert lines[-1] == (
            "real tracker stack: step 'find zou' failed (zou): /nonexistent/venv-zou has no zou and "
            "gunicorn (make test-tracker makes it)\n")
    else:
        assert proc.returncode != 0 and out == ""
