"""devtracker, the offline tracker: the real gazu against it, raw HTTP, the command line."""

import json
import os
import signal
import subprocess
import sys
import urllib.error
import urllib.request
from pathlib import Path

import gazu
import pytest

from conftest import request_json
from devtracker import start

ROOT = Path(__file__).resolve().parent.parent

DATA_FILE = ROOT / "devtracker" / "sample_production.json"
DATA = json.loads(DATA_FILE.read_text(encoding="utf-8"))
USER = next(p for p in DATA["persons"] if p["email"] == DATA["login"]["email"])


@pytest.fixture
def server():
    with start() as srv:
        gazu.set_host(srv.api_url)  # gazu's client is process-wide
        gazu.set_token({})
        gazu.set_event_host(srv.event_url)
        yield srv


@pytest.fixture
def logged_in(server):
    gazu.log_in(server.login, server.password)
    yield server
    gazu.set_token({})


def names(records, key="name"):
    return sorted(r[key] for r in records)


def call(server, path, body=None, token=None, method=None):
    return request_json(server.api_url + path, method, body, None if token is None else "Bearer " + token,
                        timeout=10)


def test_server_attributes_and_stop(server):
    assert server.server_address[0] == "127.0.0.1" and server.port > 0
    assert server.api_url == f"http://127.0.0.1:{server.port}/api"
    assert server.event_url.startswith(f"http://127.0.0.1:{server.port}/")
    assert (server.login, server.password) == (DATA["login"]["email"], DATA["login"]["password"])
    server.stop()
    with pytest.raises(urllib.error.URLError):
        urllib.request.urlopen(server.api_url, timeout=5)


def test_gazu_lists_the_sample_production(logged_in):
    assert [p["name"] for p in gazu.project.all_projects()] == names(DATA["projects"])
    assert len(DATA["projects"]) >= 3 and any(DATA["episodes"])
    for project in DATA["projects"]:
        pid = project["id"]
        assert gazu.project.get_project_by_name(project["name"])["id"] == pid
        assert gazu.project.get_project_by_name(project["name"].upper())["id"] == pid
        for fetch, kind in [
            (gazu.shot.all_episodes_for_project, "episodes"),
            (gazu.shot.all_sequences_for_project, "sequences"),
            (gazu.shot.all_shots_for_project, "shots"),
        ]:
            expected = [r for r in DATA[kind] if r["project_id"] == pid]
            got = fetch(project)
            assert [r["name"] for r in got] == names(expected), (project["name"], kind)
            assert {r["id"] for r in got} == {r["id"] for r in expected}
            assert fetch(pid) == got  # an id string works as well as the dict


def test_gazu_persons_and_tasks(logged_in):
    persons = gazu.person.all_persons()
    assert names(persons, "full_name") == names(DATA["persons"], "full_name")
    for person in DATA["persons"]:
        # The full name matches exactly, as on the real server.
        assert gazu.person.get_person_by_full_name(person["full_name"].lower()) is None
        found = gazu.person.get_person_by_full_name(person["full_name"])
        if person["is_bot"]:  # gazu asks for is_bot=False
            assert found is None
        else:
            assert found["id"] == person["id"] and found["email"] == person["email"]
    bob = next(p for p in DATA["persons"] if p["first_name"] == "Bob")
    assert gazu.person.get_person_by_full_name("", "Bob", bob["last_name"])["id"] == bob["id"]
    mine = [t for t in DATA["tasks"] if USER["id"] in t["assignees"]]
    assert mine and len(mine) < len(DATA["tasks"])  # someone else's tasks exist too
    tasks = gazu.user.all_tasks_to_do()
    assert {t["id"] for t in tasks} == {t["id"] for t in mine}
    assert {(t["entity_name"], t["task_type_name"], t["project_name"]) for t in tasks} == {
        (t["entity_name"], t["task_type_name"], t["project_name"]) for t in mine
    }


