"""Argument binding of Prod's methods: messages, keyword matching, traceback entries."""
import functools
import json
import sys
import types

import pytest

try:
    import _testcapi
except ImportError:  # the embeddable CPython for Windows ships none
    _testcapi = None

from conftest import TRACEBACK_FILENAME, module_entries, module_frames, run_python

# name, parameter count, first line (the line of binding errors)
METHODS = [
    ("__init__", 2, 6), ("load_json", 2, 22), ("get_tasks", 1, 28), ("get_persons", 1, 31),
    ("get_projects", 1, 34), ("get_episodes", 2, 42), ("get_sequences", 2, 58),
    ("get_shots", 2, 64), ("get_person_by_name", 2, 78), ("get_project", 2, 90), ("Filter", 3, 94),
]


def fresh(*parts):
    """A str built at run time: equal to a parameter name, but not the interned object."""
    name = "".join(parts)
    assert name is not sys.intern(name)
    return name


def unhashed(*parts):
    """A str built at run time whose hash has never been computed (a keyword dictionary or
    sys.intern would compute it): only a raw vectorcall passes such a keyword name."""
    return "".join(parts)


def raw_call(method, args, kwnames):
    return _testcapi.pyobject_vectorcall(method, args, kwnames)


needs_testcapi = pytest.mark.skipif(_testcapi is None, reason="this interpreter has no _testcapi")


class Name(str):
    pass


class RaisingName(str):
    __hash__ = str.__hash__

    def __eq__(self, other):
        raise ValueError(f"compared {str(self)!r}")


class AlwaysEqual(str):
    __hash__, __eq__ = str.__hash__, lambda self, other: True


class OwnHash(str):
    """Equal to the name it spells, but hashed apart: a keyword dictionary keeps both."""

    def __hash__(self):
        return 1


