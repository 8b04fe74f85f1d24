"""Class Prod and its method objects: what Python sees of them and how they bind."""
import collections
import inspect
import json
import pickle
import sys
import types
import warnings
import weakref

import pytest

from conftest import module_entries, run_python

D1 = ("\n        Get all episode names for a given project.\n\n        Args:\n"
      "            project_name (str): The name of the project.\n\n        Returns:\n"
      "            list: A list of episode names.\n        ")
D2 = ("\n        Get all shot names for a given project.\n\n        Args:\n"
      "            project_name (str): The name of the project.\n\n        Returns:\n"
      "            list: A list of shot names.\n        ")
D3 = ("\n        Get a person by their full name.\n\n        Args:\n"
      "            person_name (str): The full name of the person.\n\n        Returns:\n"
      "            dict: The person data.\n        ")

# name, first line, co_argcount, co_varnames, docstring
METHODS = [
    ("__init__", 6, 2, ("self", "crenditial"), None),
    ("load_json", 22, 2, ("self", "json_file", "data_file", "data"), None),
    ("get_tasks", 28, 1, ("self",), None),
    ("get_persons", 31, 1, ("self",), None),
    ("get_projects", 34, 1, ("self", "result", "data", "x"), None),
    ("get_episodes", 42, 2, ("self", "project_name", "episodes", "project", "episode"), D1),
    ("get_sequences", 58, 2, ("self", "project_name", "project", "sequences", "sequence"), None),
    ("get_shots", 64, 2, ("self", "project_name", "project", "shots", "shot"), D2),
    ("get_person_by_name", 78, 2, ("self", "person_name"), D3),
    ("get_project", 90, 2, ("self", "project_name"), None),
    ("Filter", 94, 3, ("self", "string", "substr", "str", "genexpr", "genexpr"), None),
]
NAMES = [row[0] for row in METHODS]


def test_class_object(Prod, p):
    assert type(Prod) is type
    assert Prod.__bases__ == (object,) and Prod.__mro__ == (Prod, object)
    assert (Prod.__name__, Prod.__qualname__, Prod.__module__) == ("Prod", "Prod", "tessavor.prod")
    assert Prod.__doc__ is None
    keys = list(Prod.__dict__)
    assert keys[:12] == ["__module__", *NAMES]
    assert set(keys[12:]) <= {"__dict__", "__weakref__", "__doc__"}
    assert Prod.__dict__["__module__"] == "tessavor.prod"
    assert p.__dict__ == {} and weakref.ref(p)() is p


@pytest.mark.parametrize("name, line, argcount, varnames, doc", METHODS, ids=NAMES)
def test_method_object(prod, Prod, name, line, argcount, varnames, doc):
    f = Prod.__dict__[name]
    code = f.__code__
    assert (f.__name__, f.__qualname__, f.__module__) == (name, "Prod." + name, "tessavor.prod")
    assert f.__doc__ == doc and (doc is not None or f.__doc__ is None)
    assert f.__globals__ is prod.__dict__
    assert (f.__defaults__, f.__kwdefaults__, f.__closure__) == (None, None, None)
    assert f.__annotations__ == {} and f.__dict__ == {}
    assert callable(f) and not inspect.isfunction(f)
    assert (code.co_name, code.co_firstlineno, code.co_varnames) == (name, line, varnames)
    assert (code.co_argcount, code.co_posonlyargcount, code.co_kwonlyargcount) == (argcount, 0, 0)
    # 3.13's code constructor raises a stack size of 0 to 1, the least a frame can have.
    assert (code.co_nlocals, code.co_stacksize) == (len(varnames), 1 if sys.version_info >= (3, 13) else 0)
    assert code.co_code == code.co_linetable == b"" and list(code.co_lines()) == []
    with warnings.catch_warnings():  # co_lnotab is deprecated from 3.12
        warnings.simplefilter("ignore", DeprecationWarning)
        assert code.co_lnotab == b""
    if sys.version_info >= (3, 11):  # code objects have these from 3.11
        assert (code.co_qualname, code.co_exceptiontable) == ("Prod." + name, b"")
        assert list(code.co_positions()) == []
    assert code.co_consts == code.co_names == code.co_freevars == code.co_cellvars == ()
    assert code.co_filename == "tessavor\\prod.py"
    # 3.13's code constructor interns every file name, as its compile() does.
    assert (sys.intern("".join(["tessavor\\", "prod.py"])) is code.co_filename) == (sys.version_info >= (3, 13))
    assert code.co_flags == 3  # optimized | newlocals, nothing else


@pytest.fixture
def method(Prod):
    """Prod.get_project, with every attribute a test may change put back afterwards."""
    f = Prod.get_project
    saved = (f.__name__, f.__qualname__, f.__doc__)
    yield f
    f.__name__, f.__qualname__, f.__doc__ = saved
    f.__annotations__ = None
    f.__dict__.clear()


class Text(str):
    pass


