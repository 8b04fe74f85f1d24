"""The README's and docs/' examples run as a reader runs them, and show what they print.

Each page's Python examples run in a fresh interpreter against devtracker
(tests/page_examples.py); tests/test_typing.py type-checks the same examples.
The tables of docs/performance.md and its chart are those of the saved
benchmark results.
"""

import importlib.util
import re
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

from page_examples import KINDS, ROOT, blocks, examples, pages

# Examples a page marks `<!-- not run: NAME -->`, and why each cannot run here.
NOT_RUN = {}
# Fence languages that hold no Python.
OTHER_KINDS = {"json", "text"}
RUNNER = Path(__file__).resolve().parent / "page_examples.py"


def page_id(page):
    return page.relative_to(ROOT).as_posix()


@pytest.mark.parametrize("page", pages(), ids=page_id)
def test_the_page_examples_run_and_print_what_the_page_shows(page):
    proc = subprocess.run([sys.executable, str(RUNNER), str(page)], capture_output=True, text=True,
                          cwd=tempfile.gettempdir(), timeout=300)
    assert proc.returncode == 0, proc.stdout + proc.stderr


def test_the_front_page_and_the_guide_have_sessions_that_run():
    found = {page_id(page): {block.kind for block in examples(page.read_text(encoding="utf-8"))} for page in pages()}
    assert "pycon" in found["README.md"] and "pycon" in found["docs/guide.md"], found
    assert "python" in found["docs/troubleshooting.md"], found


def test_every_fenced_block_is_of_a_known_kind_and_only_the_listed_ones_are_left_out():
    # A Python example under another fence (```py, ```python3) would be skipped without a word.
    kinds, not_run = set(), set()
    for page in pages():
        for block in blocks(page.read_text(encoding="utf-8")):
            kinds.add(block.kind)
            if block.not_run:
                not_run.add(block.not_run)
    assert kinds <= KINDS | OTHER_KINDS, kinds
    assert not_run == set(NOT_RUN)


LINK = re.compile(r"\]\(([^)\s]+)\)")


def anchors(text):
    """The anchors GitHub makes of a page's headings."""
    headings = re.findall(r"^#+ (.*)$", re.sub(r"^```.*?^```$", "", text, flags=re.MULTILINE | re.DOTALL), re.MULTILINE)
    return {re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-") for heading in headings}


def test_every_link_between_pages_reaches_a_page_and_heading():
    broken = []
    for page in [*pages(), ROOT / "CONTRIBUTING.md"]:
        for target in LINK.findall(page.read_text(encoding="utf-8")):
            if re.match(r"\w+:", target):
                continue  # another site
            path, _, anchor = target.partition("#")
            file = (page.parent / path).resolve() if path else page
            if not file.exists() or anchor and anchor not in anchors(file.read_text(encoding="utf-8")):
                broken.append(f"{page_id(page)}: {target}")
    assert broken == []


def demo_output_shown():
    """The paragraphs of the front page's block marked as make demo's output."""
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    shown = re.search(r"^<!-- output of: make demo -->\n```text\n(.*?)^```$", text, re.MULTILINE | re.DOTALL)
    assert shown, "README.md shows no output of make demo"
    return [part.strip("\n") for part in shown[1].split("\n\n")]


def test_the_front_page_shows_what_make_demo_prints():
    proc = subprocess.run([sys.executable, str(ROOT / "examples" / "demo.py")], capture_output=True, text=True,
                          cwd=tempfile.gettempdir(), timeout=120)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    paragraphs = demo_output_shown()
    assert len(paragraphs) >= 3
    missing = [part for part in paragraphs if part not in proc.stdout]
    assert missing == [], proc.stdout


def bench_charts():
    """bench/charts.py, which draws docs/performance.md's charts and tables from saved results."""
    spec = importlib.util.spec_from_file_location("charts", ROOT / "bench" / "charts.py")
    charts = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(charts)
    return charts


def test_the_performance_page_shows_the_saved_results():
    charts = bench_charts()
    results = charts.load(ROOT / "bench" / "results")
    assert results["grid"] and set(results["versions"]) == set(charts.VERSIONS)
    page = (ROOT / "docs" / "performance.md").read_text(encoding="utf-8")
    assert charts.fill(page, charts.generated_parts(results)) == page, "make bench-charts redraws it"
    drawn = {"filter_grid.svg": [results["grid"]], "bench_versions.svg": list(results["versions"].values())}
    for chart, runs in drawn.items():
        svg = (ROOT / "docs" / chart).read_text(encoding="utf-8")
        assert f"from results {charts.fingerprint(*runs)}" in svg, f"{chart}: make bench-charts redraws it"