BINDING_ERRORS = [
    # count errors: no keywords
    (lambda P, p: P(), "__init__() takes exactly 2 positional arguments (1 given)"),
    (lambda P, p: P.__init__(p), "__init__() takes exactly 2 positional arguments (1 given)"),
    (lambda P, p: p.load_json("a", "b"), "load_json() takes exactly 2 positional arguments (3 given)"),
    (lambda P, p: p.get_tasks(1), "get_tasks() takes exactly 1 positional argument (2 given)"),
    (lambda P, p: P.get_tasks(), "get_tasks() takes exactly 1 positional argument (0 given)"),
    (lambda P, p: p.Filter(["a"]), "Filter() takes exactly 3 positional arguments (2 given)"),
    (lambda P, p: p.Filter(["a"], ["b"], ["c"]), "Filter() takes exactly 3 positional arguments (4 given)"),
    # count errors with keywords: the keywords count among the given up to the missing one
    (lambda P, p: P.Filter(p, string=["a"]), "Filter() takes exactly 3 positional arguments (2 given)"),
    (lambda P, p: P.Filter(p, substr=["a"]), "Filter() takes exactly 3 positional arguments (1 given)"),
    (lambda P, p: P.Filter(string=[], substr=[]), "Filter() takes exactly 3 positional arguments (0 given)"),
    (lambda P, p: P.get_tasks(1, 2, self=3), "get_tasks() takes exactly 1 positional argument (2 given)"),
    (lambda P, p: P.__init__(p, 1, 2, crenditial=3), "__init__() takes exactly 2 positional arguments (3 given)"),
    # the missing parameter is reported before a bad keyword
    (lambda P, p: p.get_shots(extra=1), "get_shots() takes exactly 2 positional arguments (1 given)"),
    # multiple values
    (lambda P, p: p.get_shots("A", project_name="B"), "get_shots() got multiple values for keyword argument 'project_name'"),
    (lambda P, p: p.get_tasks(self=p), "get_tasks() got multiple values for keyword argument 'self'"),
    (lambda P, p: p.get_project(project_name="A", self=p), "get_project() got multiple values for keyword argument 'self'"),
    (lambda P, p: P("a", crenditial="b"), "__init__() got multiple values for keyword argument 'crenditial'"),
    # unexpected keyword
    (lambda P, p: p.get_shots(project_name="A", extra=1), "get_shots() got an unexpected keyword argument 'extra'"),
    (lambda P, p: P(crenditial="a", extra=2), "__init__() got an unexpected keyword argument 'extra'"),
    # the first offending keyword in call order decides
    (lambda P, p: p.Filter([], [], x=1, y=2), "Filter() got an unexpected keyword argument 'x'"),
    (lambda P, p: p.Filter([], [], y=1, x=2), "Filter() got an unexpected keyword argument 'y'"),
    (lambda P, p: p.get_shots("A", extra=1, project_name="B"), "get_shots() got an unexpected keyword argument 'extra'"),
    (lambda P, p: p.get_shots("A", project_name="B", extra=1), "get_shots() got multiple values for keyword argument 'project_name'"),
    (lambda P, p: P.Filter(p, [], [], **{"y": 1, "x": 2}), "Filter() got an unexpected keyword argument 'y'"),
    # keyword dictionaries, partial objects
    (lambda P, p: functools.partial(p.Filter, ["a"])(string=["b"], substr=[]), "Filter() got multiple values for keyword argument 'string'"),
    # names built at run time and str subclasses
    (lambda P, p: p.get_shots("A", **{fresh("project", "_name"): "B"}), "get_shots() got multiple values for keyword argument 'project_name'"),
    (lambda P, p: p.Filter(["ab"], **{fresh("sub", "str"): ["a"], "extra": 1}), "Filter() got an unexpected keyword argument 'extra'"),
    (lambda P, p: p.get_shots("A", **{Name("project_name"): "B"}), "get_shots() got multiple values for keyword argument 'project_name'"),
    # after the parameters are bound, names are matched by content: __eq__ is not asked
    (lambda P, p: p.Filter(["a"], [], **{RaisingName("substr"): 1}), "Filter() got multiple values for keyword argument 'substr'"),
    (lambda P, p: p.get_shots("A", **{AlwaysEqual("zzz"): 1}), "get_shots() got an unexpected keyword argument 'zzz'"),
    (lambda P, p: p.Filter(["ab"], ["a"], **{AlwaysEqual("zzz"): 1}), "Filter() got an unexpected keyword argument 'zzz'"),
    pytest.param(lambda P, p: raw_call(P.get_shots, (p, "A", "B"), (unhashed("project", "_name"),)),
                 "get_shots() got multiple values for keyword argument 'project_name'", marks=needs_testcapi),
    # only a raw vectorcall passes a keyword name that is no str
    pytest.param(lambda P, p: raw_call(P.Filter, (p, [], [], 1), (5,)), "Filter() keywords must be strings",
                 marks=needs_testcapi),
]


@pytest.mark.parametrize("call, message", BINDING_ERRORS)
def test_binding_error_message(Prod, p, call, message):
    with pytest.raises(TypeError) as info:
        call(Prod, p)
    assert type(info.value) is TypeError
    assert str(info.value) == message
    name = message.split("(", 1)[0]
    line = dict((n, line) for n, _, line in METHODS)[name]
    assert module_entries(info.value) == [(f"tessavor.prod.Prod.{name}", line)]


FILTER_BINDS = [
    lambda P, p: p.Filter(substr=["a"], string=["ab", "b"]),
    lambda P, p: P.Filter(None, ["ab", "b"], ["a"]),
    lambda P, p: P.Filter(self=p, string=["ab", "b"], substr=["a"]),
    lambda P, p: P.Filter(p, **{"string": ["ab", "b"], "substr": ["a"]}),
    lambda P, p: functools.partial(P.Filter, p, substr=["a"])(["ab", "b"]),
    lambda P, p: functools.partial(p.Filter, string=["ab", "b"])(substr=["a"]),
    lambda P, p: P.Filter(p, **{fresh("str", "ing"): ["ab", "b"], fresh("sub", "str"): ["a"]}),
    lambda P, p: p.Filter(**{Name("string"): ["ab", "b"], Name("substr"): ["a"]}),
    # a parameter still unbound is compared by ==: an always-equal name takes it
    lambda P, p: p.Filter(["ab", "b"], **{AlwaysEqual("zzz"): ["a"]}),
    # two keywords for one parameter: the later one's value wins
    lambda P, p: p.Filter(["ab", "b"], **{"substr": ["x"], OwnHash("substr"): ["a"]}),
    lambda P, p: p.Filter(["ab", "b"], **{OwnHash("substr"): ["x"], "substr": ["a"]}),
    pytest.param(lambda P, p: raw_call(P.Filter, (p, ["ab", "b"], ["x"], ["a"]), ("substr", "substr")),
                 marks=needs_testcapi),
    pytest.param(lambda P, p: raw_call(P.Filter, (p, ["ab", "b"], ["a"]), (unhashed("str", "ing"), unhashed("sub", "str"))),
                 marks=needs_testcapi),
]


