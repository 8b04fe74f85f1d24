"""A small in-memory production tracker that the gazu client can talk to.

Everything is served under /api. A data file (or a dict of the same form)
gives the production at start; gazu's creating calls add to it in memory,
and nothing is ever written back. The routes are those gazu uses to log in,
list and create projects, teams, episodes, sequences, shots, persons and
tasks, and list the user's to-do tasks, answered as the real tracker server
answers them: the same field sets and defaults, the same name lookups, the
same status codes and error bodies.
"""

import functools
import json
import re
import secrets
import sys
import threading
import uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from urllib.parse import parse_qs, urlsplit

from . import records as shapes

HOST = "127.0.0.1"
SAMPLE_DATA = Path(__file__).with_name("sample_production.json")
COLLECTIONS = ("projects", "episodes", "sequences", "shots", "persons", "tasks")
CHILDREN = ("episodes", "sequences", "shots")
# Query parameters gazu may add to list routes that are not record filters.
NON_FILTERS = {"fields", "page", "limit", "relations"}
MAX_BODY = 1 << 20
UUID_RE = re.compile(r"[0-9a-fA-F]{8}(-[0-9a-fA-F]{4}){3}-[0-9a-fA-F]{12}")

NOT_FOUND = ("404 Not Found: The requested URL was not found on the server. If you entered "
             "the URL manually please check your spelling and try again.")
NOT_ALLOWED = "The method is not allowed for the requested URL."
WRONG_LOGIN = "Wrong email or password."
BEARER = "Expected 'Authorization: Bearer <JWT>'"
NO_JWT = "Missing JWT in cookies or headers (Missing cookie \"access_token_cookie\"; %s)"


class ApiError(Exception):
    """An error answer: `status` and the JSON `body`."""

    def __init__(self, status, message=None, body=None, **extra):
        super().__init__(message)
        self.status = status
        self.body = body if body is not None else {"error": True, "message": message, **extra}


def jwt_error(status, message):
    return ApiError(status, body={"msg": message})


def bad_request(message):  # the form of the server's checks of a request's values
    return ApiError(400, message, data=None)


def load_production(source):
    """Reads and checks a data file (or takes a dict); raises ValueError when unusable."""
    if isinstance(source, dict):
        path, data = "data", json.loads(json.dumps(source))
    else:
        path = source
        try:
            data = json.loads(Path(path).read_text(encoding="utf-8"))
        except json.JSONDecodeError as exc:
            raise ValueError(f"{path}: not valid JSON ({exc})") from None
    if not isinstance(data, dict):
        raise ValueError(f"{path}: the top level must be an object")
    for name in COLLECTIONS:
        records = data.setdefault(name, [])
        if not isinstance(records, list) or not all(
            isinstance(r, dict) and UUID_RE.fullmatch(str(r.setdefault("id", str(uuid.uuid4()))))
            for r in records
        ):
            raise ValueError(f"{path}: '{name}' must be a list of records with UUID ids")
    login = data.get("login")
    if not isinstance(login, dict) or not {"email", "password"} <= login.keys():
        raise ValueError(f"{path}: 'login' must hold an email and a password")
    if not any(p.get("email") == login["email"] for p in data["persons"]):
        raise ValueError(f"{path}: no person has the login email {login['email']!r}")
    return data


def _by_name(rows, name):
    """The reference row whose name or short name is `name`, case aside."""
    wanted = str(name).lower()
    for row in rows:
        if row["name"].lower() == wanted or (row.get("short_name") or "").lower() == wanted:
            return row
    raise ValueError(f"no reference record named {name!r}")


def _text(value):
    """A record value as the text a query parameter would carry."""
    if isinstance(value, bool):
        return "true" if value else "false"
    return "" if value is None else str(value)


@functools.lru_cache(maxsize=256)
def _like(pattern):
    """The server compares names as SQL ILIKE does: % and _ are wildcards."""
    parts = ("." if c == "_" else ".*" if c == "%" else re.escape(c) for c in pattern)
    return re.compile("".join(parts), re.IGNORECASE | re.DOTALL)


def _field_matches(value, wanted, key):
    if key == "name":
        return isinstance(value, str) and _like(wanted).fullmatch(value) is not None
    if key == "email":
        return isinstance(value, str) and value.lower() == wanted.lower()
    if isinstance(value, bool):
        return wanted.lower() == _text(value)
    return _text(value) == wanted


