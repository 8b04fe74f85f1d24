"""No reference or memory leaks: every method, on success and on each kind of failure, 200 times."""
import gc
import inspect
import json
import sys
import tracemalloc
import types

import pytest

from conftest import run_python


def assert_no_leak(operation, *watched, runs=200, slack=10 * 1024):
    """Runs `operation` `runs` times after a warm-up; no watched refcount and no traced memory may grow."""
    for _ in range(5):
        operation()
    gc.collect()
    before = [sys.getrefcount(obj) for obj in watched]
    tracemalloc.start()
    try:
        operation()
        gc.collect()
        start = tracemalloc.get_traced_memory()[0]
        for _ in range(runs):
            operation()
        gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - start
    finally:
        tracemalloc.stop()
    assert [sys.getrefcount(obj) for obj in watched] == before, "references leaked"
    assert grown < slack, f"{grown} bytes more traced after {runs} runs"


def raising(call, exc_type):
    """An operation that expects `call` to raise exactly `exc_type` and drops the exception."""
    def operation():
        try:
            call()
        except BaseException as exc:
            assert type(exc) is exc_type, repr(exc)
            del exc
        else:
            raise AssertionError(f"no {exc_type.__name__}")
    return operation


@pytest.mark.parametrize("leak", ["reference", "memory"])
def test_the_helper_sees_a_leak(leak):
    kept, watched = [], object()
    grow = (lambda: kept.append(watched)) if leak == "reference" else (lambda: kept.append(bytearray(100)))
    with pytest.raises(AssertionError):
        assert_no_leak(grow, watched)


class Boom(Exception):
    pass


def boom(*args):
    raise Boom(*args)


NAME, CRED = "A", {"host_url": "http://t/api", "event_url": "http://t/ev", "login_id": "ann", "password": "pw"}
RECORDS = [{"name": f"n{i:02}", "id": i} for i in range(50)]
NO_NAME = RECORDS[:10] + [{"id": 99}]  # a partial list of ten names exists when the walk fails
# method: the chain of its last gazu call (and of the project lookup before it)
CHAINS = {"get_tasks": "user.all_tasks_to_do", "get_persons": "person.all_persons",
          "get_projects": "project.all_projects", "get_episodes": "shot.all_episodes_for_project",
          "get_sequences": "shot.all_sequences_for_project", "get_shots": "shot.all_shots_for_project",
          "get_person_by_name": "person.get_person_by_full_name", "get_project": "project.get_project_by_name"}
NAME_LISTS = ["get_projects", "get_episodes", "get_sequences", "get_shots"]


def substitute(answers):
    """A gazu: `answers` maps a chain to its function; every other function answers RECORDS[0]."""
    functions = {chain: answers.get(chain, lambda *a: RECORDS[0])
                 for chain in [*CHAINS.values(), "set_host", "set_event_host", "log_in"]}
    gazu = types.SimpleNamespace(**{chain.split(".")[0]: types.SimpleNamespace() for chain in functions})
    for chain, function in functions.items():
        *part, name = chain.split(".")
        setattr(getattr(gazu, part[0]) if part else gazu, name, function)
    return gazu, list(functions.values())


@pytest.fixture
def files(tmp_path):
    paths = {name: tmp_path / f"{name}.json" for name in ["good", "bad", "short", "absent"]}
    paths["good"].write_text(json.dumps(CRED))
    paths["bad"].write_text("host_url = h")
    paths["short"].write_text(json.dumps({k: CRED[k] for k in list(CRED)[:3]}))
    return {k: str(v) for k, v in paths.items()}


ARGS = {"__init__": ("good",), "load_json": ("good",), "get_tasks": (), "get_persons": (), "get_projects": (),
        **{m: (NAME,) for m in ["get_episodes", "get_sequences", "get_shots", "get_person_by_name", "get_project"]},
        "Filter": (["sh010_anim", "x", "sh020_comp", "ANIM"], ["anim", "comp"])}