@pytest.mark.parametrize("call", FILTER_BINDS)
def test_filter_binds_by_position_and_name(Prod, p, call):
    assert call(Prod, p) == ["ab"]


@pytest.fixture
def shots_gazu(prod, monkeypatch):
    """A gazu whose project lookup and shot listing echo the project name."""
    project = types.SimpleNamespace(get_project_by_name=lambda name: {"name": name})
    shot = types.SimpleNamespace(all_shots_for_project=lambda record: [record])
    user = types.SimpleNamespace(all_tasks_to_do=lambda: "tasks")
    monkeypatch.setattr(prod, "gazu", types.SimpleNamespace(project=project, shot=shot, user=user))


@pytest.mark.parametrize("call, expected", [
    (lambda P, p: P.get_tasks(self=p), "tasks"),
    (lambda P, p: p.get_shots(project_name="A"), ["A"]),
    (lambda P, p: p.get_shots(**{fresh("project", "_name"): "A"}), ["A"]),
    (lambda P, p: p.get_shots(**{AlwaysEqual("zzz"): "A"}), ["A"]),
    (lambda P, p: p.get_shots(**{"project_name": "A", OwnHash("project_name"): "B"}), ["B"]),
    (lambda P, p: p.get_shots(**{OwnHash("project_name"): "B", "project_name": "A"}), ["A"]),
])
def test_other_methods_bind_by_name(Prod, p, shots_gazu, call, expected):
    assert call(Prod, p) == expected


