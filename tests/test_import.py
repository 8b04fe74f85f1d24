"""Import of tessavor.prod: module identity, namespace, and the failures of the exec step.

Every scenario runs in a fresh interpreter: the module keeps process-wide state.
"""
import ast
import importlib.util
import sys
import textwrap

import pytest

from conftest import TRACEBACK_FILENAME, run_python

PRELUDE = f"""\
import sys
FILENAME = {TRACEBACK_FILENAME!r}
def entries(exc):
    out, tb = [], exc.__traceback__
    while tb is not None:
        if tb.tb_frame.f_code.co_filename == FILENAME:
            assert tb.tb_frame.f_code.co_firstlineno == tb.tb_lineno
            out.append((tb.tb_frame.f_code.co_name, tb.tb_lineno))
        tb = tb.tb_next
    return out
"""


def run_child(body):
    """Runs body after PRELUDE; the child prints one repr'd dict as its last line."""
    proc = run_python(PRELUDE + textwrap.dedent(body))
    return ast.literal_eval(proc.stdout.strip().splitlines()[-1])


def test_reimport_and_reload_give_the_same_module():
    res = run_child(
        """
        import importlib, importlib.util
        import tessavor.prod as first
        import gazu, json
        import tessavor.prod as second
        cls, test_dict = first.Prod, first.__test__
        del sys.modules["tessavor.prod"]
        import tessavor.prod as third
        again = dict(
            second=second is first, third=third is first,
            entry=sys.modules["tessavor.prod"] is first, cls=third.Prod is cls,
            test=third.__test__ is test_dict, gazu=third.gazu is gazu, json=third.json is json,
            from_spec=importlib.util.module_from_spec(
                importlib.util.find_spec("tessavor.prod")) is first,
        )
        counts = []
        for _ in range(4):  # each import after the entry is gone hands back the module itself
            del sys.modules["tessavor.prod"]
            import tessavor.prod as imported
            del imported
            counts.append(sys.getrefcount(first))
        again = dict(again, refcount_kept=len(set(counts)) == 1)
        sentinel = object()
        first.gazu = sentinel
        reloaded = importlib.reload(first)
        print(repr(dict(again, reloaded=reloaded is first, cls2=reloaded.Prod is cls,
                        json2=reloaded.json is json, test2=reloaded.__test__ is test_dict,
                        rebinding_kept=reloaded.gazu is sentinel)))
        """
    )
    assert len(res) == 14
    assert [key for key, value in res.items() if value is not True] == []


def test_spec_attributes_that_raise_fail_the_create_step():
    res = run_child(
        """
        import _imp, importlib.util
        real = importlib.util.find_spec("tessavor.prod")
        class Spec:
            name, origin, loader = real.name, real.origin, real.loader
            @property
            def parent(self):
                raise ValueError("no parent today")
        failed = None
        try:
            _imp.create_dynamic(Spec())
        except ValueError as exc:
            failed = str(exc)
        class Bare:  # no parent, no submodule_search_locations: the keys are left alone
            name, origin, loader = real.name, real.origin, real.loader
        module = _imp.create_dynamic(Bare())
        print(repr(dict(failed=failed, file=module.__file__ == real.origin,
                        package=module.__package__, path="__path__" in vars(module))))
        """
    )
    assert res == dict(failed="no parent today", file=True, package=None, path=False)


def test_namespace():
    res = run_child(
        """
        import builtins, gazu, json, tessavor.prod as m
        d = vars(m)
        print(repr(dict(
            keys=list(d), name=d["__name__"], package=d["__package__"], doc=d["__doc__"],
            test=d["__test__"], test_type=type(d["__test__"]) is dict, path="__path__" in d,
            builtins=d["__builtins__"] is builtins,
            file=d["__file__"] == m.__spec__.origin and isinstance(d["__file__"], str),
            loader=d["__loader__"] is m.__spec__.loader, spec_name=m.__spec__.name,
            gazu=d["gazu"] is gazu, json=d["json"] is json,
        )))
        """
    )
    assert res == dict(
        keys=["__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__",
              "__builtins__", "gazu", "json", "Prod", "__test__"],
        name="tessavor.prod", package="tessavor", doc=None, test={}, test_type=True,
        path=False, builtins=True, file=True, loader=True, spec_name="tessavor.prod",
        gazu=True, json=True,
    )