def filter_records(rows, query):
    """Rows that match every filter of the query; a key that no row has filters nothing."""
    wanted = {key: values[0] for key, values in query.items() if key not in NON_FILTERS}
    return [
        r for r in rows
        if all(key not in r or _field_matches(r[key], value, key) for key, value in wanted.items())
    ]


class Handler(BaseHTTPRequestHandler):
    server_version = "devtracker"
    timeout = 30  # an idle or stalled client never holds a thread forever

    # Routes: (method, pattern) -> handler name. Groups become arguments.
    ROUTES = [
        ("GET", r"", "api_info"),
        ("POST", r"auth/login", "login"),
        ("GET", r"auth/authenticated", "authenticated"),
        ("GET", r"auth/logout", "logout"),
        ("GET", r"data/user/tasks", "user_tasks"),
        ("GET", r"data/(%s)" % "|".join(shapes.REFERENCE), "list_reference"),
        ("GET", r"data/shots/all", "all_shots"),
        ("GET", r"data/(%s)" % "|".join(COLLECTIONS), "list_records"),
        ("POST", r"data/projects", "create_project"),
        ("POST", r"data/persons", "create_person"),
        ("POST", r"data/tasks", "create_task"),
        ("POST", r"data/projects/([^/]+)/team", "add_to_team"),
        ("GET", r"data/projects/([^/]+)/(episodes|sequences|shots)", "project_children"),
        ("POST", r"data/projects/([^/]+)/(episodes|sequences|shots)", "create_child"),
        ("GET", r"data/(%s)/([^/]+)" % "|".join(COLLECTIONS), "one_record"),
    ]
    PUBLIC = {"api_info", "login"}

    def log_message(self, format, *args):
        if self.server.verbose:
            sys.stderr.write("%s - %s\n" % (self.address_string(), format % args))

    def send_error(self, code, message=None, explain=None):
        # Replaces the HTML error page of http.server (bad request line, ...).
        self.close_connection = True
        reason = message or self.responses.get(code, ("error",))[0]
        self._send_json(code, {"error": True, "message": reason})

    def _send_json(self, status, body):
        payload = json.dumps(body, ensure_ascii=False).encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(payload)))
        if status == 405:
            self.send_header("Allow", getattr(self, "_allow", ""))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(payload)

    def _dispatch(self):
        self.status = 200
        try:
            body = self._route()
            status = self.status
        except ApiError as exc:
            status, body = exc.status, exc.body
        except Exception as exc:  # a bug here must not take the server down
            status, body = 500, {"error": True, "message": f"internal error: {exc!r}"}
        self._send_json(status, body)

    do_GET = do_POST = do_PUT = do_PATCH = do_DELETE = do_HEAD = _dispatch

    def _route(self):
        url = urlsplit(self.path)
        path = url.path.rstrip("/")
        if path != "/api" and not path.startswith("/api/"):
            raise ApiError(404, NOT_FOUND)
        path = path[len("/api/"):]
        self.query = parse_qs(url.query, keep_blank_values=True)
        self.body = self._read_body()
        method = "GET" if self.command == "HEAD" else self.command
        allowed = []
        for verb, pattern, name in self.ROUTES:
            match = re.fullmatch(pattern, path)
            if match is None:
                continue
            if verb != method:
                allowed.append(verb)
                continue
            if name not in self.PUBLIC:
                self.user = self._authenticate()
            with self.server.lock:
                return getattr(self, name)(*match.groups())
        if allowed:
            self._allow = ", ".join(sorted(set(allowed)))
            raise ApiError(405, NOT_ALLOWED)
        raise ApiError(404, NOT_FOUND)

    def _read_body(self):
        try:
            length = int(self.headers.get("Content-Length") or 0)
        except ValueError:
            length = -1
        if not 0 <= length <= MAX_BODY:
            self.close_connection = True
            raise ApiError(400 if length < 0 else 413, "bad or too large Content-Length")
        return self.rfile.read(length) if length else b""

    def _authenticate(self):
        header = self.headers.get("Authorization")
        if header is None:
            raise jwt_error(401, NO_JWT % "Missing Authorization Header")
        scheme, _, token = header.partition(" ")
        if scheme != "Bearer":
            raise jwt_error(401, NO_JWT % f"Missing 'Bearer' type in 'Authorization' header. {BEARER}")
        if not token or " " in token:
            raise jwt_error(422, f"Bad Authorization header. {BEARER}")
        if token.count(".") != 2:
            raise jwt_error(422, "Not enough segments")
        if token in self.server.revoked:
            raise jwt_error(401, "Token has been revoked")
        person_id = self.server.tokens.get(token)
        if person_id is None:
            raise jwt_error(422, "Signature verification failed")
        return self.server.records["persons"][person_id]

    def _json_body(self):
        """The request's JSON object; anything else counts as an empty one."""
        try:
            body = json.loads(self.body.decode("utf-8"))
        except (UnicodeDecodeError, json.JSONDecodeError):
            return {}
        return body

    def _record(self, collection, record_id):
        if not UUID_RE.fullmatch(record_id):
            raise bad_request("Malformed ID.")
        try:
            return self.server.records[collection][record_id]
        except KeyError:
            raise ApiError(404, NOT_FOUND) from None

    def _created(self, kind, record):
        self.status = 201
        return shapes.as_created(kind, record)

    # -- route handlers --------------------------------------------------

    def api_info(self):
        return {"api": "devtracker", "version": "1.0.0"}

    def login(self):
        body = self._json_body()
        if not isinstance(body, dict):
            raise ApiError(400, "Validation error.", data={"errors": [
                {"field": "", "message": "Input should be a valid dictionary or instance of LoginSchema"}]})
        for field in ("email", "password"):
            if field in body and not isinstance(body[field], str):
                raise ApiError(400, "Validation error.", data={"errors": [
                    {"field": field, "message": "Input should be a valid string"}]})
        if "email" not in body:
            raise ApiError(400, "Validation error.", data={"errors": [
                {"field": "email", "message": "Field required"}]})
        email, password = body["email"], body.get("password")
        person = next((p for p in self.server.data["persons"]
                       if (p["email"] or "").lower() == email.lower()), None)
        known = None if person is None else self.server.passwords.get(person["id"])
        # compare_digest: no timing hint about the password.
        if known is None or password is None or not secrets.compare_digest(
                password.encode(), known.encode()):
            raise ApiError(400, body={"login": False, "message": WRONG_LOGIN})
        access = ".".join(secrets.token_urlsafe(n) for n in (12, 24, 32))
        refresh = ".".join(secrets.token_urlsafe(n) for n in (12, 24, 32))
        self.server.tokens[access] = person["id"]
        return {"login": True, "user": shapes.shown("persons", person),
                "access_token": access, "refresh_token": refresh}

    def authenticated(self):
        return {"authenticated": True, "user": shapes.shown("persons", self.user)}

    def logout(self):
        token = self.headers.get("Authorization", "").partition(" ")[2].strip()
        self.server.tokens.pop(token, None)
        self.server.revoked.add(token)
        return {"logout": True}

    def user_tasks(self):
        """Open tasks of the user, in open projects whose team the user is on."""
        server, user_id, rows = self.server, self.user["id"], []
        for task in server.data["tasks"]:
            project = server.records["projects"][task["project_id"]]
            status = server.reference["task-status"][task["task_status_id"]]
            if (user_id not in task["assignees"] or user_id not in project["team"]
                    or status["is_done"] or project["project_status_id"] != server.open_status):
                continue
            rows.append(self._todo_row(task, project, status))
        return filter_records(rows, self.query)

    def _todo_row(self, task, project, status):
        server = self.server
        kind = server.kinds[task["entity_id"]]
        entity = server.records[kind][task["entity_id"]]
        task_type = server.reference["task-types"][task["task_type_id"]]
        sequence = episode = None
        if kind == "shots" and entity["parent_id"] in server.records["sequences"]:
            sequence = server.records["sequences"][entity["parent_id"]]
            episode = server.records["episodes"].get(sequence["parent_id"])
        return {
            **shapes.shown("tasks", task), "assignees": list(task["assignees"]),
            "project_name": project["name"], "project_has_avatar": project["has_avatar"],
            "entity_name": entity["name"], "entity_description": entity["description"],
            "entity_data": entity["data"], "entity_canceled": entity["canceled"],
            "entity_preview_file_id": entity["preview_file_id"] or "",
            "entity_source_id": entity["source_id"] or "",
            "entity_type_name": entity["type"],
            "sequence_name": sequence and sequence["name"],
            "episode_id": episode["id"] if episode else "",
            "episode_name": episode and episode["name"],
            "task_type_name": task_type["name"], "task_type_color": task_type["color"],
            "task_type_for_entity": task_type["for_entity"],
            "task_status_name": status["name"], "task_status_short_name": status["short_name"],
            "task_status_color": status["color"],
            "task_due_date": task["due_date"], "task_start_date": task["start_date"],
            "task_estimation": task["estimation"], "task_duration": task["duration"],
            "last_comment": {},
        }

    def list_reference(self, collection):
        return filter_records(list(self.server.reference[collection].values()), self.query)

    def list_records(self, collection):
        found = filter_records(self.server.data[collection], self._parent_query(collection))
        return [shapes.shown(collection, r) for r in found]

    def _parent_query(self, collection):
        """The query with a sequence's episode or a shot's sequence as its parent_id."""
        alias = {"sequences": "episode_id", "shots": "sequence_id"}.get(collection)
        query = dict(self.query)
        if alias in query:
            query["parent_id"] = query.pop(alias)
        return query

    def all_shots(self):
        rows = []
        for shot in filter_records(self.server.data["shots"], self._parent_query("shots")):
            sequence = self.server.records["sequences"].get(shot["parent_id"])
            project = self.server.records["projects"][shot["project_id"]]
            rows.append({**shapes.shown("shots", shot), "project_name": project["name"],
                         "sequence_name": sequence and sequence["name"]})
        return rows

    def project_children(self, project_id, collection):
        self._record("projects", project_id)
        children = [shapes.shown(collection, r) for r in self.server.data[collection]
                    if r["project_id"] == project_id]
        return filter_records(children, self.query)

    def one_record(self, collection, record_id):
        return shapes.as_created(collection, self._record(collection, record_id))

    def create_project(self):
        body = self._json_body()
        if not isinstance(body, dict) or not isinstance(body.get("name"), str):
            raise ApiError(400, body={"message": "A required field is missing."})
        if any(p["name"] == body["name"] for p in self.server.data["projects"]):
            raise ApiError(400, body={"message": "A record with the same unique values already exists."})
        fields = {k: body[k] for k in ("name", "production_type", "production_style", "fps",
                                       "ratio", "resolution", "description", "code") if k in body}
        for links in ("team", "asset_types", "task_statuses", "task_types"):
            fields[links] = list(body.get(links) or [])
        fields["project_status_id"] = self.server.open_status
        project = self.server.add("projects", fields)
        answer = self._created("projects", project)
        if project["production_type"] == "tvshow":  # a TV show starts with its first episode
            first = self.server.add("episodes", {"name": "E01", "project_id": project["id"]}, self.user["id"])
            answer[shapes.TVSHOW_CREATED[0]] = first["id"]
        return answer

    def create_person(self):
        body = self._json_body()
        email = body.get("email") if isinstance(body, dict) else None
        if not isinstance(email, str) or "@" not in email:
            raise bad_request("An email address must have an @-sign.")
        if any((p["email"] or "").lower() == email.lower() for p in self.server.data["persons"]):
            raise bad_request("Email already in use.")
        fields = {k: body[k] for k in ("first_name", "last_name", "email", "phone", "role",
                                       "desktop_login", "active", "contract_type")
                  if body.get(k) is not None}
        fields["departments"] = list(body.get("departments") or [])
        person = self.server.add("persons", fields)
        if isinstance(body.get("password"), str):
            self.server.passwords[person["id"]] = body["password"]
        return self._created("persons", person)

    def create_task(self):
        body = self._json_body()
        required = ("project_id", "entity_id", "task_type_id", "task_status_id")
        if not isinstance(body, dict) or not all(isinstance(body.get(k), str) for k in required):
            raise ApiError(400, body={"message": "A required field is missing."})
        name = body.get("name") or "main"
        if any((t["entity_id"], t["task_type_id"], t["name"])
               == (body["entity_id"], body["task_type_id"], name) for t in self.server.data["tasks"]):
            raise ApiError(400, body={"message": "Task already exists."})
        if body["entity_id"] not in self.server.kinds:
            raise ApiError(404, NOT_FOUND)
        fields = {k: body[k] for k in required}
        fields.update(name=name, assignees=list(body.get("assignees") or []),
                      assigner_id=body.get("assigner_id"))
        return self._created("tasks", self.server.add("tasks", fields))

    def add_to_team(self, project_id):
        project = self._record("projects", project_id)
        body = self._json_body()
        person_id = body.get("person_id") if isinstance(body, dict) else None
        if person_id not in self.server.records["persons"]:
            raise bad_request(f"Person with id {person_id} not found")
        if person_id not in project["team"]:
            project["team"].append(person_id)
        self.status = 201
        return shapes.shown("projects", project)

    def create_child(self, project_id, collection):
        self._record("projects", project_id)
        body = self._json_body()
        if not isinstance(body, dict) or not isinstance(body.get("name"), str):
            raise ApiError(400, body={"message": "A required field is missing."})
        parent = {"sequences": body.get("episode_id"), "shots": body.get("sequence_id")}.get(collection)
        for record in self.server.data[collection]:  # creating it again answers the one there is
            if (record["project_id"], record["name"], record["parent_id"]) == (project_id, body["name"], parent):
                return self._created(collection, record)
        fields = {"name": body["name"], "project_id": project_id, "parent_id": parent}
        for key in ("nb_frames", "description", "data"):
            if body.get(key) is not None:
                fields[key] = body[key]
        return self._created(collection, self.server.add(collection, fields, self.user["id"]))


