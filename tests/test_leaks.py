"""No reference or memory leaks: every method, on success and on each kind of failure.

The counting runs in a fresh interpreter (alone: `python tests/test_leaks.py rows|exit|own`
prints what it measured) whose main thread is its only thread: no server, connection pool or
earlier test can allocate while it counts. After WARM_UP calls, each of ROUNDS rounds makes
CALLS calls; a leak is growth in every round, of the traced memory by at least a byte per call
or of some watched object's reference count. Memory that a warm-up or a one-off resize leaves
behind lands in one round, never in all of them, while one small object kept per call lands in
each.
"""
import gc
import io
import json
import os
import sys
import tempfile
import tracemalloc
import types

import pytest

from conftest import run_python

ROUNDS, CALLS = 8, 100
# Calls before the counting starts. The interpreter's own caches settle over the first several
# hundred calls of a row (3.12's file opening and json parsing allocate a few kilobytes in bursts
# then, at hash-seed-dependent times), which a short warm-up would leave in every round.
WARM_UP = 10 * CALLS


def measure(operation, watched):
    """Per round: bytes of traced memory gained, and references gained by the watched objects."""
    watched = [w for w in watched if w is not None]  # None's count follows everything the interpreter does
    for _ in range(WARM_UP):
        operation()
    gc.collect()
    tracemalloc.start()
    try:
        for _ in range(CALLS):  # what the first traced calls allocate for good is not a leak either
            operation()
        gc.collect()
        memory, references = [], []
        # Nothing of the measure's own is made between the two readings of a round; gc.collect()
        # empties the interpreter's free lists too, so a round without a leak may read a little below 0.
        for _ in range(ROUNDS):
            refs_before = [sys.getrefcount(w) for w in watched]
            bytes_before = tracemalloc.get_traced_memory()[0]
            for _ in range(CALLS):
                operation()
            gc.collect()
            grown = tracemalloc.get_traced_memory()[0] - bytes_before
            refs_after = [sys.getrefcount(w) for w in watched]
            memory.append(grown)
            references.append(sum(max(0, after - before) for after, before in zip(refs_after, refs_before)))
    finally:
        tracemalloc.stop()
    return {"memory": memory, "references": references, "threads": len(sys._current_frames())}


def leaks(result):
    """What grew in every round; empty when nothing did."""
    grew = {}
    if min(result["memory"]) >= CALLS:
        grew["memory"] = result["memory"]
    if min(result["references"]) > 0:
        grew["references"] = result["references"]
    return grew


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


class Boom(Exception):
    pass


def boom(*args):
    raise Boom(*args)


class StopIn:
    """StopIteration out of containment and out of iter(): Filter's item test turns it into RuntimeError."""

    def __contains__(self, part):
        raise StopIteration(part)

    def __iter__(self):
        raise StopIteration("iter")


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


def write_files(folder):
    paths = {name: os.path.join(folder, f"{name}.json") for name in ["good", "bad", "short", "absent"]}
    for name, text in [("good", json.dumps(CRED)), ("bad", "host_url = h"),
                       ("short", json.dumps({k: CRED[k] for k in list(CRED)[:3]}))]:
        with open(paths[name], "w") as f:
            f.write(text)
    return paths


MATCHED = [f"sh{i:03}_{'anim' if i % 3 else 'comp'}" for i in range(20)]  # enough to take the matcher
ARGS = {"__init__": ("good",), "load_json": ("good",), "get_tasks": (), "get_persons": (), "get_projects": (),
        **{m: (NAME,) for m in ["get_episodes", "get_sequences", "get_shots", "get_person_by_name", "get_project"]},
        "Filter": (["sh010_anim", "x", "sh020_comp", "ANIM"], ["anim", "comp"])}
# row: (method, answers of gazu, its arguments or None for the usual ones, exception or None)
ROWS = [(m, {CHAINS.get(m, ""): lambda *a: RECORDS}, None, None) for m in ARGS]
ROWS += [("Filter", {}, "iterators", None), ("Filter", {}, (MATCHED, ["anim", "\u0101", "x", "\U0001f600"] * 2), None),
         ("Filter", {}, (MATCHED + [("x",)], ["anim"] * 8), None), ("Filter", {}, (MATCHED + [3], ["a"] * 8), TypeError),
         ("Filter", {}, (["ab", 3], ["a"]), TypeError), ("Filter", {}, (["ab"], Boom("parts")), TypeError),
         ("Filter", {}, (["ab", StopIn()], ["a"]), RuntimeError), ("Filter", {}, (["ab"], StopIn()), RuntimeError),
         ("load_json", {}, ("bad",), json.JSONDecodeError), ("load_json", {}, ("absent",), FileNotFoundError),
         ("__init__", {}, ("short",), KeyError), ("__init__", {"log_in": boom}, None, Boom)]
ROWS += [(m, {CHAINS[m]: boom}, None, Boom) for m in CHAINS]
ROWS += [(m, {CHAINS[m]: None}, None, AttributeError) for m in CHAINS]  # None: the function is missing
ROWS += [(m, None, None, NameError) for m in CHAINS]  # None: gazu itself is missing
ROWS += [(m, {CHAINS[m]: lambda *a: NO_NAME}, None, KeyError) for m in NAME_LISTS]
ROWS += [(m, {CHAINS[m]: lambda *a: None}, None, TypeError) for m in NAME_LISTS]
ROWS += [(m, {}, how, TypeError) for m in ARGS for how in ["count", "unexpected keyword", "multiple values"]]
ROW_IDS = [f"{r[0]}-{r[3].__name__ if r[3] else 'ok'}-{i}" for i, r in enumerate(ROWS)]

