"""The installed stub describes the runtime module, and type checkers find it."""
import subprocess
import sys
import tempfile
import textwrap

import pytest

pytest.importorskip("mypy")


def run_tool(*args, cwd):
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, cwd=cwd)


def test_stub_matches_the_runtime_module():
    proc = run_tool("mypy.stubtest", "tessavor.prod", cwd=tempfile.gettempdir())
    assert proc.returncode == 0, proc.stdout + proc.stderr


def test_type_checker_reads_the_stub(tmp_path):
    (tmp_path / "tool.py").write_text(textwrap.dedent("""
        from tessavor.prod import Prod
        prod = Prod("credentials.json")
        names: list[str] = Prod.Filter(prod, ["sh010"], ["010"])
        reveal_type(prod.get_shots("A"))
        prod.get_shots()
    """))
    proc = run_tool("mypy", "--no-incremental", "tool.py", cwd=tmp_path)
    out = proc.stdout
    assert 'Revealed type is "list[Any]"' in out or 'Revealed type is "builtins.list[Any]"' in out, out
    assert 'Missing positional argument "project_name" in call to "get_shots"' in out, out
    assert out.count("error:") == 1, out
