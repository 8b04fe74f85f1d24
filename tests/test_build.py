"""The built extension file exports its entry point and nothing else."""
import shutil
import subprocess
import sys

import pytest


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm is not installed")
@pytest.mark.skipif(sys.platform == "win32", reason="a .pyd's exports are checked by make check-windows")
def test_only_pyinit_prod_is_exported(prod):
    out = subprocess.run(["nm", "-D", "--defined-only", prod.__file__],
                         capture_output=True, text=True, check=True).stdout
    assert [line.split()[-1] for line in out.splitlines() if line.strip()] == ["PyInit_prod"]


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm is not installed")
@pytest.mark.skipif(sys.platform == "win32", reason="the sanitizer build is a Linux one")
def test_the_sanitizer_build_keeps_its_asserts(prod):
    # make test-asan builds debugoptimized, which meson leaves without NDEBUG: the module's asserts
    # of its invariants run there (a failed one calls __assert_fail); the release build has none.
    out = subprocess.run(["nm", "-D", "--undefined-only", prod.__file__],
                         capture_output=True, text=True, check=True).stdout
    imported = {line.split()[-1].split("@")[0] for line in out.splitlines() if line.strip()}
    sanitized = "__asan_init" in imported
    assert ("__assert_fail" in imported) == sanitized, sorted(n for n in imported if "asan" in n or "assert" in n)
