"""Prod.load_json: parsed values, the with statement around the file, failures and entries."""
import json
import sys
import weakref

import pytest

from conftest import module_entries, run_python


class Recording:
    """A json stand-in that keeps the files its load got and the values json made of them."""

    def __init__(self):
        self.files, self.results = [], []

    def load(self, f):
        self.files.append(f)
        self.results.append(json.load(f))
        return self.results[-1]


@pytest.mark.parametrize("text, expected, call", [
    ('{"host_url": "h", "n": [1, {"k": null}]}', {"host_url": "h", "n": [1, {"k": None}]}, "p.load_json(path)"),
    ('[1, "x"]', [1, "x"], "p.load_json(json_file=path)"), ('"s"', "s", "Prod.load_json(None, path)"),
    ("7", 7, "p.load_json(path)"), ("2.5", 2.5, "p.load_json(json_file=path)"),
    ("true", True, "Prod.load_json(None, path)"), ("null", None, "p.load_json(path)"),
])
def test_returns_what_json_load_made(prod, Prod, p, monkeypatch, tmp_path, text, expected, call):
    (tmp_path / "doc.json").write_text(text)
    monkeypatch.setattr(prod, "json", Recording())
    result = eval(call, {"p": p, "Prod": Prod, "path": str(tmp_path / "doc.json")})
    assert result == expected and type(result) is type(expected)
    assert result is prod.json.results[0] and [f.closed for f in prod.json.files] == [True]


@pytest.mark.parametrize("text, json_global, exc, message, lines", [
    (None, Recording, FileNotFoundError, "[Errno 2] No such file or directory: {path!r}", [23]),
    ("", Recording, json.JSONDecodeError, "Expecting value: line 1 column 1 (char 0)", [23, 24]),
    ("host_url = h", Recording, json.JSONDecodeError, "Expecting value: line 1 column 1 (char 0)", [23, 24]),
    ("{}", None, NameError, "name 'json' is not defined", [23, 24]),
    ("{}", object, AttributeError, "'object' object has no attribute 'load'", [23, 24]),
])
def test_failures_and_their_entries(prod, p, monkeypatch, tmp_path, text, json_global, exc, message, lines):
    path = tmp_path / "doc.json"
    if text is not None:
        path.write_text(text)
    if json_global is None:
        monkeypatch.delattr(prod, "json")
    else:
        monkeypatch.setattr(prod, "json", json_global())
    with pytest.raises(exc) as info:
        p.load_json(str(path))
    assert type(info.value) is exc and str(info.value) == message.format(path=str(path))
    assert module_entries(info.value) == [("tessavor.prod.Prod.load_json", line) for line in lines]
    if json_global is Recording:  # a file that was opened is closed again
        assert [f.closed for f in prod.json.files] == ([True] if text is not None else [])


# builtins.open is replaced before the import (the module fetches it there, once) and hands out
# the object each row queues; the module's json raises `body` from load when the row says so.
WITH_CHILD = r'''
import builtins, sys, traceback, types
queue, log, TOKEN = [], [], object()
builtins.open = lambda *args: queue.pop()
import tessavor.prod as prod

class Boom(Exception):
    pass

class Logged:  # logs its binding: shows which methods are looked up, in which order
    def __init__(self, name, function):
        self.name, self.function = name, function
    def __get__(self, obj, owner):
        log.append("get " + self.name)
        return self.function.__get__(obj, owner)

def load(f):
    log.append(("load", f is TOKEN))
    if body is not None:
        raise body
    return "parsed"

def enter(self):
    log.append("enter")
    if self.how == "enter raises":
        raise Boom("enter")
    return TOKEN

def exit(self, *args):
    seen = body is not None and args == (Boom, body, body.__traceback__) == sys.exc_info()
    log.append(("exit", "none" if args == (None,) * 3 else "body" if seen else repr(args)))
    if self.how == "exit raises":
        raise Boom("exit")
    return {"false": [], "true": "yes", "bad bool": type("B", (), {"__bool__": lambda s: 1 / 0})()}.get(self.how)

prod.json = types.SimpleNamespace(load=load)
METHODS = {"X": Logged("__exit__", exit), "E": Logged("__enter__", enter)}
results = []
for how, on_type, on_instance, fails in ROWS:
    obj = type("Opened", (), {METHODS[m].name: METHODS[m] for m in on_type})()
    obj.how = how
    obj.__dict__.update({METHODS[m].name: METHODS[m].function.__get__(obj) for m in on_instance})
    queue.append(obj)
    if how == "open rebound":
        builtins.open = lambda *args: 1 / 0
    log.clear()
    body, outer = Boom("body") if fails else None, KeyError("outer")
    try:
        raise outer
    except KeyError:
        try:
            outcome = ("returned", prod.Prod.load_json(None, "any.json"))
        except Exception as e:
            lines = [n if f.f_code.co_name == "tessavor.prod.Prod.load_json" else f.f_code.co_name
                     for f, n in traceback.walk_tb(e.__traceback__) if f.f_code.co_name.startswith("tessavor")]
            ctx = e.__context__
            ctx = "body" if body is not None and ctx is body else "outer" if ctx is outer else repr(ctx)
            outcome = (repr(e), lines, ctx)
        results.append((outcome, log[:], sys.exc_info()[1] is outer))
print(repr(results))
'''

