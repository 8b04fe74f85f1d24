"""The installed stub describes the runtime module, and type checkers find it.

mypy runs on small scripts: the mistakes a user makes are flagged on their
own lines, a correct tool and the examples of the README and docs/ check clean. The
stub's record types are checked against the records devtracker serves.
"""
import ast
import json
import re
import subprocess
import sys
import tempfile
import textwrap
import types
import typing
from pathlib import Path

import gazu
import pytest

from devtracker import start
from page_examples import pages, script

pytest.importorskip("mypy")

ROOT = Path(__file__).resolve().parent.parent
ALLOWLIST = Path(__file__).resolve().parent / "stubtest_allowlist.txt"
ERROR = re.compile(r"^tool\.py:(\d+): error: (.*)$", re.MULTILINE)


def run_tool(*args, cwd):
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, cwd=cwd)


def mypy_errors(folder, source, *flags):
    """mypy's output on `source` as tool.py, and its errors as (line, message)."""
    (folder / "tool.py").write_text(source, encoding="utf-8")
    proc = run_tool("mypy", "--no-incremental", *flags, "tool.py", cwd=folder)
    return proc.stdout + proc.stderr, [(int(line), message) for line, message in ERROR.findall(proc.stdout)]


def test_stub_matches_the_runtime_module():
    proc = run_tool("mypy.stubtest", "tessavor.prod", "--allowlist", str(ALLOWLIST), cwd=tempfile.gettempdir())
    assert proc.returncode == 0, proc.stdout + proc.stderr


# A user's mistakes, one line each: the code and a piece of the error mypy must
# report on that line.
MISTAKES = [
    ("p.get_shots(123)", 'Argument 1 to "get_shots" of "Prod" has incompatible type "int"; expected "str"'),
    ('p.get_episodes(["Spring"])', 'incompatible type "list[str]"; expected "str"'),
    ("p.get_sequences(None)", 'Argument 1 to "get_sequences" of "Prod" has incompatible type "None"'),
    ("p.get_person_by_name(7)", 'Argument 1 to "get_person_by_name" of "Prod" has incompatible type "int"'),
    ("p.get_project(b'Spring')", 'Argument 1 to "get_project" of "Prod" has incompatible type "bytes"'),
    ("count: int = p.get_projects()[0]", 'expression has type "str", variable has type "int"'),
    ("p.get_projects()[0] + 1", 'Unsupported operand types for + ("str" and "int")'),
    ('p.get_project("Spring")["name"]', "is not indexable  [index]"),
    ('p.get_person_by_name("Alice Martin")["email"]', "is not indexable  [index]"),
    ('p.get_project("Spring").get("id")', 'Item "None" of'),
    ('p.get_shots(project="Spring")', 'Unexpected keyword argument "project" for "get_shots" of "Prod"'),
    ('Prod(credentials="c.json")', 'Unexpected keyword argument "credentials" for "Prod"'),
    ('p.load_json(path="c.json")', 'Unexpected keyword argument "path" for "load_json" of "Prod"'),
    ('p.Filter(names=["sh010"], parts=["010"])', 'Unexpected keyword argument "names" for "Filter" of "Prod"'),
    ('Prod.Filter(0, ["sh010"], ["010"])', 'Argument 1 to "Filter" of "Prod" has incompatible type "int"'),
    ('Prod.Filter(["sh010"], ["010"])', 'in call to "Filter" of "Prod"  [call-arg]'),
    ('Prod.Filter(None, [1, 2], ["a"])', 'Value of type variable "_Item" of "Filter" of "Prod" cannot be "int"'),
    ('p.Filter(p.get_tasks()[0]["task_status_short_name"] for _ in "ab")', 'in call to "Filter" of "Prod"'),
    ('ints: list[int] = p.Filter(p.get_projects(), ["010"])',
     'expression has type "list[str]", variable has type "list[int]"'),
    ('p.get_tasks()[0]["project"]', 'TypedDict "_TodoTask" has no key "project"'),
    ('p.get_tasks()[0]["sequence_name"].upper()', 'Item "None" of "str | None" has no attribute "upper"'),
    ('p.get_persons()[0]["full_name"] + 1', 'Unsupported operand types for + ("str" and "int")'),
    ("p.get_tasks().upper()", '"list[_TodoTask]" has no attribute "upper"'),
    ("from tessavor.prod import json", 'Module "tessavor.prod" has no attribute "json"'),
    ("from tessavor.prod import gazu", 'Module "tessavor.prod" has no attribute "gazu"'),
    ("from tessavor.prod import __test__", 'Module "tessavor.prod" has no attribute "__test__"'),
]
HEADER = 'from tessavor.prod import Prod\np = Prod("c.json")\n'


