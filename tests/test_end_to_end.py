"""The real gazu against devtracker: construction, every listing and lookup, failures."""
import json
import traceback
from pathlib import Path

import gazu
import pytest
import requests

from conftest import TRACEBACK_FILENAME, module_entries
from devtracker import SAMPLE_DATA, start

DATA = json.loads(Path(SAMPLE_DATA).read_text(encoding="utf-8"))


def sorted_names(records):  # gazu sorts these listings by lower-cased name
    return sorted((r["name"] for r in records), key=str.lower)


@pytest.fixture
def tracker(tmp_path):
    server, path = start(), tmp_path / "credentials.json"
    values = dict(host_url=server.api_url, event_url=server.event_url, login_id=server.login, password=server.password)
    path.write_text(json.dumps(values), encoding="utf-8")
    yield server, str(path), values
    server.stop()


def test_construction_logs_in_and_every_answer_matches_the_data(Prod, tracker):
    server, path, values = tracker
    p = Prod(path)
    assert p.crenditial == values and [getattr(p, k) for k in values] == list(values.values())
    assert (gazu.get_host(), gazu.get_event_host()) == (server.api_url, server.event_url)
    user = next(r for r in DATA["persons"] if r["email"] == server.login)
    mine = [t for t in DATA["tasks"] if user["id"] in t["assignees"]]
    assert mine and len(mine) < len(DATA["tasks"])  # the login user's tasks only
    assert p.get_tasks() == mine and p.get_persons() == DATA["persons"]  # unsorted: no "name"
    assert p.get_projects() == sorted_names(DATA["projects"])
    for project in DATA["projects"]:
        assert p.get_project(project["name"]) == project
        for method, kind in [("get_episodes", "episodes"), ("get_sequences", "sequences"), ("get_shots", "shots")]:
            expected = sorted_names(r for r in DATA[kind] if r["project_id"] == project["id"])
            assert getattr(p, method)(project["name"]) == expected, (method, project["name"])
    for person in DATA["persons"]:  # gazu leaves bots out of this lookup
        assert p.get_person_by_name(person["full_name"]) == (None if person["is_bot"] else person)


@pytest.mark.parametrize("method, line", [("get_episodes", 54), ("get_sequences", 61), ("get_shots", 75)])
def test_unknown_names(Prod, tracker, method, line):
    p = Prod(tracker[1])
    assert p.get_person_by_name("Nobody Atall") is None and p.get_project("No Such Project") is None
    with pytest.raises(TypeError) as info:  # gazu subscripts the None it was given as project
        getattr(p, method)("No Such Project")
    assert str(info.value) == "'NoneType' object is not subscriptable"
    assert module_entries(info.value) == [(f"tessavor.prod.Prod.{method}", line)]


@pytest.mark.parametrize("failure, exc", [
    ("wrong password", gazu.exception.AuthFailedException),
    ("stopped tracker", requests.exceptions.ConnectionError),
])
def test_failed_login_propagates_from_init(Prod, tracker, failure, exc):
    server, path, values = tracker
    if failure == "wrong password":
        values = {**values, "password": server.password + "x"}
    else:
        dead = start()
        dead.stop()
        values = {**values, "host_url": dead.api_url, "event_url": dead.event_url}
    Path(path).write_text(json.dumps(values), encoding="utf-8")
    with pytest.raises(exc) as info:
        Prod(path)
    assert type(info.value) is exc
    assert module_entries(info.value) == [("tessavor.prod.Prod.__init__", 17)]
    files = [entry.filename for entry in traceback.extract_tb(info.value.__traceback__)]
    assert files[files.index(TRACEBACK_FILENAME) + 1].startswith(str(Path(gazu.__file__).parent))  # gazu's below
