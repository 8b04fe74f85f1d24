"""The helpers of module/versions.hpp, each on the versions that compile each of its branches,
where the rest of the suite does not reach them: strs that are not ready (3.10 and 3.11), the
cached hash of a str, a special method's strong reference from the type.

The pending exception (PyErr_GetRaisedException and PyErr_SetRaisedException, shims on 3.10 and
3.11), the handled exception and the `with` statement's rule are tested where load_json and
Filter use them (test_credentials.py, test_filter.py); the code constructor in test_class.py;
dictionary changes in test_fast_paths.py; the module's slots in test_import.py.
"""
import sys

import pytest

from conftest import run_python

try:
    import _testcapi
except ImportError:  # the embeddable CPython for Windows ships none
    _testcapi = None

# Up to 3.11 a str made by the legacy wchar_t API is not ready until PyUnicode_READY makes it so;
# 3.12 removed that API, and every str is ready there. Anything that hashes, compares or prints
# such a str makes it ready: each test makes its own, and checks it with nothing of its own.
legacy_only = pytest.mark.skipif(
    _testcapi is None or not hasattr(_testcapi, "unicode_legacy_string"),
    reason="strs that are not ready exist up to 3.11 (and need _testcapi to be made)")


def legacy(text):
    """A str equal to `text` that is not ready yet."""
    with pytest.warns(DeprecationWarning):
        return _testcapi.unicode_legacy_string(text)


@legacy_only
@pytest.mark.parametrize("given, outcome", [
    ("project_name", "bound"),   # equal: binds the parameter
    ("project_namf", "unexpected keyword argument 'project_namf'"),  # as long, and differs
    ("projekt", "unexpected keyword argument 'projekt'"),  # shorter
])
def test_a_keyword_name_that_is_not_ready(Prod, p, monkeypatch, prod, given, outcome):
    monkeypatch.setattr(prod.gazu.project, "get_project_by_name", lambda name: ("bound", name), raising=False)
    # Only a raw vectorcall passes the name as it is: a keyword dictionary would hash it.
    args = (p, "A", "B") if outcome != "bound" else (p, "B")
    try:
        result = _testcapi.pyobject_vectorcall(Prod.get_project, args, (legacy(given),))
    except TypeError as exc:
        result = str(exc)
    if outcome == "bound":
        assert result == ("bound", "B")
    elif outcome.startswith("unexpected"):
        assert result == "get_project() got an " + outcome


NAMES = [f"sh{i:03}_{['anim', 'comp', 'layout'][i % 3]}" for i in range(21)]
PARTS = ["anim", "lay", "zz", "qq"]  # 21 items by 4 parts: enough for the matcher


@legacy_only
@pytest.mark.parametrize("where", ["first", "second of a pair", "last", "every", "parts"])
def test_filter_items_and_parts_that_are_not_ready(p, where):
    # The matcher serves exact lists of ready strs two at a time: it makes an item ready when it
    # meets one, takes the next one along only when it is ready already, and samples only ready
    # items for its estimate. Each item made not ready here is one that matches.
    items, parts = list(NAMES), list(PARTS)
    expected = [s for s in NAMES if any(x in s for x in PARTS)]
    positions = {"first": [0], "second of a pair": [3, 5], "last": [len(items) - 1],
                 "every": range(len(items)), "parts": []}[where]
    for i in positions:
        items[i] = legacy(NAMES[i])
    if where == "parts":
        parts = [legacy(x) for x in PARTS]
    assert p.Filter(items, parts) == expected


# load_json looks __enter__ and __exit__ up on the opened object's type and holds a strong reference
# to what it finds while binding it: the descriptor may drop the type's own reference meanwhile.
SPECIAL_METHODS_CHILD = """
import builtins, gc, sys, types, weakref
queue = []
builtins.open = lambda *args: queue.pop()
sys.modules["gazu"] = types.ModuleType("gazu")
import tessavor.prod as prod
prod.json = types.SimpleNamespace(load=lambda f: "parsed")

class SelfRemoving:  # deletes itself from the class it is found on when bound
    def __init__(self, name, function):
        self.name, self.function = name, function
    def __get__(self, obj, owner):
        delattr(owner, self.name)
        gc.collect()
        return self.function.__get__(obj, owner)

class Counted:  # held by its class alone: its reference count shows what the module holds
    def __init__(self, function):
        self.function = function
    def __get__(self, obj, owner):
        return self.function.__get__(obj, owner)

enter, exit = (lambda self: self), (lambda self, *args: None)
results = []
for _ in range(3):
    Opened = type("Opened", (), {"__enter__": SelfRemoving("__enter__", enter),
                                 "__exit__": SelfRemoving("__exit__", exit)})
    died = []
    refs = [weakref.ref(Opened.__dict__[n], lambda r: died.append(1)) for n in ("__enter__", "__exit__")]
    queue.append(Opened())
    results.append((prod.Prod.load_json(None, "x"), len(died), [r() is None for r in refs]))
counted = Counted(exit)
Opened = type("Opened", (), {"__enter__": Counted(enter), "__exit__": counted})
before = sys.getrefcount(counted)
for _ in range(100):
    queue.append(Opened())
    prod.Prod.load_json(None, "x")
results.append(sys.getrefcount(counted) - before)
print(repr(results))
"""


def test_a_special_method_found_on_the_type_is_held_while_it_is_bound():
    results = eval(run_python(SPECIAL_METHODS_CHILD).stdout)
    assert results == [("parsed", 2, [True, True])] * 3 + [0]
