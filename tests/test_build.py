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