@pytest.mark.parametrize("attr", ["__name__", "__qualname__"])
def test_name_setters(method, attr):
    text = Text("kept as given")  # a str subclass is a string object too
    setattr(method, attr, text)
    assert getattr(method, attr) is text
    setattr(method, attr, "renamed")
    assert getattr(method, attr) == "renamed"
    message = f"{attr} must be set to a string object"
    for bad in (None, 1, b"renamed"):
        with pytest.raises(TypeError) as info:
            setattr(method, attr, bad)
        assert str(info.value) == message
    with pytest.raises(TypeError) as info:
        delattr(method, attr)
    assert str(info.value) == message
    assert getattr(method, attr) == "renamed"


def test_doc_setter(method):
    method.__doc__ = "new doc"
    assert method.__doc__ == "new doc"
    del method.__doc__
    assert method.__doc__ is None


def test_annotations_and_function_dict(method):
    first = method.__annotations__
    assert first == {} and method.__annotations__ is first
    new = {"project_name": str}
    method.__annotations__ = new
    assert method.__annotations__ is new
    method.__annotations__ = None
    fresh = method.__annotations__
    assert fresh == {} and fresh is not new and fresh is not first
    ordered = collections.OrderedDict(project_name=str)  # any dict, as for a plain function
    method.__annotations__ = ordered
    assert method.__annotations__ is ordered
    with pytest.raises(TypeError):
        method.__annotations__ = [("project_name", str)]
    method.marker = 7
    assert method.__dict__ == {"marker": 7} and method.marker == 7
    del method.marker
    assert method.__dict__ == {}


def test_binding(Prod, p):
    f = Prod.__dict__["get_project"]
    assert Prod.get_project is f and f.__get__(None, Prod) is f
    bound = p.get_project
    assert type(bound) is types.MethodType and bound.__self__ is p and bound.__func__ is f
    assert f.__get__(p, Prod).__self__ is p

    class Sub(Prod):
        pass

    s = Sub.__new__(Sub)
    assert Sub.get_project is f and s.get_project.__self__ is s and s.get_project.__func__ is f

    p.get_project = "shadow"
    assert p.get_project == "shadow" and Prod.get_project is f
    del p.get_project
    assert p.get_project.__func__ is f


def test_bound_call_passes_the_instance_first(Prod, p):
    items, wanted = ["sh010_anim", "sh020_comp", "sh030_anim"], ["anim"]
    assert p.Filter(items, wanted) == ["sh010_anim", "sh030_anim"]
    assert p.Filter(string=items, substr=wanted) == Prod.Filter(p, items, wanted)


def test_identity_hash_equality_and_weakref(Prod):
    f, g = Prod.get_project, Prod.get_shots
    assert f == f and f != g and not (f == g)
    assert hash(f) == object.__hash__(f) and hash(g) == object.__hash__(g)
    assert weakref.ref(f)() is f


def test_repr_names_the_qualified_name_and_address(method):
    text, address = repr(method).rsplit(" ", 1)
    assert text == "<function Prod.get_project at" and int(address.rstrip(">"), 16) == id(method)
    method.__qualname__ = "Other.name"
    assert repr(method).startswith("<function Other.name at 0x")


# A method object deleted from the class dies: at once, or through a cycle at the next collection,
# whichever of its object fields the cycle runs through. Either way its weak references are
# cleared and their callbacks run.
DEATH_CHILD = """
import gc, json, sys, types, weakref
sys.modules["gazu"] = types.ModuleType("gazu")
import tessavor.prod
Prod = tessavor.prod.Prod

class Text(str):
    pass

def through_name(f, attr):
    text = Text(f.__name__)
    text.back = f
    setattr(f, attr, text)

CYCLES = {
    "get_tasks": None,
    "get_persons": lambda f: f.__dict__.update(self=f),
    "get_projects": lambda f: through_name(f, "__name__"),
    "get_episodes": lambda f: through_name(f, "__qualname__"),
    "get_sequences": lambda f: setattr(f, "__module__", [f]),
    "get_shots": lambda f: setattr(f, "__doc__", [f]),
    "get_project": lambda f: setattr(f, "__annotations__", {"return": f}),
}
died, report = [], {}
for name, cycle in CYCLES.items():
    f = getattr(Prod, name)
    if cycle:
        cycle(f)
    ref = weakref.ref(f, lambda r, name=name: died.append(name))
    del f
    delattr(Prod, name)
    report[name] = [name in died]
    gc.collect()
    report[name] += [name in died, ref() is None]
print(json.dumps(report))
"""


def test_a_deleted_method_object_dies_and_clears_its_weak_references():
    # [dead before the collection, dead after it, weak reference cleared]
    report = json.loads(run_python(DEATH_CHILD).stdout)
    assert report == {"get_tasks": [True, True, True],
                      **{name: [False, True, True] for name in list(report)[1:]}}
    assert len(report) == 7


