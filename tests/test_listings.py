"""Listings and lookups against substitute gazu objects: calls, walks, results, failures."""
import builtins

import pytest

from conftest import module_entries

NAME = object()  # a project or person name: handed on, never looked at
PROJECT = object()  # what the project lookup answers

# method: its calls in order as (chain, positional arguments, line); for name lists
# also the lines of the walk and of reading "name"
METHODS = {
    "get_tasks": ([("user.all_tasks_to_do", (), 29)], None),
    "get_persons": ([("person.all_persons", (), 32)], None),
    "get_projects": ([("project.all_projects", (), 36)], (37, 38)),
    "get_episodes": ([("project.get_project_by_name", (NAME,), 53),
                      ("shot.all_episodes_for_project", (PROJECT,), 54)], (54, 55)),
    "get_sequences": ([("project.get_project_by_name", (NAME,), 60),
                       ("shot.all_sequences_for_project", (PROJECT,), 61)], (62, 62)),
    "get_shots": ([("project.get_project_by_name", (NAME,), 74),
                   ("shot.all_shots_for_project", (PROJECT,), 75)], (76, 76)),
    "get_person_by_name": ([("person.get_person_by_full_name", (NAME,), 88)], None),
    "get_project": ([("project.get_project_by_name", (NAME,), 91)], None),
}
NAME_LISTS = [m for m, (_, walk) in METHODS.items() if walk]


class Recorder:
    """A gazu logging attribute reads and calls; `answers` maps a chain to the function behind it."""

    def __init__(self, answers, log=None, path=""):
        self._answers, self.log, self._path = answers, [] if log is None else log, path

    def __getattr__(self, name):
        path = f"{self._path}.{name}".lstrip(".")
        self.log.append(path)
        if not any(chain == path or chain.startswith(path + ".") for chain in self._answers):
            raise AttributeError(name)
        return Recorder(self._answers, self.log, path)

    def __call__(self, *args, **kwargs):
        self.log.append((self._path, args, kwargs))
        return self._answers[self._path](*args)


def answers_for(method, listing):
    """The project lookup answers PROJECT, the method's last call `listing`."""
    calls = METHODS[method][0]
    return {**{chain: lambda *a: PROJECT for chain, _, _ in calls}, calls[-1][0]: lambda *a: listing}


def use(prod, monkeypatch, answers):
    monkeypatch.setattr(prod, "gazu", Recorder(answers))
    return prod.gazu


def call(target, method, *self):
    return getattr(target, method)(*self, *METHODS[method][0][0][1])


def expected_log(method):
    return [x for chain, args, _ in METHODS[method][0] for x in (chain.split(".")[0], chain, (chain, args, {}))]


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("how", ["instance", "class with None", "gazu in builtins"])
def test_calls_exactly_its_chain(prod, Prod, p, monkeypatch, method, how):
    a = "".join(["sh", "010"])  # names: duplicates, None and non-strings kept, in order, by identity
    answer = [{"name": a}, {"name": None, "id": 1}, {"name": a}, {"name": ("t",)}, {"name": 7}]
    gazu, decoy = Recorder(answers_for(method, answer)), Recorder({})
    if how == "gazu in builtins":
        monkeypatch.delattr(prod, "gazu")
        monkeypatch.setattr(builtins, "gazu", gazu, raising=False)
    else:
        monkeypatch.setattr(prod, "gazu", gazu)
        monkeypatch.setattr(builtins, "gazu", decoy, raising=False)  # the module's own comes first
    result = call(Prod, method, None) if how == "class with None" else call(p, method)
    assert gazu.log == expected_log(method) and decoy.log == []
    if method not in NAME_LISTS:
        assert result is answer
    else:
        assert type(result) is list and result is not answer and len(result) == len(answer)
        assert all(x is r["name"] for x, r in zip(result, answer))


def test_a_failing_builtins_lookup_keeps_its_own_error(prod, p, monkeypatch):
    # gazu is missing from the module; the builtins module's own __getattr__ fails otherwise than
    # with AttributeError: that error propagates, not NameError.
    monkeypatch.delattr(prod, "gazu")
    monkeypatch.delattr(builtins, "gazu", raising=False)
    monkeypatch.setattr(builtins, "__getattr__", lambda name: throw(Boom(name)), raising=False)
    with pytest.raises(Boom) as info:
        p.get_tasks()
    assert info.value.args == ("gazu",)
    assert module_entries(info.value) == [("tessavor.prod.Prod.get_tasks", 29)]


@pytest.mark.parametrize("method", [m for m in METHODS if m not in NAME_LISTS])
@pytest.mark.parametrize("answer", [None, [], object(), "text"])
def test_returns_gazus_object(prod, p, monkeypatch, method, answer):
    use(prod, monkeypatch, answers_for(method, answer))
    assert call(p, method) is answer


# a list subclass walked through its own __iter__, a dict subclass with __missing__, exceptions
Listish = type("Listish", (list,), {"__iter__": lambda self: iter([{"name": "it1"}, {"name": "it2"}])})
Missing = type("Missing", (dict,), {"__missing__": lambda self, key: ("missing", key)})
SubStop, Boom = type("SubStop", (StopIteration,), {}), type("Boom", (Exception,), {})


def throw(exc):
    raise exc


def raising(exc):
    """An iterator, no generator, yielding one record and then raising `exc` from its __next__."""
    return map(lambda record: record or throw(exc), [{"name": "a"}, None])


class Record:
    """A record that is no dict; reading its name first runs `change`."""

    def __init__(self, name, change=lambda: None):
        self.name, self.change = name, change

    def __getitem__(self, key):
        self.change()
        return {"name": self.name}[key]