@pytest.fixture(scope="module")
def mistakes_checked(tmp_path_factory):
    """mypy's output on a script of every mistake, and the line of each."""
    source = HEADER + "".join(code + "\n" for code, _ in MISTAKES)
    first = HEADER.count("\n") + 1
    out, errors = mypy_errors(tmp_path_factory.mktemp("mistakes"), source)
    return out, errors, {code: first + i for i, (code, _) in enumerate(MISTAKES)}


@pytest.mark.parametrize("code, expected", MISTAKES, ids=[code for code, _ in MISTAKES])
def test_mypy_flags_the_mistake_on_its_line(mistakes_checked, code, expected):
    out, errors, lines = mistakes_checked
    assert any(expected in message for line, message in errors if line == lines[code]), out


def test_mypy_flags_nothing_but_the_mistakes(mistakes_checked):
    out, errors, lines = mistakes_checked
    assert {line for line, _ in errors} == set(lines.values()), out


# A tool that uses every method as documented: clean under --strict, and every
# result of exactly the type a user expects (assert_type: not Any).
CORRECT = """
    from typing import TYPE_CHECKING, Optional
    from typing_extensions import assert_type
    from tessavor.prod import Prod

    if TYPE_CHECKING:
        from tessavor.prod import _Person, _Project, _TodoTask

    p = Prod(crenditial="c.json")
    assert_type(p.get_projects(), list[str])
    for name in p.get_projects():
        assert_type(p.get_shots(name), list[str])
        assert_type(p.get_episodes(project_name=name), list[str])
        assert_type(p.get_sequences(name), list[str])
    project = p.get_project("Spring")
    assert_type(project, Optional["_Project"])
    if project is not None:
        title: str = project["name"].upper()
        fps: str = project["fps"]
        team: Optional[list[str]] = project.get("team")
    person = p.get_person_by_name(person_name="Alice Martin")
    assert_type(person, Optional["_Person"])
    email: Optional[str] = person["email"] if person else None
    assert_type(p.get_persons(), list["_Person"])
    for task in p.get_tasks():
        assert_type(task, "_TodoTask")
        label: str = task["project_name"] + "/" + task["entity_name"] + ": " + task["task_status_name"]
        sequence: Optional[str] = task["sequence_name"]
    assert_type(Prod.Filter(None, ["sh010_anim", "sh020_comp"], ["anim"]), list[str])
    assert_type(Prod.Filter(p, ["sh010"], ["010"]), list[str])
    assert_type(p.Filter(string=("sh010", "sh020"), substr={"010"}), list[str])
    assert_type(p.Filter([b"ab", b"cd"], [b"a"]), list[bytes])
    assert_type(p.Filter([("sh010", "anim")], ["anim"]), list[tuple[str, str]])
    assert_type(p.Filter([{"sh010": 1}], ["sh010"]), list[dict[str, int]])
    host: str = p.host_url + p.event_url + p.login_id + p.password
"""


def test_a_correct_tool_type_checks_clean_with_exact_result_types(tmp_path):
    out, errors = mypy_errors(tmp_path, textwrap.dedent(CORRECT), "--strict")
    assert errors == [] and "Success: no issues found" in out, out


# Each page's examples, as one script (tests/page_examples.py; test_pages.py runs them).
PAGE_SCRIPTS = {page.relative_to(ROOT).as_posix(): script(page.read_text(encoding="utf-8")) for page in pages()}


