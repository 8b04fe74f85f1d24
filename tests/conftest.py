import importlib
import importlib.util
import json
import os
import subprocess
import sys
import tempfile
import textwrap
import urllib.error
import urllib.request

import pytest

# The checks of the Windows build run from `make check-windows`, which names the files; those
# of a DCC's Python from `make test-dcc`, in a venv where Blender's bpy imports.
collect_ignore = [] if "TESSAVOR_PYD" in os.environ else ["windows"]
if importlib.util.find_spec("bpy") is None:
    collect_ignore.append("dcc")

# Modules a DCC imports before any tool of its users (`make test-dcc` names bpy): imported here
# before the suite imports the module, and first in every fresh interpreter of run_python.
IMPORT_FIRST = [name for name in os.environ.get("TESSAVOR_IMPORT_FIRST", "").split(",") if name]
assert not IMPORT_FIRST or "tessavor.prod" not in sys.modules, f"tessavor.prod came before {IMPORT_FIRST}"
for name in IMPORT_FIRST:
    importlib.import_module(name)

# The file name the module's traceback entries carry (two backslashes).
TRACEBACK_FILENAME = "tessavor\\\\prod.py"


def module_tracebacks(exc):
    """The traceback entries the module added, outermost first.

    Each entry's code object is made for its function and line (and cached under them), so its
    first line is the entry's line: checked here on every entry a test looks at, whatever the
    cache held before.
    """
    found = []
    tb = exc.__traceback__
    while tb is not None:
        code = tb.tb_frame.f_code
        if code.co_filename == TRACEBACK_FILENAME:
            assert code.co_firstlineno == tb.tb_lineno, (code.co_name, code.co_firstlineno, tb.tb_lineno)
            found.append(tb)
        tb = tb.tb_next
    return found


def module_entries(exc):
    """(function name, line) of each traceback entry the module added, outermost first."""
    return [(tb.tb_frame.f_code.co_name, tb.tb_lineno) for tb in module_tracebacks(exc)]


def module_frames(exc):
    """The code objects of the module's traceback entries, outermost first."""
    return [tb.tb_frame.f_code for tb in module_tracebacks(exc)]


def run_python(code, *, check=True, env=None, timeout=120):
    """Runs `code` in a fresh interpreter; returns the completed process.

    It runs in a neutral folder: `-c` puts the current folder first on
    sys.path, and the source tree's `tessavor` folder must not hide the
    installed package.
    """
    proc = subprocess.run(
        [sys.executable, "-c", "".join(f"import {name}\n" for name in IMPORT_FIRST) + textwrap.dedent(code)],
        cwd=tempfile.gettempdir(),
        capture_output=True,
        text=True,
        env=env,
        timeout=timeout,
    )
    if check and proc.returncode != 0:
        raise AssertionError(
            f"subprocess failed ({proc.returncode}):\nstdout:\n{proc.stdout}\nstderr:\n{proc.stderr}"
        )
    return proc


def request_json(url, method=None, body=None, authorization=None, timeout=30):
    """(status, parsed JSON body) of one raw request to a tracker's API."""
    headers = {"Content-Type": "application/json"}
    if authorization is not None:
        headers["Authorization"] = authorization
    data = body if body is None or isinstance(body, bytes) else json.dumps(body).encode()
    req = urllib.request.Request(url, data, headers, method=method)
    try:
        with urllib.request.urlopen(req, timeout=timeout) as resp:
            return resp.status, json.loads(resp.read())
    except urllib.error.HTTPError as err:
        with err:
            return err.code, json.loads(err.read())


@pytest.fixture(scope="session")
def prod():
    import tessavor.prod

    return tessavor.prod


@pytest.fixture(scope="session")
def Prod(prod):
    return prod.Prod


@pytest.fixture
def p(Prod):
    """An instance that was never constructed: enough for the methods that ignore self."""
    return Prod.__new__(Prod)