def test_the_module_keeps_the_class_for_the_whole_process():
    report = json.loads(run_python("""
        import gc, json, sys, types, weakref
        sys.modules["gazu"] = types.ModuleType("gazu")
        import tessavor.prod
        ref = weakref.ref(tessavor.prod.Prod)
        del tessavor.prod.Prod
        gc.collect()
        import tessavor.prod
        print(json.dumps({"alive": ref() is not None, "global": hasattr(tessavor.prod, "Prod"),
                          "works": ref().Filter(None, ["ab", "c"], ["a"]) == ["ab"]}))
    """).stdout)
    assert report == {"alive": True, "global": False, "works": True}


@pytest.mark.parametrize("name, line, argcount, varnames, doc", METHODS, ids=NAMES)
def test_signature(Prod, p, name, line, argcount, varnames, doc):
    params = varnames[:argcount]
    sig = inspect.signature(getattr(Prod, name))
    assert list(sig.parameters) == list(params)
    assert {prm.kind for prm in sig.parameters.values()} == {
        inspect.Parameter.POSITIONAL_OR_KEYWORD}
    assert all(prm.default is inspect.Parameter.empty for prm in sig.parameters.values())
    assert str(inspect.signature(getattr(p, name))) == "(" + ", ".join(params[1:]) + ")"


@pytest.mark.parametrize("name", NAMES)
def test_pickled_by_reference(Prod, name):
    f = getattr(Prod, name)
    assert f.__reduce__() == "Prod." + name
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(f, protocol)) is f


@pytest.mark.parametrize("args, given", [((), 1), ((1, 2), 3)])
def test_construction_goes_through_init(Prod, args, given):
    with pytest.raises(TypeError) as info:
        Prod(*args)
    assert str(info.value) == f"__init__() takes exactly 2 positional arguments ({given} given)"
    assert module_entries(info.value) == [("tessavor.prod.Prod.__init__", 6)]


# C callers reach the type's __get__ slot directly, and may pass None for "no instance": a plain
# function then gives itself, unbound. (Python's __get__ turns None into no instance before it
# calls the slot, so only C sees this.)
def test_the_get_slot_called_from_c_with_none_gives_the_function_itself(Prod, p):
    import ctypes

    api = ctypes.pythonapi
    api.PyType_GetSlot.restype = ctypes.c_void_p
    api.PyType_GetSlot.argtypes = [ctypes.py_object, ctypes.c_int]
    py_tp_descr_get = 54  # typeslots.h, the same on every version
    with_object = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object, ctypes.py_object, ctypes.py_object)
    with_null = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object, ctypes.c_void_p, ctypes.py_object)

    def plain():
        pass

    for f, owner in [(Prod.__dict__["get_project"], Prod), (plain, type(None))]:
        slot = api.PyType_GetSlot(type(f), py_tp_descr_get)
        assert with_object(slot)(f, None, owner) is f
        assert with_object(slot)(f, None, None) is f
        assert with_null(slot)(f, None, owner) is f
        bound = with_object(slot)(f, p, owner)
        assert type(bound) is types.MethodType and bound.__self__ is p and bound.__func__ is f


# A cycle's finalizer can see a method object after the collector has cleared it (tp_clear): it
# must still answer as a plain function cleared by the collector does from 3.11 (3.10's own
# function type crashes there): empty names, its code, None for what the clear dropped.
CLEARED_CHILD = """
import gc, json, sys, types, weakref
sys.modules["gazu"] = types.ModuleType("gazu")
import tessavor.prod

class LateFin:  # CPython's reproducer of gh-91636: its finalizer sees `func` in the middle of tp_clear
    __slots__ = ("ref",)
    def __del__(self):
        global func
        func = self.ref()

class Cyclic(tuple):
    __slots__ = ()
    def __del__(self):  # finalizers run before tp_clear: only now may a weak reference be made
        self[1].ref = weakref.ref(self[0])
        global latefin
        del latefin

def clear_func():  # `func`, the one reference to a function, is cleared by the collector and seen again
    global func, latefin
    latefin = LateFin()
    cyc = tuple.__new__(Cyclic, (func, latefin))
    func.__module__ = cyc  # the cycle: func -> cyc -> func
    del cyc, func
    gc.collect()
    f = func
    return [f.__name__, f.__qualname__, f.__code__.co_name, f.__doc__, f.__module__, f.__globals__,
            f.__dict__, f.__annotations__, repr(f).rsplit(" ", 1)[0]]

func = tessavor.prod.Prod.get_project
func.__doc__, func.marker = "a docstring", 1
delattr(tessavor.prod.Prod, "get_project")
report = {"module": clear_func(), "reduce": func.__reduce__()}

def func():
    "a docstring"
func.marker = 1
if sys.version_info >= (3, 11):
    report["plain"] = clear_func()
print(json.dumps(report))
"""


def test_a_method_object_seen_after_the_collector_cleared_it_still_answers():
    report = json.loads(run_python(CLEARED_CHILD).stdout)
    assert report["module"] == ["", "", "get_project", None, None, None, {}, {}, "<function  at"]
    assert report["reduce"] == ""
    if sys.version_info >= (3, 11):
        assert report["plain"] == ["", "", "func", None, None, None, {}, {}, "<function  at"]
