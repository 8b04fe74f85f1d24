"""A small read-only production tracker that the gazu client can talk to.

Everything is served under /api from one JSON data file, read once at start
and never written. Only the routes gazu uses for logging in, listing projects,
episodes, sequences, shots, persons and the user's to-do tasks are served.
"""

import json
import re
import secrets
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from urllib.parse import parse_qs, urlsplit

HOST = "127.0.0.1"
SAMPLE_DATA = Path(__file__).with_name("sample_production.json")
COLLECTIONS = ("projects", "episodes", "sequences", "shots", "persons", "tasks")
# Query parameters gazu may add to list routes that are not record filters.
NON_FILTERS = {"fields", "page", "limit", "relations"}
MAX_BODY = 1 << 20
UUID_RE = re.compile(r"[0-9a-fA-F]{8}(-[0-9a-fA-F]{4}){3}-[0-9a-fA-F]{12}")


class ApiError(Exception):
    def __init__(self, status, message, **extra):
        super().__init__(message)
        self.status = status
        self.body = {"error": True, "message": message, **extra}


def load_production(path):
    """Reads and checks the data file; raises ValueError when it is unusable."""
    try:
        data = json.loads(Path(path).read_text(encoding="utf-8"))
    except json.JSONDecodeError as exc:
        raise ValueError(f"{path}: not valid JSON ({exc})") from None
    if not isinstance(data, dict):
        raise ValueError(f"{path}: the top level must be an object")
    for name in COLLECTIONS:
        records = data.setdefault(name, [])
        if not isinstance(records, list) or not all(
            isinstance(r, dict) and UUID_RE.fullmatch(str(r.get("id", ""))) for r in records
        ):
            raise ValueError(f"{path}: '{name}' must be a list of records with UUID ids")
    login = data.get("login")
    if not isinstance(login, dict) or not {"email", "password"} <= login.keys():
        raise ValueError(f"{path}: 'login' must hold an email and a password")
    if not any(p.get("email") == login["email"] for p in data["persons"]):
        raise ValueError(f"{path}: no person has the login email {login['email']!r}")
    return data


def _text(value):
    """A record value as the text a query parameter would carry."""
    if isinstance(value, bool):
        return "true" if value else "false"
    return "" if value is None else str(value)


def filter_records(records, query):
    """Records whose fields match every query parameter, case-insensitively."""
    wanted = {
        key: {v.casefold() for v in values}
        for key, values in query.items()
        if key not in NON_FILTERS
    }
    return [
        r
        for r in records
        if all(key in r and _text(r[key]).casefold() in values for key, values in wanted.items())
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
        ("GET", r"data/(persons|projects)", "list_records"),
        ("GET", r"data/projects/([^/]+)/(episodes|sequences|shots)", "project_children"),
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
        try:
            status, body = 200, self._route()
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
            raise ApiError(404, f"no route {url.path}")
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
            return getattr(self, name)(*match.groups())
        if allowed:
            self._allow = ", ".join(sorted(set(allowed)))
            raise ApiError(405, f"method {self.command} not allowed on {url.path}")
        raise ApiError(404, f"no route {url.path}")

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
        scheme, _, token = self.headers.get("Authorization", "").partition(" ")
        person_id = self.server.tokens.get(token.strip()) if scheme.lower() == "bearer" else None
        if person_id is None:
            raise ApiError(401, "missing or invalid access token")
        return self.server.records["persons"][person_id]

    def _json_body(self):
        try:
            body = json.loads(self.body.decode("utf-8"))
        except (UnicodeDecodeError, json.JSONDecodeError):
            raise ApiError(400, "the request body is not valid JSON") from None
        if not isinstance(body, dict):
            raise ApiError(400, "the request body must be a JSON object")
        return body

    # -- route handlers --------------------------------------------------

    def api_info(self):
        return {"api": "devtracker", "version": "1.0.0"}

    def login(self):
        body = self._json_body()
        login = self.server.data["login"]
        email, password = body.get("email"), body.get("password")
        if not isinstance(email, str) or not isinstance(password, str):
            raise ApiError(400, "email and password are required", login=False)
        # compare_digest: no timing hint about the password.
        if email.casefold() != login["email"].casefold() or not secrets.compare_digest(
            password.encode(), login["password"].encode()
        ):
            raise ApiError(400, "wrong email or password", login=False)
        user = self.server.login_person
        access, refresh = secrets.token_urlsafe(24), secrets.token_urlsafe(24)
        with self.server.lock:
            self.server.tokens[access] = user["id"]
        return {"login": True, "user": user, "access_token": access, "refresh_token": refresh}

    def authenticated(self):
        return {"authenticated": True, "user": self.user}

    def logout(self):
        token = self.headers.get("Authorization", "").partition(" ")[2].strip()
        with self.server.lock:
            self.server.tokens.pop(token, None)
        return {"logout": True}

    def user_tasks(self):
        tasks = [t for t in self.server.data["tasks"] if self.user["id"] in t.get("assignees", ())]
        return filter_records(tasks, self.query)

    def list_records(self, collection):
        return filter_records(self.server.data[collection], self.query)

    def project_children(self, project_id, collection):
        if project_id not in self.server.records["projects"]:
            raise ApiError(404, f"no project {project_id}")
        children = [r for r in self.server.data[collection] if r.get("project_id") == project_id]
        return filter_records(children, self.query)

    def one_record(self, collection, record_id):
        try:
            return self.server.records[collection][record_id]
        except KeyError:
            raise ApiError(404, f"no record {record_id} in {collection}") from None


class DevTracker(ThreadingHTTPServer):
    """The server; `start()` makes one and serves it from a background thread."""

    daemon_threads = True

    def __init__(self, data_path=None, port=0, verbose=False):
        self.data_path = Path(data_path) if data_path else SAMPLE_DATA
        self.data = load_production(self.data_path)
        self.records = {name: {r["id"]: r for r in self.data[name]} for name in COLLECTIONS}
        self.login = self.data["login"]["email"]
        self.password = self.data["login"]["password"]
        self.login_person = next(p for p in self.data["persons"] if p.get("email") == self.login)
        self.tokens = {}
        self.lock = threading.Lock()
        self.verbose = verbose
        self._thread = None
        super().__init__((HOST, port), Handler)
        self.port = self.server_address[1]
        self.url = f"http://{HOST}:{self.port}"
        self.api_url = self.url + "/api"
        self.event_url = self.url + "/socket.io"

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


def start(data_path=None, port=0, verbose=False):
    """A DevTracker serving `data_path` (default: the sample) on 127.0.0.1:`port`."""
    return DevTracker(data_path, port, verbose).start()
