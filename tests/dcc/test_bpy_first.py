"""The import and Filter tests beside bpy (`make test-dcc`) run with it imported first, everywhere."""
import sys

from conftest import IMPORT_FIRST, run_python

ORDER = """
    import sys, tessavor.prod
    names = list(sys.modules)
    print(names.index("bpy") < names.index("tessavor.prod"))
    """


def test_bpy_is_imported_before_the_module_here_and_in_fresh_interpreters():
    assert IMPORT_FIRST == ["bpy"], "run with TESSAVOR_IMPORT_FIRST=bpy, as make test-dcc does"
    import tessavor.prod  # noqa: F401

    names = list(sys.modules)
    assert names.index("bpy") < names.index("tessavor.prod")
    assert run_python(ORDER).stdout.splitlines()[-1] == "True"