def test_gazu_missing_records_and_bad_login(server):
    with pytest.raises(gazu.exception.AuthFailedException):
        gazu.log_in(server.login, server.password + "x")
    with pytest.raises(gazu.exception.AuthFailedException):
        gazu.log_in("nobody@example.com", server.password)
    with pytest.raises(gazu.exception.NotAuthenticatedException):
        gazu.project.all_projects()  # no token yet
    gazu.log_in(server.login, server.password)
    assert gazu.person.get_person_by_full_name("Nobody Atall") is None
    assert gazu.project.get_project_by_name("No Such Project") is None
    with pytest.raises(gazu.exception.RouteNotFoundException):
        gazu.shot.all_shots_for_project("00000000-0000-4000-8000-000000000000")


def test_raw_http_errors_are_json_and_harmless(server):
    # The answers the real server gives are pinned in test_contract.py; here, what is
    # devtracker's own: every error is JSON, and creating leaves the data file as it was.
    before = (DATA_FILE.read_bytes(), DATA_FILE.stat().st_mtime_ns)
    for token in (None, "", "not-a-token"):
        status, body = call(server, "/data/projects", token=token)
        assert status in (401, 422) and body["msg"], token
    for bad in (b"{not json", b"[1, 2]", b"\xff\xfe", b""):
        status, body = call(server, "/auth/login", body=bad, method="POST")
        assert status == 400 and body["error"] is True, bad
    status, body = call(server, "/auth/login", {"email": server.login, "password": server.password})
    assert status == 200 and body["login"] is True and body["user"]["id"] == USER["id"]
    token = body["access_token"]
    status, projects = call(server, "/data/projects", token=token)
    assert status == 200 and names(projects) == names(DATA["projects"])
    status, made = call(server, "/data/projects", {"name": "Written Nowhere"}, token=token)
    assert status == 201 and made["team"] == []
    assert "Written Nowhere" in names(call(server, "/data/projects", token=token)[1])
    assert call(server, "/auth/logout", token=token)[0] == 200
    assert call(server, "/data/projects", token=token)[0] == 401  # revoked
    assert (DATA_FILE.read_bytes(), DATA_FILE.stat().st_mtime_ns) == before


@pytest.mark.skipif(sys.platform == "win32",
                    reason="Windows delivers neither SIGINT nor SIGTERM to another process")
@pytest.mark.parametrize("signum, to_file", [(signal.SIGINT, True), (signal.SIGTERM, False)])
def test_command_line(tmp_path, signum, to_file):
    data = json.loads(DATA_FILE.read_text(encoding="utf-8"))
    data["projects"][0]["name"] = "Offline Demo"
    data_file = tmp_path / "prod.json"
    data_file.write_text(json.dumps(data), encoding="utf-8")
    credentials_file = tmp_path / "credentials.json"
    proc = subprocess.Popen(
        [sys.executable, "-m", "devtracker", "--port", "0", "--data", str(data_file)]
        + (["--credentials", str(credentials_file)] if to_file else []),
        cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
        env={**os.environ, "PYTHONPATH": str(ROOT)},
    )
    try:
        api_url = proc.stdout.readline().strip()  # the address alone, for scripts
        assert api_url.startswith("http://127.0.0.1:") and api_url.endswith("/api")
        login = data["login"]
        assert proc.stdout.readline() == f"login {login['email']}, password {login['password']}\n"
        printed = []
        for line in proc.stdout:
            if line == "serving until Ctrl-C\n":
                break
            printed.append(line)
        if to_file:
            assert printed == [f"credentials for Prod written to {credentials_file}\n"]
            credentials = json.loads(credentials_file.read_text(encoding="utf-8"))
        else:
            credentials = json.loads("".join(printed[1:]))
        assert credentials == {"host_url": api_url, "event_url": api_url[:-len("/api")] + "/socket.io",
                               "login_id": login["email"], "password": login["password"]}
        gazu.set_host(credentials["host_url"])
        gazu.log_in(credentials["login_id"], credentials["password"])
        assert "Offline Demo" in [p["name"] for p in gazu.project.all_projects()]
        proc.send_signal(signum)
        out, err = proc.communicate(timeout=10)
    finally:
        proc.kill()
        proc.wait()
    assert proc.returncode == 0 and out == "" and err == ""