@pytest.mark.parametrize("page", [page for page, source in PAGE_SCRIPTS.items() if source])
def test_each_page_examples_type_check(tmp_path, page):
    out, errors = mypy_errors(tmp_path, PAGE_SCRIPTS[page])
    assert errors == [] and "Success: no issues found" in out, out


def stub_records(stub):
    """The stub's TypedDicts: for each, {field: (annotation, required)}, its bases' fields first."""
    records = {}
    for node in ast.parse(stub.read_text(encoding="utf-8")).body:
        bases = [base.id for base in node.bases if isinstance(base, ast.Name)] if isinstance(node, ast.ClassDef) else []
        if not bases or not all(base == "TypedDict" or base in records for base in bases):
            continue
        required = not any(k.arg == "total" and k.value.value is False for k in node.keywords)
        fields = {name: field for base in bases for name, field in records.get(base, {}).items()}
        for stmt in node.body:
            if isinstance(stmt, ast.AnnAssign):
                annotation = eval(compile(ast.Expression(stmt.annotation), str(stub), "eval"), vars(typing))
                fields[stmt.target.id] = (annotation, required)
        records[node.name] = fields
    return records


def conforms(value, annotation):
    """Whether a JSON value is of the annotated type."""
    origin, args = typing.get_origin(annotation), typing.get_args(annotation)
    if annotation is typing.Any:
        return True
    if annotation is None:
        return value is None
    if origin in (typing.Union, types.UnionType):
        return any(conforms(value, arg) for arg in args)
    if origin is typing.Literal:
        return value in args
    if origin is list:
        return isinstance(value, list) and all(conforms(item, args[0]) for item in value)
    if origin is dict:
        return isinstance(value, dict) and all(conforms(k, args[0]) and conforms(v, args[1]) for k, v in value.items())
    if annotation in (int, float):  # JSON's numbers; a bool is no number here
        return isinstance(value, (int, annotation)) and not isinstance(value, bool)
    return isinstance(value, annotation)


def mismatches(record, fields):
    """How a served record differs from its TypedDict: missing, unknown and mistyped fields."""
    missing = sorted(name for name, (_, required) in fields.items() if required and name not in record)
    unknown = sorted(set(record) - set(fields))
    mistyped = sorted(f"{name}={record[name]!r}" for name, (annotation, _) in fields.items()
                      if name in record and not conforms(record[name], annotation))
    return [missing, unknown, mistyped]


@pytest.fixture
def served(Prod, tmp_path):
    """A Prod logged in to devtracker with its sample production, and the server."""
    with start() as server:
        path = tmp_path / "credentials.json"
        path.write_text(json.dumps({"host_url": server.api_url, "event_url": server.event_url,
                                    "login_id": server.login, "password": server.password}))
        yield Prod(str(path))
        gazu.set_token({})  # gazu's login is process-wide


def test_the_record_types_are_what_the_tracker_serves(prod, served):
    records = stub_records(Path(prod.__file__).with_name("prod.pyi"))
    projects = [served.get_project(name) for name in served.get_projects()]
    checked = {
        "_Project": projects + [gazu.project.new_project("Typed Show", "tvshow")],
        "_Person": served.get_persons() + [served.get_person_by_name("Alice Martin"),
                                           gazu.person.new_person("Typed", "Person", "typed@example.com")],
        "_TodoTask": served.get_tasks(),
        "_Episode": [e for p in projects for e in gazu.shot.all_episodes_for_project(p)],
        "_Sequence": [s for p in projects for s in gazu.shot.all_sequences_for_project(p)],
        "_Shot": [s for p in projects for s in gazu.shot.all_shots_for_project(p)],
    }
    for kind, served_records in checked.items():
        assert served_records and all(r is not None for r in served_records), kind
        assert [mismatches(r, records[kind]) for r in served_records] == [[[], [], []]] * len(served_records), kind
        # No field the tracker never serves, optional ones included.
        assert set().union(*served_records) == set(records[kind]), kind
