"""A real tracker on loopback: PostgreSQL, Redis and zou under gunicorn.

    from devtracker.real_stack import start
    with start() as stack:             # about half a minute
        gazu.set_host(stack.api_url)
        gazu.log_in(stack.login, stack.password)

`python -m devtracker.real_stack [--verbose]` starts one, prints its API
address and serves it until interrupted.

Everything lives in a fresh temporary folder: the database cluster, Redis's
working folder, zou's preview and temporary folders and every log. Each
server listens on 127.0.0.1 on a free port. zou runs from its own venv,
.venv-zou at the repository's root (`make test-tracker` makes it;
TESSAVOR_ZOU_VENV names another), never from the module's. PostgreSQL
refuses to run as root, so when this runs as root the cluster belongs to
the `postgres` user and its programs run as that user.

Every process started here is stopped by its pid, and the folder removed,
however start-up or the caller's block ends: success, an exception, SIGINT
or SIGTERM. Should this process die without cleaning up, the servers get
SIGTERM from the kernel (the parent-death signal). A failure to start comes
out as StackError, whose message is one line naming the step, the program
and the port.
"""

import argparse
import ctypes
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request
from pathlib import Path

try:
    import pwd  # the stack runs on Linux; elsewhere this module only has to import
except ImportError:
    pwd = None

HOST = "127.0.0.1"
ROOT = Path(__file__).resolve().parent.parent
ZOU_VENV = Path(os.environ.get("TESSAVOR_ZOU_VENV") or ROOT / ".venv-zou")
ADMIN_EMAIL = "admin@example.com"
ADMIN_PASSWORD = "tessavor-admin"
START_TIMEOUT = 120.0  # seconds for each server to answer
STOP_TIMEOUT = 15.0  # seconds between a polite signal and SIGKILL


class StackError(RuntimeError):
    """A server of the stack could not be set up; the message is one line."""


def free_port():
    with socket.socket() as sock:
        sock.bind((HOST, 0))
        return sock.getsockname()[1]


def postgres_bin():
    """The folder of Debian's PostgreSQL programs (newest version first)."""
    found = sorted(Path("/usr/lib/postgresql").glob("*/bin/initdb"),
                   key=lambda p: int(p.parent.parent.name) if p.parent.parent.name.isdigit() else 0)
    if found:
        return found[-1].parent
    initdb = shutil.which("initdb")
    if initdb is None:
        raise StackError("step 'find PostgreSQL': initdb not found (install Debian's package postgresql-15)")
    return Path(initdb).parent


def _set_parent_death_signal():
    # Runs in the child between fork and exec, after any change of user.
    libc = ctypes.CDLL(None, use_errno=True)
    PR_SET_PDEATHSIG = 1
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


