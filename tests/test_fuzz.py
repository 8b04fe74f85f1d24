"""Property tests: Filter against a Python model, argument binding against its rule, load_json against json."""
import json
import types

import pytest
from hypothesis import example, given, settings, strategies as st

from conftest import module_entries
from matcher_support import model

FUZZ = settings(max_examples=250, deadline=None)


SubStop = type("SubStop", (StopIteration,), {})
BAD_BOOL = type("BadBool", (), {"__bool__": lambda self: 1 / 0})()
Rev = type("Rev", (list,), {"__iter__": lambda self: iter(self[::-1])})  # walked through its own __iter__


class Odd:
    """__contains__ answers a non-bool or raises, chosen by the part: stateless, so both runs agree."""

    def __init__(self, answers):
        self.answers = answers

    def __contains__(self, part):
        answer = self.answers[len(repr(part)) % len(self.answers)]
        if isinstance(answer, type):
            raise answer(f"contains {part!r}")
        return answer


class Walker:
    """Iterable (and, without __contains__, an item searched by iteration) whose iterator's
    __next__ raises `exc` at index `at`; at -1 its __iter__ raises."""

    def __init__(self, elems, at, exc):
        self.elems, self.at, self.exc = elems, at, exc

    def __iter__(self):
        if self.at < 0:
            raise self.exc("iter")
        fails = self.exc is not None and self.at <= len(self.elems)
        return map(self.get, range(self.at + 1 if fails else len(self.elems)))

    def get(self, i):
        if i == self.at and self.exc:
            raise self.exc(f"next {i}")  # a StopIteration here leaves map's __next__: the end
        return self.elems[i]


EXC = st.sampled_from([None, ValueError, StopIteration, SubStop])
TEXT = st.text(st.sampled_from("a\xe9\xff\u0100\u0101\ud800\U0001f600"), max_size=3)
SCALAR = st.one_of(TEXT, st.binary(max_size=3), st.integers(-1, 300), st.none())
ANSWERS = [0, 1, "", "x", [], [0], None, 2.5, BAD_BOOL, ValueError, StopIteration, SubStop]
ITEM = TEXT | st.one_of(
    st.binary(max_size=3), st.integers(0, 3), st.lists(st.integers(0, 3) | TEXT, max_size=3),
    st.lists(st.integers(0, 3), max_size=3).map(tuple), st.builds(Odd, st.lists(st.sampled_from(ANSWERS), min_size=1)),
    st.builds(Walker, st.lists(SCALAR, max_size=3), st.integers(0, 4), EXC))
KINDS = ["list"] * 4 + ["tuple", "generator", "iterator", "list subclass", "walker", "iter raises", "text", "int"]


def recipe(elements):
    elems = st.lists(TEXT, min_size=1, max_size=5) | st.lists(elements, max_size=5)  # all str, or mixed
    return st.tuples(st.sampled_from(KINDS), elems, st.integers(0, 5), EXC)


def build(kind, elems, at, exc):
    """A fresh container: the model and the module each get their own."""
    return {
        "list": lambda: list(elems), "tuple": lambda: tuple(elems), "generator": lambda: (x for x in elems),
        "iterator": lambda: iter(list(elems)), "list subclass": lambda: Rev(elems),
        "walker": lambda: Walker(elems, at, exc), "iter raises": lambda: Walker(elems, -1, exc or ValueError),
        "text": lambda: "".join(x for x in elems if isinstance(x, str)), "int": lambda: 5,
    }[kind]()


def outcome(function, /, *args, **kwargs):
    try:
        return True, function(*args, **kwargs)
    except Exception as exc:  # noqa: BLE001 - the failure itself is compared
        return False, exc


@FUZZ
@given(recipe(ITEM), recipe(TEXT | SCALAR))
@example(("list", ["a"], 0, None), ("iter raises", ["a"], 0, StopIteration))  # rare, so always tried
@example(("generator", ["a", Odd([SubStop])], 0, None), ("list", ["b"], 0, None))
def test_filter_matches_the_model(Prod, string, substr):
    ok, expected = outcome(model, build(*string), build(*substr))
    got_ok, got = outcome(Prod.Filter, None, build(*string), build(*substr))
    assert got_ok == ok, (got, expected)
    if not ok:
        assert (type(got), str(got), type(got.__context__)) == (type(expected), str(expected), type(expected.__context__))
    elif string[0] == "text":  # a str's characters are made anew by each walk
        assert type(got) is list and [(type(x), x) for x in got] == [(type(x), x) for x in expected]
    else:
        assert type(got) is list and len(got) == len(expected) and all(a is b for a, b in zip(got, expected))


METHODS = {name: (("self",) + tuple(params.split()), line) for name, params, line in [  # parameters, first line
    ("__init__", "crenditial", 6), ("load_json", "json_file", 22), ("get_tasks", "", 28), ("get_persons", "", 31),
    ("get_projects", "", 34), ("get_episodes", "project_name", 42), ("get_sequences", "project_name", 58),
    ("get_shots", "project_name", 64), ("get_person_by_name", "person_name", 78),
    ("get_project", "project_name", 90), ("Filter", "string substr", 94)]}