LOOKUPS, OPENED = ["get __exit__", "get __enter__", "enter"], ["get __exit__", "get __enter__", "enter", ("load", True)]
BODY, NONE = OPENED + [("exit", "body")], OPENED + [("exit", "none")]
UNBOUND = "UnboundLocalError(\"local variable 'data' referenced before assignment\")"
# how the opened object behaves, methods on its type (X: __exit__, E: __enter__), on the instance,
# whether json.load raises; (exception, entry lines, its context), log
WITH_ROWS = [
    ("no exit", "E", "", False, ("AttributeError('__exit__')", [23], "outer"), []),
    ("no enter", "X", "", False, ("AttributeError('__enter__')", [23], "outer"), ["get __exit__"]),
    ("instance both", "", "XE", False, ("AttributeError('__exit__')", [23], "outer"), []),
    ("instance enter", "X", "E", False, ("AttributeError('__enter__')", [23], "outer"), ["get __exit__"]),
    ("enter raises", "XE", "", False, ("Boom('enter')", [23], "outer"), LOOKUPS),
    ("false", "XE", "", True, ("Boom('body')", [23, 24], "outer"), BODY),
    ("true", "XE", "", True, (UNBOUND, [26], "outer"), BODY),
    ("exit raises", "XE", "", True, ("Boom('exit')", [23], "body"), BODY),
    ("bad bool", "XE", "", True, ("ZeroDivisionError('division by zero')", [23], "body"), BODY),
    ("success", "XE", "", False, ("returned", "parsed"), NONE),
    ("exit raises", "XE", "", False, ("Boom('exit')", [23], "outer"), NONE),
    ("open rebound", "XE", "", False, ("returned", "parsed"), NONE),
]


def test_with_statement_semantics():
    rows = [row[:4] for row in WITH_ROWS]
    results = eval(run_python(f"ROWS = {rows!r}\n" + WITH_CHILD.lstrip("\n")).stdout)
    for row, result in zip(WITH_ROWS, results, strict=True):
        assert result == (*row[4:], True), row[:4]  # True: the exception handled before is put back


def test_a_generator_resumed_elsewhere_keeps_no_exception_handled_around_its_call(p, tmp_path):
    # While __exit__ runs, the body's exception is the one handled; afterwards exactly what the
    # innermost slot held comes back. A generator's own slot was empty: it must stay so, not
    # take the exception its caller happened to be handling then.
    path = tmp_path / "bad.json"
    path.write_text("{")

    def generator():
        try:
            p.load_json(str(path))
        except ValueError:
            pass
        yield sys.exc_info()[1]
        yield sys.exc_info()[1]

    outer = KeyError("outer")
    try:
        raise outer
    except KeyError:
        g = generator()
        during = next(g)
    assert (during, next(g)) == (outer, None)