class RealStack:
    """The three servers; `start()` makes one and sets it up."""

    def __init__(self, verbose=False):
        self.verbose = verbose
        self.login, self.password = ADMIN_EMAIL, ADMIN_PASSWORD
        self.folder = None
        self.processes = []  # (name, Popen), in start order
        self.pg_port = self.redis_port = self.zou_port = None
        self.api_url = self.event_url = None
        self._as_postgres = os.geteuid() == 0
        self._stopped = threading.Event()

    # -- helpers ----------------------------------------------------------

    def _log(self, message):
        if self.verbose:
            print(f"real stack: {message}", file=sys.stderr, flush=True)

    def _fail(self, step, program, port, detail):
        detail = " ".join(str(detail).split())[-300:]
        where = f", port {port}" if port else ""
        raise StackError(f"real tracker stack: step '{step}' failed ({program}{where}): {detail}")

    def _user_kwargs(self):
        if not self._as_postgres:
            return {}
        try:
            pwd.getpwnam("postgres")
        except KeyError:
            self._fail("find the postgres user", "postgresql-15", None,
                       "running as root needs the 'postgres' user of Debian's postgresql package")
        return {"user": "postgres", "group": "postgres", "extra_groups": []}

    def _run(self, step, program, port, argv, env=None, postgres_user=False):
        """Runs one set-up command to its end; its output goes to the step's log."""
        log = self.folder / f"{step.replace(' ', '-')}.log"
        self._log(f"{step}: {' '.join(map(str, argv))}")
        kwargs = self._user_kwargs() if postgres_user else {}
        try:
            with open(log, "wb") as out:
                proc = subprocess.run([str(a) for a in argv], stdout=out, stderr=subprocess.STDOUT,
                                      stdin=subprocess.DEVNULL, env=env, timeout=START_TIMEOUT,
                                      cwd=self.folder, **kwargs)
        except (OSError, subprocess.SubprocessError) as exc:
            self._fail(step, program, port, exc)
        if proc.returncode != 0:
            lines = log.read_text(errors="replace").strip().splitlines()
            self._fail(step, program, port, f"exit status {proc.returncode}: "
                       + (lines[-1] if lines else "no output"))

    def _spawn(self, name, program, port, argv, env=None, postgres_user=False):
        """Starts a server in its own session, logging to NAME.log."""
        log = self.folder / f"{name}.log"
        self._log(f"{name}: {' '.join(map(str, argv))}")
        kwargs = self._user_kwargs() if postgres_user else {}
        try:
            with open(log, "wb") as out:
                proc = subprocess.Popen([str(a) for a in argv], stdout=out, stderr=subprocess.STDOUT,
                                        stdin=subprocess.DEVNULL, env=env, cwd=self.folder,
                                        start_new_session=True,
                                        preexec_fn=_set_parent_death_signal, **kwargs)
        except (OSError, subprocess.SubprocessError) as exc:
            self._fail(f"start {name}", program, port, exc)
        self.processes.append((name, proc))
        return proc

    def _wait_until(self, name, program, port, ready, proc):
        deadline = time.monotonic() + START_TIMEOUT
        while True:
            if proc.poll() is not None:
                lines = (self.folder / f"{name}.log").read_text(errors="replace").strip().splitlines()
                self._fail(f"start {name}", program, port, f"exited with status {proc.returncode}: "
                           + (lines[-1] if lines else "no output"))
            if ready():
                return
            if time.monotonic() > deadline:
                self._fail(f"start {name}", program, port, f"no answer within {START_TIMEOUT:.0f} s")
            time.sleep(0.1)

    # -- the servers --------------------------------------------------------

    def _start_postgres(self):
        bindir = postgres_bin()
        cluster, sockets = self.folder / "pgdata", self.folder / "pgsocket"
        sockets.mkdir()
        if self._as_postgres:
            info = pwd.getpwnam("postgres")
            cluster.mkdir()
            for path in (cluster, sockets):
                os.chown(path, info.pw_uid, info.pw_gid)
        self._run("initdb", bindir / "initdb", None,
                  [bindir / "initdb", "-D", cluster, "-U", "postgres", "--auth=trust",
                   "--encoding=UTF8", "--locale=C.UTF-8"], postgres_user=True)
        self.pg_port = free_port()
        proc = self._spawn("postgres", bindir / "postgres", self.pg_port,
                           [bindir / "postgres", "-D", cluster, "-h", HOST, "-p", self.pg_port,
                            "-k", sockets, "-c", "fsync=off", "-c", "synchronous_commit=off",
                            "-c", "full_page_writes=off"], postgres_user=True)
        ready = bindir / "pg_isready"
        self._wait_until("postgres", bindir / "postgres", self.pg_port, lambda: subprocess.run(
            [str(ready), "-q", "-h", HOST, "-p", str(self.pg_port)], stdin=subprocess.DEVNULL,
        ).returncode == 0, proc)
        self._run("createdb", bindir / "createdb", self.pg_port,
                  [bindir / "createdb", "-h", HOST, "-p", self.pg_port, "-U", "postgres", "zoudb"])

    def _start_redis(self):
        program = shutil.which("redis-server")
        if program is None:
            self._fail("find Redis", "redis-server", None,
                       "redis-server not found (install Debian's package redis-server)")
        self.redis_port = free_port()
        proc = self._spawn("redis", program, self.redis_port,
                           [program, "--bind", HOST, "--port", self.redis_port, "--save", "",
                            "--appendonly", "no", "--dir", self.folder, "--daemonize", "no"])

        def answers():
            try:
                with socket.create_connection((HOST, self.redis_port), timeout=1) as sock:
                    sock.sendall(b"PING\r\n")
                    return sock.recv(16).startswith(b"+PONG")
            except OSError:
                return False

        self._wait_until("redis", program, self.redis_port, answers, proc)

    def _zou_env(self):
        previews, tmp = self.folder / "previews", self.folder / "zou-tmp"
        previews.mkdir()
        tmp.mkdir()
        return {
            "PATH": f"{ZOU_VENV / 'bin'}:{os.environ.get('PATH', '/usr/bin:/bin')}",
            "HOME": str(self.folder),
            "LANG": "C.UTF-8",
            "DB_HOST": HOST, "DB_PORT": str(self.pg_port), "DB_USERNAME": "postgres",
            "DB_PASSWORD": "", "DB_DATABASE": "zoudb",
            "KV_HOST": HOST, "KV_PORT": str(self.redis_port),
            "SECRET_KEY": os.urandom(24).hex(),
            "PREVIEW_FOLDER": str(previews), "TMP_DIR": str(tmp),
            "BCRYPT_LOG_ROUNDS": "4",  # logins at test speed
            "MAIL_CHECK_DELIVERABILITY": "False",  # no DNS look-up of e-mail domains
        }

    def _start_zou(self):
        zou, gunicorn = ZOU_VENV / "bin" / "zou", ZOU_VENV / "bin" / "gunicorn"
        if not (zou.exists() and gunicorn.exists()):
            self._fail("find zou", "zou", None,
                       f"{ZOU_VENV} has no zou and gunicorn (make test-tracker makes it)")
        env = self._zou_env()
        self._run("zou init-db", zou, self.pg_port, [zou, "init-db"], env=env)
        self._run("zou init-data", zou, self.pg_port, [zou, "init-data"], env=env)
        self._run("zou create-admin", zou, self.pg_port,
                  [zou, "create-admin", self.login, "--password", self.password], env=env)
        self.zou_port = free_port()
        proc = self._spawn("zou", gunicorn, self.zou_port,
                           [gunicorn, "--bind", f"{HOST}:{self.zou_port}", "--workers", "2",
                            "--threads", "4", "--timeout", "120", "zou.app:app"], env=env)
        self.api_url = f"http://{HOST}:{self.zou_port}"
        self.event_url = self.api_url + "/socket.io"

        def answers():
            try:
                with urllib.request.urlopen(self.api_url + "/", timeout=2) as resp:
                    return resp.status == 200
            except (OSError, urllib.error.URLError):
                return False

        self._wait_until("zou", gunicorn, self.zou_port, answers, proc)

    # -- life cycle ---------------------------------------------------------

    def start(self):
        started = time.monotonic()
        self.folder = Path(tempfile.mkdtemp(prefix="tessavor-real-stack-"))
        self._log(f"folder {self.folder}")
        # The postgres user walks through this folder to its own.
        os.chmod(self.folder, 0o711)
        try:
            self._start_postgres()
            self._start_redis()
            self._start_zou()
        except BaseException:
            self.stop()
            raise
        self._log(f"ready at {self.api_url} in {time.monotonic() - started:.1f} s")
        return self

    def stop(self):
        """Stops every process started, newest first, then removes the folder."""
        if self._stopped.is_set():
            return
        self._stopped.set()
        for name, proc in reversed(self.processes):
            if proc.poll() is None:
                # postgres: SIGINT is its fast shutdown; the others stop on SIGTERM.
                proc.send_signal(signal.SIGINT if name == "postgres" else signal.SIGTERM)
                try:
                    proc.wait(STOP_TIMEOUT)
                except subprocess.TimeoutExpired:
                    self._log(f"{name} (pid {proc.pid}) ignored its signal; killing it")
                    os.killpg(proc.pid, signal.SIGKILL)
                    proc.wait()
        self.processes.clear()
        if self.folder is not None:
            shutil.rmtree(self.folder, ignore_errors=True)

    def pids(self):
        return [proc.pid for _, proc in self.processes]

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.stop()


def _raise_on_sigterm(signum, frame):
    raise SystemExit(128 + signum)


def start(verbose=False):
    """A set-up RealStack; raises StackError with one line when a step fails.

    Called from the main thread, SIGTERM becomes SystemExit for as long as
    the handler installed here stays, so that `with` and `finally` blocks
    around the stack still run on it.
    """
    if threading.current_thread() is threading.main_thread() and \
            signal.getsignal(signal.SIGTERM) is signal.SIG_DFL:
        signal.signal(signal.SIGTERM, _raise_on_sigterm)
    return RealStack(verbose).start()


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m devtracker.real_stack",
                                     description=__doc__.splitlines()[0])
    parser.add_argument("--verbose", action="store_true", help="log each step to stderr")
    args = parser.parse_args(argv)
    try:
        stack = start(args.verbose)
    except StackError as exc:
        print(exc, file=sys.stderr)
        return 2
    except KeyboardInterrupt:  # the stack has stopped what it had started
        return 128 + signal.SIGINT
    with stack:
        print(stack.api_url, flush=True)
        try:
            signal.pause()
        except (KeyboardInterrupt, SystemExit):
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