KEYWORDS = sorted({n for params, _ in METHODS.values() for n in params} | {"x", "extra"})
NAME, TASKS, PERSONS = "".join(["pro", "ject"]), object(), object()
NAMES = lambda r: r == [NAME] and r[0] is NAME  # noqa: E731
SUCCESS = {"get_tasks": lambda r: r is TASKS, "get_persons": lambda r: r is PERSONS, "get_projects": NAMES,
           "get_episodes": NAMES, "get_sequences": NAMES, "get_shots": NAMES,
           "get_person_by_name": lambda r: r == ("person", NAME) and r[1] is NAME,
           "get_project": lambda r: r["name"] is NAME, "Filter": lambda r: type(r) is list and r == ["ab"]}


def binding_error(method, n, keys):
    """The TypeError message for n positional values and keyword names `keys` (in call order), or None."""
    params, count = METHODS[method][0], len(METHODS[method][0])
    given_ = f"{method}() takes exactly {count} positional argument{'s' if count != 1 else ''} ({{}} given)"
    if not keys or n > count:
        return None if n == count else given_.format(n)
    for i in range(n, count):  # each parameter after the positional ones comes from a keyword, or is missing
        if params[i] not in keys:
            return given_.format(i)
    for key in keys:  # then the leftovers: the first offender in call order decides
        if key in params[:n]:
            return f"{method}() got multiple values for keyword argument '{key}'"
        if key not in params:
            return f"{method}() got an unexpected keyword argument '{key}'"
    return None


@pytest.fixture(scope="module")
def echo_gazu(prod):
    space, listing = types.SimpleNamespace, (lambda record: [record])
    gazu = space(project=space(get_project_by_name=lambda name: {"name": name}, all_projects=lambda: [{"name": NAME}]),
                 user=space(all_tasks_to_do=lambda: TASKS), shot=space(**dict.fromkeys(
                     ["all_episodes_for_project", "all_sequences_for_project", "all_shots_for_project"], listing)),
                 person=space(all_persons=lambda: PERSONS, get_person_by_full_name=lambda n: ("person", n)))
    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(prod, "gazu", gazu)
        yield


@FUZZ
@given(st.sampled_from(sorted(METHODS)), st.integers(0, 4), st.booleans(), st.data())
def test_binding_matches_the_rule(Prod, echo_gazu, tmp_path_factory, method, n, bound, data):
    params, line = METHODS[method]
    own = list(params[n:]) if data.draw(st.booleans()) else []  # often exactly the missing ones
    more = data.draw(st.lists(st.sampled_from(list(params) * 3 + KEYWORDS), unique=True, max_size=2))
    keys = data.draw(st.permutations(list(dict.fromkeys(own + more))), label="keywords")
    p, missing = Prod.__new__(Prod), str(tmp_path_factory.getbasetemp() / "no-such-file.json")
    values = {"self": p, "crenditial": missing, "json_file": missing, "project_name": NAME, "person_name": NAME,
              "string": ["ab", "b"], "substr": ["a"]}
    args = [values.get(name, 0) for name in (params + ("x",) * 4)[:n]]
    bound = bound and n > 0  # a bound method supplies self
    call = getattr(p, method) if bound else getattr(Prod, method)
    message = binding_error(method, n, keys)
    ok, result = outcome(call, *args[bound:], **{key: values.get(key, 1) for key in keys})
    if message is not None:
        assert not ok and (type(result), str(result)) == (TypeError, message), result
        assert module_entries(result) == [(f"tessavor.prod.Prod.{method}", line)]
    elif method in ("__init__", "load_json"):  # the body runs: opening the file fails
        assert not ok and type(result) is FileNotFoundError, result
        outer = [("tessavor.prod.Prod.__init__", 8)] if method == "__init__" else []
        assert module_entries(result) == outer + [("tessavor.prod.Prod.load_json", 23)]
    else:
        assert ok and SUCCESS[method](result), result


JSON = st.recursive(st.none() | st.booleans() | st.integers() | st.floats() | st.text(max_size=5),
                    lambda inner: st.lists(inner, max_size=3) | st.dictionaries(st.text(max_size=3), inner, max_size=3),
                    max_leaves=6)
DOCUMENT = st.one_of(  # random bytes; JSON text, also cut short, in other encodings, with bytes appended
    st.binary(max_size=12), JSON.map(json.dumps).map(str.encode),
    st.tuples(JSON.map(lambda v: json.dumps(v, ensure_ascii=False)), st.sampled_from(["utf-8", "latin-1", "utf-16"]),
              st.integers(0, 8), st.binary(max_size=2)).map(lambda t: t[0].encode(t[1], "replace")[:t[2] or None] + t[3]))


@FUZZ
@given(DOCUMENT)
def test_load_json_reads_like_json_load(Prod, tmp_path_factory, document):
    path = tmp_path_factory.getbasetemp() / "fuzz.json"
    path.write_bytes(document)
    with open(path) as f:
        ok, expected = outcome(json.load, f)
    got_ok, got = outcome(Prod.load_json, None, str(path))
    assert got_ok == ok, (got, expected)
    if ok:
        assert type(got) is type(expected) and repr(got) == repr(expected)
    else:
        assert (type(got), str(got)) == (type(expected), str(expected))
        assert module_entries(got) == [("tessavor.prod.Prod.load_json", 23), ("tessavor.prod.Prod.load_json", 24)]