@pytest.mark.parametrize("call", [
    lambda P, p: P("no-such-credentials.json"),
    lambda P, p: P.__init__(p, crenditial="no-such-credentials.json"),
])
def test_init_binds_then_reads_the_file(Prod, p, call, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(FileNotFoundError) as info:
        call(Prod, p)
    assert module_entries(info.value) == [
        ("tessavor.prod.Prod.__init__", 8), ("tessavor.prod.Prod.load_json", 23)]


def test_non_str_keyword_fails_before_binding(Prod, p):
    with pytest.raises(TypeError) as info:
        Prod.Filter(p, [], [], **{1: 2})
    assert str(info.value) == "keywords must be strings"
    assert module_entries(info.value) == []


def test_raising_eq_propagates_from_binding(p):
    with pytest.raises(ValueError, match="compared 'substr'") as info:
        p.Filter(["a"], **{RaisingName("substr"): []})
    assert module_entries(info.value) == [("tessavor.prod.Prod.Filter", 94)]


@pytest.mark.parametrize("name, count, line", METHODS)
@pytest.mark.parametrize("given", [0, "too many"])
def test_binding_error_entry_of_each_method(Prod, name, count, line, given):
    args = [] if given == 0 else [None] * (count + 1)
    with pytest.raises(TypeError) as info:
        getattr(Prod, name)(*args)
    plural = "s" if count != 1 else ""
    assert str(info.value) == f"{name}() takes exactly {count} positional argument{plural} ({len(args)} given)"
    assert module_entries(info.value) == [(f"tessavor.prod.Prod.{name}", line)]
    (code,) = module_frames(info.value)
    assert code.co_filename == TRACEBACK_FILENAME and code.co_filename.count("\\") == 2


def raised(call):
    with pytest.raises(Exception) as info:
        call()
    return info.value


def test_entries_share_code_objects_per_line_and_name(Prod, p):
    (first,) = module_frames(raised(lambda: p.get_shots(extra=1)))
    (second,) = module_frames(raised(lambda: p.get_shots("A", project_name="B")))
    (other,) = module_frames(raised(lambda: p.get_episodes(extra=1)))
    assert first is second
    assert other is not first and other.co_name == "tessavor.prod.Prod.get_episodes"


def test_item_test_and_filter_entries_have_own_code_objects(p):
    outer, inner = module_frames(raised(lambda: p.Filter(["a"], 5)))
    outer2, inner2 = module_frames(raised(lambda: p.Filter([1], ["a"])))
    assert (outer.co_name, inner.co_name) == ("tessavor.prod.Prod.Filter", "genexpr")
    assert outer is not inner
    assert outer is outer2 and inner is inner2
    (binding,) = module_frames(raised(lambda: p.Filter(["a"])))
    assert binding.co_name == outer.co_name and binding is not outer


# A fresh interpreter starts with an empty cache. Each function fails at its later lines first (also
# within one call: the innermost entry is made first), then at all of them again in the other order.
CACHE_CHILD = f"""
import json, os, sys, tempfile, types
sys.modules["gazu"] = types.ModuleType("gazu")
import tessavor.prod
p = tessavor.prod.Prod.__new__(tessavor.prod.Prod)
fd, bad = tempfile.mkstemp(suffix=".json")
os.write(fd, b"nope")
os.close(fd)
def lookup(name):
    raise LookupError(name)
tessavor.prod.gazu = types.SimpleNamespace(
    project=types.SimpleNamespace(get_project_by_name=lambda name: lookup(name) if name == "gone" else name),
    shot=types.SimpleNamespace(all_episodes_for_project=lambda name: [{{"id": 1}}] if name == "A" else lookup(name)))
CALLS = [lambda: p.Filter(["a"], 5), lambda: p.Filter(5, []), lambda: p.Filter([]),
         lambda: p.load_json(bad), lambda: p.load_json(bad + ".absent"), lambda: p.load_json(),
         lambda: p.get_episodes("A"), lambda: p.get_episodes("B"), lambda: p.get_episodes("gone"),
         lambda: p.get_episodes()]
seen = []
for call in CALLS + CALLS[::-1]:
    try:
        call()
    except Exception as exc:
        tb = exc.__traceback__
        while tb is not None:
            code = tb.tb_frame.f_code
            if code.co_filename == {TRACEBACK_FILENAME!r}:
                seen.append((code.co_name, tb.tb_lineno, code.co_firstlineno, id(code)))
            tb = tb.tb_next
os.remove(bad)
print(json.dumps(seen))
"""


def test_cached_code_objects_keep_their_line_in_any_order():
    seen = json.loads(run_python(CACHE_CHILD).stdout)
    assert [entry for entry in seen if entry[1] != entry[2]] == []
    codes = {}
    for name, line, _, code in seen:
        codes.setdefault((name, line), set()).add(code)
    filter_, load_json, episodes = (f"tessavor.prod.Prod.{m}" for m in ["Filter", "load_json", "get_episodes"])
    assert sorted(codes) == sorted([(filter_, 96), ("genexpr", 96), (filter_, 95), (filter_, 94), (load_json, 24),
                                    (load_json, 23), (load_json, 22), (episodes, 55), (episodes, 54),
                                    (episodes, 53), (episodes, 42)])
    assert all(len(ids) == 1 for ids in codes.values())  # the second time round, from the cache


class Recorder(list):
    def __iter__(self):
        self.append("iter")
        return iter(["a"])


@pytest.mark.parametrize("call", [
    lambda P, p, r: p.Filter(r, r, extra=1),
    lambda P, p, r: P.Filter(p, r, r, r),
    lambda P, p, r: p.Filter(r, r, string=r),
    lambda P, p, r: p.Filter(r, **{RaisingName("substr"): r}),
    lambda P, p, r: p.Filter(r),
])
def test_binding_failure_runs_nothing_of_the_body(Prod, p, call):
    recorder = Recorder()
    with pytest.raises((TypeError, ValueError)) as info:
        call(Prod, p, recorder)
    assert recorder == []
    assert module_entries(info.value) == [("tessavor.prod.Prod.Filter", 94)]
    assert p.Filter(recorder, recorder) == ["a"] and recorder == ["iter", "iter"]