BINDING = {"count": ([None], {}), "unexpected keyword": ([], {"bogus": 1}), "multiple values": ([], {"self": 1})}


def measure_rows(prod, folder):
    files, results = write_files(folder), {}
    for row_id, (method, answers, args, exc) in zip(ROW_IDS, ROWS):
        gazu, functions = substitute(answers or {})
        for chain, function in (answers or {}).items():
            if function is None:
                *owner, name = chain.split(".")
                delattr(getattr(gazu, owner[0]) if owner else gazu, name)
        prod.gazu = gazu
        if answers is None:
            del prod.gazu
        p = prod.Prod.__new__(prod.Prod)
        if args == "iterators":  # used up by a call: new ones for every call
            items, parts = ["sh010_anim", "x"], ["anim"]
            call, args = (lambda: p.Filter(iter(items), iter(parts))), [*items, *parts]
        else:
            kind = args if isinstance(args, str) else None
            (extra, kwargs), args = BINDING.get(kind, ([], {})), (args if kind is None and args else ARGS[method])
            args = [files.get(a, a) if isinstance(a, str) else a for a in args]
            call = (lambda p, method, args, extra, kwargs: lambda: getattr(p, method)(*args, *extra, **kwargs))(
                p, method, args, extra, kwargs)
        first = None if exc else call()  # kept: what the method hands back must not gain references
        results[row_id] = measure(
            raising(call, exc) if exc else call, [p, prod.Prod, gazu, *functions, *args, first, *RECORDS,
                                                  *(r["name"] for r in RECORDS), *CRED.values(), sys.intern("name")])
    return results


# builtins.open is replaced before the import (the module fetches it there, once); what it opens
# hands the json text to the real json.load through __enter__, and its __exit__ misbehaves per row.
EXIT_ROWS = [('{"k": [1]}', "false", None), ('{"k": [1]}', "raises", Boom), ("nope", "raises", Boom),
             ("nope", "true", UnboundLocalError), ("nope", "false", json.JSONDecodeError)]
EXIT_IDS = [f"exit-{how}-{exc.__name__ if exc else 'ok'}-{i}" for i, (_, how, exc) in enumerate(EXIT_ROWS)]


class Opened:
    def __init__(self, text, how):
        self.text, self.how = text, how

    def __enter__(self):
        return io.StringIO(self.text)

    def __exit__(self, *args):
        if self.how == "raises":
            raise Boom("exit")
        return self.how == "true"


def measure_exit_rows():
    import builtins
    row = []
    builtins.open = lambda *args: Opened(*row)
    import tessavor.prod
    p, results = tessavor.prod.Prod.__new__(tessavor.prod.Prod), {}
    for row_id, (text, how, exc) in zip(EXIT_IDS, EXIT_ROWS):
        row[:] = text, how
        call = lambda: p.load_json("any.json")  # noqa: E731
        first = None if exc else call()
        results[row_id] = measure(raising(call, exc) if exc else call,
                                  [p, Opened, Opened.__exit__, Boom, first, text, how, builtins.open])
    return results


def measure_own_leaks():
    """Leaks made on purpose, which the measure must see, and growth in one round only, which it must not."""
    kept, watched = [], object()

    def counted(keep):  # keep(n): how many floats the n-th call of this operation keeps
        count = [0]

        def operation():
            count[0] += 1
            kept.extend(float(count[0] + i) for i in range(keep(count[0])))
        return operation

    return {"reference": measure(lambda: kept.append((watched,)), [watched]),
            "small object": measure(counted(lambda n: 1), []),
            "every other call": measure(counted(lambda n: n % 2), []),
            "once": measure(counted(lambda n: CALLS * (n == WARM_UP + 3 * CALLS)), [])}  # a cache filled in the second round


def child(mode):
    sys.modules["gazu"] = types.ModuleType("gazu")  # the module's own import of gazu: nothing to start
    if mode == "exit":
        results = measure_exit_rows()
    elif mode == "own":
        results = measure_own_leaks()
    else:
        import tessavor.prod
        with tempfile.TemporaryDirectory() as folder:
            results = measure_rows(tessavor.prod, folder)
    print(json.dumps(results))


def run_child(mode):
    proc = run_python(f"import sys; sys.path.insert(0, {os.path.dirname(__file__)!r}); import test_leaks; "
                      f"test_leaks.child({mode!r})", timeout=600)
    assert proc.stderr == ""
    return json.loads(proc.stdout.strip().splitlines()[-1])


@pytest.fixture(scope="module")
def measured():
    return {**run_child("rows"), **run_child("exit")}


def test_the_measure_sees_each_leak_made_on_purpose():
    results = run_child("own")
    assert {name: sorted(leaks(r)) for name, r in results.items()} == {
        "reference": ["memory", "references"], "small object": ["memory"], "every other call": ["memory"],
        "once": []}, results


@pytest.mark.parametrize("row_id", ROW_IDS + EXIT_IDS)
def test_no_leak(measured, row_id):
    result = measured[row_id]
    assert result["threads"] == 1
    assert leaks(result) == {}, result


if __name__ == "__main__":
    child(sys.argv[1])