# row: (method, answers of gazu, its arguments or None for the usual ones, exception or None)
ROWS = [(m, {CHAINS.get(m, ""): lambda *a: RECORDS}, None, None) for m in ARGS]
ROWS += [("Filter", {}, "iterators", None),
         ("Filter", {}, (["ab", 3], ["a"]), TypeError), ("Filter", {}, (["ab"], Boom("parts")), TypeError),
         ("load_json", {}, ("bad",), json.JSONDecodeError), ("load_json", {}, ("absent",), FileNotFoundError),
         ("__init__", {}, ("short",), KeyError), ("__init__", {"log_in": boom}, None, Boom)]
ROWS += [(m, {CHAINS[m]: boom}, None, Boom) for m in CHAINS]
ROWS += [(m, {CHAINS[m]: lambda *a: NO_NAME}, None, KeyError) for m in NAME_LISTS]
ROWS += [(m, {CHAINS[m]: lambda *a: None}, None, TypeError) for m in NAME_LISTS]
ROWS += [(m, {}, how, TypeError) for m in ARGS for how in ["count", "unexpected keyword", "multiple values"]]


BINDING = {"count": ([None], {}), "unexpected keyword": ([], {"bogus": 1}), "multiple values": ([], {"self": 1})}


@pytest.mark.parametrize("method, answers, args, exc", ROWS,
                         ids=[f"{r[0]}-{r[3].__name__ if r[3] else 'ok'}-{i}" for i, r in enumerate(ROWS)])
def test_no_leak(prod, Prod, monkeypatch, files, method, answers, args, exc):
    gazu, functions = substitute(answers)
    monkeypatch.setattr(prod, "gazu", gazu)
    p = Prod.__new__(Prod)
    if args == "iterators":  # used up by a call: new ones for every call
        items, parts = ["sh010_anim", "x"], ["anim"]
        call, args = (lambda: p.Filter(iter(items), iter(parts))), [*items, *parts]
    else:
        kind = args if isinstance(args, str) else None
        (extra, kwargs), args = BINDING.get(kind, ([], {})), (args if kind is None and args else ARGS[method])
        args = [files.get(a, a) if isinstance(a, str) else a for a in args]
        call = lambda: getattr(p, method)(*args, *extra, **kwargs)  # noqa: E731
    first = None if exc else call()  # kept: what the method hands back must not gain references
    assert_no_leak(raising(call, exc) if exc else call, p, Prod, gazu, *functions, *args, *[first][:first is not None],
                   *RECORDS, *(r["name"] for r in RECORDS), *CRED.values(),
                   *[sys.intern("name")][:method not in ("__init__", "load_json")])  # io sets .name


# builtins.open is replaced before the import (the module fetches it there, once); what it opens
# hands the json text to the real json.load through __enter__, and its __exit__ misbehaves per row.
EXIT_CHILD = """
import builtins, io, sys, types
sys.modules['gazu'] = types.ModuleType('gazu')

class Boom(Exception):
    pass

class Opened:
    def __init__(self, text, how):
        self.text, self.how = text, how
    def __enter__(self):
        return io.StringIO(self.text)
    def __exit__(self, *args):
        if self.how == 'raises':
            raise Boom('exit')
        return self.how == 'true'

ROW = []
builtins.open = lambda *args: Opened(*ROW)
import tessavor.prod
p = tessavor.prod.Prod.__new__(tessavor.prod.Prod)
for text, how, exc in [('{"k": [1]}', 'false', None), ('{"k": [1]}', 'raises', Boom), ('nope', 'raises', Boom),
                       ('nope', 'true', UnboundLocalError), ('nope', 'false', ValueError)]:
    ROW[:] = text, how
    exc = exc and (tessavor.prod.json.JSONDecodeError if exc is ValueError else exc)
    call = lambda: p.load_json('any.json')
    first = None if exc else call()
    assert_no_leak(raising(call, exc) if exc else call, p, Opened, Opened.__exit__, Boom, first, text, how,
                   builtins.open, tessavor.prod.json.load)
    print(how, exc and exc.__name__, 'no leak')
"""


def test_no_leak_when_exit_raises_or_swallows():
    source = "\n".join(inspect.getsource(f) for f in [assert_no_leak, raising])
    proc = run_python("import gc, sys, tracemalloc\n" + source + EXIT_CHILD)
    assert proc.stdout.count("no leak") == 5 and proc.stderr == ""