# The module's `with` and a pure-Python load_json of the same statements, side by side, around a
# body that fails, with an __exit__ that returns False after doing something to the exception's
# __traceback__. What comes out must be the same: the module raises again what that interpreter's
# own `with` raises again. The module's entries stand for load_json's frame; it adds its entry at
# the `with` line on every version, which the pure-Python frame does not have from 3.11.
WITH_RULE_CHILD = r'''
import builtins, json, sys, types
how = None
class Opened:
    def __enter__(self):
        return self
    def __exit__(self, type, value, tb):
        if how == "clears":
            value.__traceback__ = None
        elif how == "replaces":
            value.__traceback__ = elsewhere()
        return False
builtins.open = lambda *args: Opened()
sys.modules["gazu"] = types.ModuleType("gazu")
import tessavor.prod as prod

def elsewhere():
    try:
        raise KeyError("elsewhere")
    except KeyError as exc:
        return exc.__traceback__

def load(data_file):
    raise ValueError("body")

class PyProd:
    def load_json(self, json_file):
        with open(json_file) as data_file:
            data = json.load(data_file)
        return data

DEF_LINE = PyProd.load_json.__code__.co_firstlineno
prod.json = types.SimpleNamespace(load=load)
json = types.SimpleNamespace(load=load)

def shape(call):
    """(function, line below its def) of each traceback entry below the caller's."""
    try:
        call()
    except ValueError as exc:
        found, tb = [], exc.__traceback__.tb_next.tb_next  # below shape's and the lambda's own
        while tb is not None:
            code = tb.tb_frame.f_code
            if code.co_name == "tessavor.prod.Prod.load_json":
                found.append(("load_json", tb.tb_lineno - 22))
            elif code.co_name == "load_json":
                found.append(("load_json", tb.tb_lineno - DEF_LINE))
            else:
                found.append((code.co_name, tb.tb_lineno - code.co_firstlineno))
            tb = tb.tb_next
        return found

results = {}
for how in ["keeps", "clears", "replaces"]:
    results[how] = {"module": shape(lambda: prod.Prod.load_json(None, "any.json")),
                    "python": shape(lambda: PyProd().load_json("any.json"))}
print(repr(results))
'''

WITH_LINE, BODY = ("load_json", 1), [("load_json", 2), ("load", 1)]  # below their def lines
ELSEWHERE = [("elsewhere", 2)]


def test_the_with_raises_again_what_the_interpreters_own_with_does():
    results = eval(run_python(WITH_RULE_CHILD).stdout)
    for how, shapes in results.items():
        # The module's `with` line entry comes first, where Python's own frame has none from 3.11.
        assert shapes["module"][0] == WITH_LINE, how
        python = shapes["python"]
        if python[:1] == [WITH_LINE]:
            python = python[1:]
        assert shapes["module"][1:] == python, how
    # The rule, as each version states it: 3.10 raises the triple it caught, the body's traceback;
    # from 3.11 the exception is raised as __exit__ left it.
    if sys.version_info < (3, 11):
        expected = {"keeps": BODY, "clears": BODY, "replaces": BODY}
    else:
        expected = {"keeps": BODY, "clears": [], "replaces": ELSEWHERE}
    assert {how: shapes["module"][1:] for how, shapes in results.items()} == expected


class Outer(Exception):
    pass


# Inside an `except` block, failing and succeeding load_json calls hand the handled exception back
# whole: sys.exc_info() is the same triple afterwards, and the exception has no reference more.
@pytest.mark.parametrize("text", ["{", '{"a": 1}', None], ids=["body fails", "succeeds", "open fails"])
def test_the_handled_exception_comes_back_whole(p, tmp_path, text):
    path = tmp_path / "doc.json"
    if text is not None:
        path.write_text(text)

    def calls():
        for _ in range(100):
            try:
                p.load_json(str(path))
            except (ValueError, OSError):
                pass

    calls()  # the module's caches (entries' code objects) are made before counting
    try:
        raise Outer("outer")
    except Outer as e:
        before = sys.exc_info()
        assert before[1] is e
        count = sys.getrefcount(e)
        calls()
        assert sys.getrefcount(e) == count
        after = sys.exc_info()
        assert after[0] is before[0] is Outer
        assert after[1] is before[1] is e
        assert after[2] is before[2] is e.__traceback__
        ref = weakref.ref(e)
        del before, after
    assert ref() is None and sys.exc_info() == (None, None, None)  # freed once its block ends
    calls()
    assert sys.exc_info() == (None, None, None)


def test_the_handled_exception_inside_a_generator_and_a_nested_handler(p, tmp_path):
    path = tmp_path / "bad.json"
    path.write_text("[")
    seen = []

    def generator():
        try:
            raise KeyError("in the generator")
        except KeyError:
            inner = sys.exc_info()
            try:
                p.load_json(str(path))
            except ValueError:
                seen.append(sys.exc_info()[0])
            yield inner, sys.exc_info()

    try:
        raise Outer("outer")
    except Outer:
        outer = sys.exc_info()
        inner, after = next(generator())
        assert after == inner and inner[0] is KeyError and inner[2] is inner[1].__traceback__
        assert sys.exc_info() == outer
        try:
            raise LookupError("nested")
        except LookupError:
            nested = sys.exc_info()
            with pytest.raises(ValueError):
                p.load_json(str(path))
            assert sys.exc_info() == nested
        assert sys.exc_info() == outer
    assert seen == [json.JSONDecodeError]