def mutating(make):
    data = []
    data.extend(make(data))
    return data


WALKS = {
    "empty": (lambda: [], []),
    "list": (lambda: [{"name": "a"}, {"name": "b"}], ["a", "b"]),
    "tuple": (lambda: ({"name": "a"}, {"name": "b"}), ["a", "b"]),
    "generator": (lambda: (r for r in [{"name": "g1"}, {"name": "g2"}]), ["g1", "g2"]),
    "list subclass iterates itself": (lambda: Listish([{"name": "stored"}]), ["it1", "it2"]),
    "dict subclass": (lambda: [Missing(name="m"), Missing()], ["m", ("missing", "name")]),
    "non-dict records": (lambda: [Record("r"), {"name": "d"}], ["r", "d"]),
    "StopIteration subclass ends": (lambda: raising(SubStop()), ["a"]),
    "grows": (lambda: mutating(lambda d: [Record("a", lambda: d.append({"name": "c"})), {"name": "b"}]),
              ["a", "b", "c"]),
    "shrinks": (lambda: mutating(lambda d: [Record("a", d.pop), {"name": "b"}, {"name": "c"}]), ["a", "b"]),
    "drops the walked item": (
        lambda: mutating(lambda d: [Record("a", lambda: d.pop(0)), {"name": "b"}, {"name": "c"}]), ["a", "c"]),
    "cleared": (lambda: mutating(lambda d: [{"name": "a"}, Record("b", d.clear), {"name": "c"}]), ["a", "b"]),
}


@pytest.mark.parametrize("method", NAME_LISTS)
@pytest.mark.parametrize("make, expected", WALKS.values(), ids=WALKS)
def test_walks_the_listing_like_a_for_loop(prod, p, monkeypatch, method, make, expected):
    assert [r["name"] for r in make()] == expected  # what Python's for statement gives
    use(prod, monkeypatch, answers_for(method, make()))
    assert call(p, method) == expected


@pytest.mark.parametrize("method", NAME_LISTS)
def test_gazu_rebound_mid_walk_serves_the_next_call(prod, p, monkeypatch, method):
    later = Recorder(answers_for(method, [{"name": "later"}]))
    rebind = Record("b", lambda: monkeypatch.setattr(prod, "gazu", later))
    first = use(prod, monkeypatch, answers_for(method, [{"name": "a"}, rebind, {"name": "c"}]))
    assert call(p, method) == ["a", "b", "c"] and later.log == []
    assert call(p, method) == ["later"]
    assert first.log == expected_log(method) == later.log


class RaisingKey:
    def __hash__(self):
        return hash("name")

    def __eq__(self, other):
        raise Boom("compared")


# failure: (method, its calls, walk lines) -> (answers, None deleting gazu; exception; its args; line).
# Boom carries the arguments of the call that raised it.
FAILURES = {
    "gazu deleted": lambda m, c, w: (None, NameError, ("name 'gazu' is not defined",), c[0][2]),
    "no sub-module": lambda m, c, w: ({}, AttributeError, (c[0][0].split(".")[0],), c[0][2]),
    "no function": lambda m, c, w: ({c[0][0] + "_x": None}, AttributeError, (c[0][0].split(".")[1],), c[0][2]),
    "call raises": lambda m, c, w: ({c[0][0]: lambda *a: throw(Boom(*a))}, Boom, c[0][1], c[0][2]),
    "listing missing": lambda m, c, w: len(c) == 2 and ({c[0][0]: id}, AttributeError, ("shot",), c[1][2]),
    "listing raises": lambda m, c, w: len(c) == 2 and (
        {**answers_for(m, None), c[1][0]: lambda *a: throw(Boom(*a))}, Boom, c[1][1], c[1][2]),
    "listing is None": lambda m, c, w: w and (
        answers_for(m, None), TypeError, ("'NoneType' object is not iterable",), w[0]),
    "iterator raises": lambda m, c, w: w and (
        answers_for(m, raising(ValueError("next"))), ValueError, ("next",), w[0]),
    "record without name": lambda m, c, w: w and (
        answers_for(m, [{"name": "a"}, {"id": 1}]), KeyError, ("name",), w[1]),
    "record without name in a tuple": lambda m, c, w: w and (
        answers_for(m, ({"name": "a"}, {"id": 1})), KeyError, ("name",), w[1]),
    "record without name from a generator": lambda m, c, w: w and (
        answers_for(m, (r for r in [{"name": "a"}, {"id": 1}])), KeyError, ("name",), w[1]),
    # the lookup's own error, not a KeyError: a key hashed as "name" whose comparison raises
    "name lookup raises": lambda m, c, w: w and (
        answers_for(m, [{"name": "a"}, {RaisingKey(): 1}]), Boom, ("compared",), w[1]),
    "record not subscriptable": lambda m, c, w: w and (
        answers_for(m, [{"name": "a"}, 5]), TypeError, ("'int' object is not subscriptable",), w[1]),
}


@pytest.mark.parametrize("method, failure", [(m, f) for f in FAILURES for m in METHODS if FAILURES[f](m, *METHODS[m])])
def test_failure_propagates_with_one_entry(prod, p, monkeypatch, method, failure):
    answers, exc, args, line = FAILURES[failure](method, *METHODS[method])
    if answers is None:
        monkeypatch.delattr(prod, "gazu")
        monkeypatch.delattr(builtins, "gazu", raising=False)
    else:
        use(prod, monkeypatch, answers)
    with pytest.raises(exc) as info:
        call(p, method)
    assert type(info.value) is exc and info.value.args == args
    assert module_entries(info.value) == [(f"tessavor.prod.Prod.{method}", line)]
