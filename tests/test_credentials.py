"""Prod.load_json: parsed values, the with statement around the file, failures and entries."""
import json
import sys

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