REFUSED = ("Interpreter change detected - this module can only be loaded into one "
           "interpreter per process.")

# Runs code in a sub-interpreter; gives back its failure as text ("ImportError: ..." or, up to
# 3.12, "<class 'ImportError'>: ..."), None when it ran through. A legacy one is the kind an
# embedding application makes, which lets any extension in on every version, so that the
# module's own check speaks; from 3.12 the default is isolated (its own GIL and settings).
SUBINTERPRETER = """
def in_subinterpreter(code, legacy=True):
    try:
        import _interpreters as si  # 3.13
        interp = si.create("legacy" if legacy else None)
    except ImportError:
        import _xxsubinterpreters as si
        interp = si.create(isolated=not legacy) if sys.version_info >= (3, 12) else si.create()
    try:
        failure = si.run_string(interp, code)
    except si.RunFailedError as exc:  # up to 3.12 it raises
        return str(exc)
    return failure and failure.formatted  # 3.13 returns it
"""


def failure_message(text):
    """The message of a sub-interpreter's failure, checked to be an ImportError."""
    for form in ("ImportError: ", "<class 'ImportError'>: "):
        if text is not None and text.startswith(form):
            return text[len(form):]
    raise AssertionError(text)


def test_second_interpreter_is_refused():
    res = run_child(
        SUBINTERPRETER
        + textwrap.dedent("""
        import tessavor.prod
        text = in_subinterpreter("import tessavor.prod")
        print(repr(dict(text=text, main_ok=hasattr(tessavor.prod, "Prod"))))
        """)
    )
    assert res["main_ok"] and failure_message(res["text"]) == REFUSED


def test_the_first_interpreter_to_import_keeps_the_module():
    # A sub-interpreter imports first: it gets the module, and the main interpreter is refused.
    res = run_child(
        SUBINTERPRETER
        + textwrap.dedent("""
        import types
        sub = in_subinterpreter("import sys, types; sys.modules['gazu'] = types.ModuleType('gazu')\\n"
                                "import tessavor.prod as m; assert m.Prod.Filter(None, ['ab'], ['a']) == ['ab']")
        sys.modules["gazu"] = types.ModuleType("gazu")
        try:
            import tessavor.prod
            text = None
        except ImportError as exc:
            text = str(exc)
        print(repr(dict(sub=sub, text=text)))
        """)
    )
    assert res == dict(sub=None, text=REFUSED)


@pytest.mark.skipif(sys.version_info < (3, 12), reason="isolated sub-interpreters came with 3.12")
def test_an_isolated_interpreter_is_refused_by_the_interpreter_itself():
    # The module declares that it supports no sub-interpreters; an isolated one then refuses it
    # with the interpreter's own message, before the module runs.
    res = run_child(
        SUBINTERPRETER
        + textwrap.dedent("""
        text = in_subinterpreter("import tessavor.prod", legacy=False)
        import tessavor.prod
        print(repr(dict(text=text, main_ok=hasattr(tessavor.prod, "Prod"))))
        """)
    )
    assert res["main_ok"]
    assert failure_message(res["text"]) == "module tessavor.prod does not support loading in subinterpreters"


# A sub-interpreter that shares the main one's GIL and checks its extensions' declarations, as an
# embedding application may make it: the interpreter itself refuses a module that declares no
# support for several interpreters, so the main interpreter keeps it. 3.13 makes one through
# _interpreters with a config; 3.12 only through _testcapi (whose 3.12.0 took own_gil, not gil).
SHARED_GIL = r"""
import os, tempfile, textwrap
def in_shared_gil_subinterpreter(code):
    fd, out = tempfile.mkstemp()
    os.close(fd)
    code = textwrap.dedent(code) + f"\nwith open({out!r}, 'w') as f:\n    f.write(text)\n"
    settings = dict(use_main_obmalloc=True, allow_fork=True, allow_exec=True, allow_threads=True,
                    allow_daemon_threads=True, check_multi_interp_extensions=True)
    try:
        import _interpreters  # 3.13
    except ImportError:
        import _testcapi
        try:
            assert _testcapi.run_in_subinterp_with_config(code, **settings, gil=1) == 0  # shared
        except TypeError:
            assert _testcapi.run_in_subinterp_with_config(code, **settings, own_gil=False) == 0
    else:
        config = _interpreters.new_config("legacy", **settings)
        assert config.gil == "shared"
        interp = _interpreters.create(config)
        try:
            assert _interpreters.run_string(interp, code) is None
        finally:
            _interpreters.destroy(interp)
    with open(out) as f:
        text = f.read()
    os.remove(out)
    return text
"""

