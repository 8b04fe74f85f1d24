"""The Python examples of the README and docs/, found, type-checked and run as a reader runs them.

A page's examples are its ```python blocks, scripts run as they stand, and its ```pycon blocks,
sessions whose shown output is compared as doctest compares it (`...` matches anything). They
run in the page's order and share one namespace, in a fresh interpreter whose current folder
holds `credentials.json` for a devtracker with its sample production: the examples open the
credentials file by that name. A block right after `<!-- not run: NAME -->` is neither run nor
type-checked; tests/test_pages.py keeps the list of those names.

    python tests/page_examples.py PAGE

runs one page's examples and prints each failure with the page's line; the exit status is 1 when
any failed.
"""

import doctest
import json
import os
import re
import sys
import tempfile
import traceback
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# Every fenced block, with the name of the example before it, if any.
FENCE = re.compile(r"^(?:<!-- not run: (?P<name>[\w-]+) -->\n)?```(?P<kind>[\w-]*)\n(?P<body>.*?)^```$",
                   re.MULTILINE | re.DOTALL)
KINDS = {"python", "pycon"}


def pages():
    """The pages whose examples the suite runs: the README and docs/."""
    return [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]


@dataclass
class Block:
    kind: str  # the fence's language
    body: str
    line: int  # of the body's first line in the page
    not_run: str  # the name it is left out by, or ""


def blocks(text):
    """Every fenced block of a page, in order."""
    return [Block(m["kind"], m["body"], text.count("\n", 0, m.start("body")) + 1, m["name"] or "")
            for m in FENCE.finditer(text)]


def examples(text):
    """The page's Python examples that run."""
    return [block for block in blocks(text) if block.kind in KINDS and not block.not_run]


def script(text):
    """The page's examples as one script, for a type checker: sessions become their statements."""
    parts = []
    for block in examples(text):
        if block.kind == "python":
            parts.append(block.body)
        else:
            parts += [example.source for example in doctest.DocTestParser().get_examples(block.body)]
    return "".join(parts)


def run(page):
    """Runs the page's examples against devtracker; returns how many failed."""
    from devtracker import credentials, start

    text = page.read_text(encoding="utf-8")
    namespace = {"__name__": "__main__"}
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    failed = 0
    with start() as server, tempfile.TemporaryDirectory() as folder:
        os.chdir(folder)
        Path("credentials.json").write_text(json.dumps(credentials(server)), encoding="utf-8")
        for block in examples(text):
            if block.kind == "pycon":
                test = doctest.DocTestParser().get_doctest(block.body, namespace, f"{page.name}:{block.line}",
                                                           str(page), block.line - 1)
                failed += runner.run(test, clear_globs=False).failed
                namespace = test.globs  # a DocTest works on a copy of what it is given
                continue
            # Blank lines before the body, so that a traceback names the page's own line.
            code = compile("\n" * (block.line - 1) + block.body, str(page), "exec")
            try:
                exec(code, namespace)
            except Exception:
                print(f"{page}, the example at line {block.line} failed:")
                traceback.print_exc(file=sys.stdout)
                failed += 1
        os.chdir(ROOT)
    return failed


def main():
    page = Path(sys.argv[1]).resolve()
    failed = run(page)
    count = len(examples(page.read_text(encoding="utf-8")))
    print(f"{page.name}: {count} blocks of examples run, {failed} failed examples")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