class DevTracker(ThreadingHTTPServer):
    """The server; `start()` makes one and serves it from a background thread."""

    daemon_threads = True

    def __init__(self, data=None, port=0, verbose=False):
        """`data`: a data file's path (default: the sample) or a dict of the same form."""
        self.data_path = None if isinstance(data, dict) else Path(data) if data else SAMPLE_DATA
        source = load_production(data if isinstance(data, dict) else self.data_path)
        self.reference = {name: {r["id"]: r for r in rows} for name, rows in shapes.REFERENCE.items()}
        self.open_status = _by_name(shapes.PROJECT_STATUSES, "Open")["id"]
        self.data = {name: [] for name in COLLECTIONS}
        self.records = {name: {} for name in COLLECTIONS}
        self.kinds = {}  # entity id -> its collection
        self.lock = threading.RLock()
        try:
            for name in COLLECTIONS:
                for row in source[name]:
                    self.add(name, self._from_file(name, row), row.get("created_by"))
        except (KeyError, ValueError) as exc:
            raise ValueError(f"{self.data_path or 'data'}: unusable record: {exc}") from None
        self.login = source["login"]["email"]
        self.password = source["login"]["password"]
        self.login_person = next(p for p in self.data["persons"] if p["email"] == self.login)
        self.passwords = {self.login_person["id"]: self.password}
        self.tokens = {}
        self.revoked = set()
        self.verbose = verbose
        self._thread = None
        super().__init__((HOST, port), Handler)
        self.port = self.server_address[1]
        self.url = f"http://{HOST}:{self.port}"
        self.api_url = self.url + "/api"
        self.event_url = self.url + "/socket.io"

    def _from_file(self, name, row):
        """A data file's record as creation fields: reference names become ids."""
        if name == "tasks":
            row = dict(row)
            if "task_type_id" not in row:
                row["task_type_id"] = _by_name(shapes.TASK_TYPES, row["task_type_name"])["id"]
            if "task_status_id" not in row:
                row["task_status_id"] = _by_name(shapes.TASK_STATUSES, row["task_status_name"])["id"]
        status_name = row.get("project_status_name", "Open")
        row = {k: v for k, v in row.items() if k in shapes.SHAPES[name] or
               k in shapes.CREATED_ONLY.get(name, ())}
        if name == "projects":
            row.setdefault("team", [])
            status = _by_name(shapes.PROJECT_STATUSES, status_name)
            row.setdefault("project_status_id", status["id"])
        return row

    def add(self, name, fields, created_by=None):
        """Stores a new record of collection `name`; returns it."""
        record = shapes.complete(name, fields, created_by)
        with self.lock:
            self.data[name].append(record)
            self.records[name][record["id"]] = record
            if name in CHILDREN:
                self.kinds[record["id"]] = name
        return record

    def handle_error(self, request, client_address):
        if self.verbose:
            super().handle_error(request, client_address)

    def start(self):
        # A short poll interval keeps stop() quick.
        self._thread = threading.Thread(
            target=self.serve_forever, args=(0.05,), name="devtracker", daemon=True
        )
        self._thread.start()
        return self

    def stop(self):
        """Stops serving, joins the thread and closes the listening socket."""
        if self._thread is not None:
            self.shutdown()
            self._thread.join()
            self._thread = None
        self.server_close()

    def __exit__(self, *exc_info):
        self.stop()


def credentials(tracker):
    """The credentials file's members for a running tracker (devtracker, or a real stack):
    what `Prod(path)` reads."""
    return {"host_url": tracker.api_url, "event_url": tracker.event_url,
            "login_id": tracker.login, "password": tracker.password}


def start(data=None, port=0, verbose=False):
    """A DevTracker serving `data` (default: the sample) on 127.0.0.1:`port`."""
    return DevTracker(data, port, verbose).start()