IN_SHARED_GIL = '''
import sys, types
sys.modules["gazu"] = types.ModuleType("gazu")
try:
    import tessavor.prod
    text = "loaded"
except ImportError as exc:
    text = str(exc)
'''


@pytest.mark.skipif(sys.version_info < (3, 12), reason="modules declare support for several interpreters from 3.12")
@pytest.mark.skipif(sys.version_info < (3, 13) and importlib.util.find_spec("_testcapi") is None,
                    reason="3.12 makes such an interpreter only through _testcapi, which this one lacks")
def test_a_shared_gil_interpreter_that_checks_extensions_refuses_the_module():
    res = run_child(
        SHARED_GIL
        + f"sub = in_shared_gil_subinterpreter({IN_SHARED_GIL!r})\n"
        + textwrap.dedent("""
        sys.modules["gazu"] = __import__("types").ModuleType("gazu")
        try:
            import tessavor.prod
            main = tessavor.prod.Prod.Filter(None, ["ab"], ["a"])
        except ImportError as exc:
            main = str(exc)
        print(repr(dict(sub=sub, main=main)))
        """)
    )
    assert res == dict(sub="module tessavor.prod does not support loading in subinterpreters", main=["ab"])


@pytest.mark.parametrize("how", ["__spec__", "_initializing"])
def test_a_gazu_entry_whose_spec_raises_is_imported_as_the_interpreter_imports_it(how):
    # The module's `import gazu` line does what Python's own does: 3.13 raises what reading the
    # entry's __spec__ or __spec__._initializing raises, 3.10 to 3.12 return the entry.
    res = run_child(
        f"HOW = {how!r}\n"
        + textwrap.dedent("""
        import types
        class Boom(Exception):
            pass
        class Entry(types.ModuleType):
            @property
            def __spec__(self):
                raise Boom("__spec__")
        class Spec:
            @property
            def _initializing(self):
                raise Boom("_initializing")
        def import_gazu():
            import gazu
            return gazu
        entry = Entry("gazu") if HOW == "__spec__" else types.ModuleType("gazu")
        if HOW == "_initializing":
            entry.__spec__ = Spec()
        sys.modules["gazu"] = entry
        try:
            python = "the entry" if import_gazu() is entry else "another"
        except Boom as exc:
            python = str(exc)
        try:
            import tessavor.prod
            module = "the entry" if tessavor.prod.gazu is entry else "another"
        except Boom as exc:
            module = [str(exc), entries(exc)]
        print(repr(dict(python=python, module=module)))
        """)
    )
    if sys.version_info >= (3, 13):
        assert res == dict(python=how, module=[how, [("init tessavor.prod", 1)]])
    else:
        assert res == dict(python="the entry", module="the entry")


def test_missing_gazu_fails_at_line_1_and_next_import_starts_afresh():
    res = run_child(
        """
        sys.modules["gazu"] = None
        failed = None
        try:
            import tessavor.prod
        except ModuleNotFoundError as exc:
            failed = entries(exc)
        left = "tessavor.prod" in sys.modules
        del sys.modules["gazu"]
        import gazu, tessavor.prod
        print(repr(dict(failed=failed, left=left, ok=sys.modules["tessavor.prod"] is tessavor.prod,
                        gazu=tessavor.prod.gazu is gazu, cls=hasattr(tessavor.prod, "Prod"))))
        """
    )
    assert res == dict(failed=[("init tessavor.prod", 1)], left=False, ok=True, gazu=True, cls=True)


def test_missing_json_fails_at_line_2_after_storing_gazu():
    res = run_child(
        """
        import importlib.util, gazu
        sys.modules.pop("json", None)
        sys.modules["json"] = None
        plain = kept = None
        try:
            import tessavor.prod
        except ModuleNotFoundError as exc:
            plain = entries(exc)
        spec = importlib.util.find_spec("tessavor.prod")
        mod = importlib.util.module_from_spec(spec)
        try:
            spec.loader.exec_module(mod)
        except ModuleNotFoundError as exc:
            kept = entries(exc)
        print(repr(dict(plain=plain, kept=kept, gazu=mod.__dict__.get("gazu") is gazu,
                        json="json" in mod.__dict__, cls="Prod" in mod.__dict__)))
        """
    )
    line2 = [("init tessavor.prod", 2)]
    assert res == dict(plain=line2, kept=line2, gazu=True, json=False, cls=False)


def test_a_second_module_object_is_not_executed():
    res = run_child(
        """
        import importlib.util
        spec = importlib.util.find_spec("tessavor.prod")
        first, second = importlib.util.module_from_spec(spec), importlib.util.module_from_spec(spec)
        spec.loader.exec_module(first)
        failed = None
        try:
            spec.loader.exec_module(second)
        except RuntimeError as exc:
            failed = [str(exc), entries(exc)]
        print(repr(dict(failed=failed, distinct=first is not second, entry=sys.modules["tessavor.prod"] is first,
                        second="Prod" in vars(second), works=first.Prod.Filter(None, ["ab"], ["a"]) == ["ab"])))
        """
    )
    assert res == dict(failed=["Module 'prod' has already been imported. Re-initialisation is not supported.", []],
                       distinct=True, entry=True, second=False, works=True)


def test_stub_gazu_is_used_without_finders_or_import_hook():
    res = run_child(
        """
        import builtins, json, types
        finds, imports = [], []
        class Recorder:
            def find_spec(self, name, path=None, target=None):
                finds.append(name)
        sys.meta_path.insert(0, Recorder())
        real_import = builtins.__import__
        def recording_import(name, *args, **kwargs):
            imports.append(name)
            return real_import(name, *args, **kwargs)
        builtins.__import__ = recording_import
        stub = types.SimpleNamespace(marker=1)
        sys.modules["gazu"] = stub
        import tessavor.prod
        builtins.__import__ = real_import
        print(repr(dict(stub=tessavor.prod.gazu is stub, json=tessavor.prod.json is json,
                        finds=sorted(set(finds)), imports=sorted(set(imports)))))
        """
    )
    assert res["stub"] and res["json"]
    assert "tessavor.prod" in res["finds"] and "gazu" not in res["finds"]
    # importlib itself imports _io through the hook; only the module's own imports matter.
    assert "tessavor.prod" in res["imports"] and not {"gazu", "json"} & set(res["imports"])


def test_missing_builtin_open_fails_with_name_error():
    res = run_child(
        """
        import builtins
        real_open = builtins.open
        del builtins.open
        failed = None
        try:
            import tessavor.prod
        except NameError as exc:
            failed = [str(exc), entries(exc)]
        builtins.open = real_open
        import tessavor.prod
        print(repr(dict(failed=failed, ok=hasattr(tessavor.prod, "Prod"))))
        """
    )
    assert res == dict(failed=["name 'open' is not defined", [("init tessavor.prod", 1)]], ok=True)


def test_loaded_under_another_name_registers_as_tessavor_prod():
    res = run_child(
        """
        import importlib.util
        path = importlib.util.find_spec("tessavor.prod").origin
        before = "tessavor.prod" in sys.modules
        spec = importlib.util.spec_from_file_location("alt.prod", path)
        mod = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(mod)
        print(repr(dict(before=before, entry=sys.modules.get("tessavor.prod") is mod,
                        alt="alt.prod" in sys.modules, name=mod.__name__, package=mod.__package__,
                        cls=mod.Prod.__module__, method=mod.Prod.get_shots.__module__)))
        """
    )
    assert res == dict(before=False, entry=True, alt=False, name="alt.prod", package="alt",
                       cls="tessavor.prod", method="tessavor.prod")


def test_warnings_as_errors_do_not_break_the_import_on_the_version_it_was_built_for():
    res = run_child(
        """
        import warnings
        warnings.simplefilter("error")
        import tessavor.prod
        print(repr(dict(version=sys.version_info[:2], ok=hasattr(tessavor.prod, "Prod"))))
        """
    )
    assert res == dict(version=sys.version_info[:2], ok=True)
