"""What a benchmark run leaves behind: its printed report and its figures, as one JSON file.

bench.py and filter_grid.py each take `--json FILE`; `recording(FILE)` copies everything they
print into the file's "report", beside the figures they put in the returned record and a note of
the run (when, on which interpreter and machine, at which commit). bench/charts.py draws the
charts and the tables of docs/performance.md from these files alone, so they can be redrawn
without measuring again.
"""

import contextlib
import datetime
import io
import json
import os
import platform
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def commit():
    """The checkout's commit, with "+changes" when its tracked files differ from it; None outside git."""
    try:
        head = subprocess.run(["git", "rev-parse", "--short=12", "HEAD"], cwd=ROOT, capture_output=True,
                              text=True, check=True).stdout.strip()
        dirty = subprocess.run(["git", "diff", "--quiet", "HEAD", "--"], cwd=ROOT).returncode != 0
    except (OSError, subprocess.CalledProcessError):
        return None
    return head + ("+changes" if dirty else "")


def machine():
    return {"python": platform.python_version(), "implementation": platform.python_implementation(),
            "platform": platform.platform(), "cpus": os.cpu_count()}


class _Tee(io.TextIOBase):
    def __init__(self, *streams):
        self.streams = streams

    def write(self, text):
        for stream in self.streams:
            stream.write(text)
        return len(text)

    def flush(self):
        for stream in self.streams:
            stream.flush()


@contextlib.contextmanager
def recording(path):
    """Yields the record to fill; on a normal exit writes it to `path` (when not None) with the
    run's note and all that was printed meanwhile. A run that fails writes nothing."""
    record = {"run": {"started": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
                      "commit": commit(), **machine(), "argv": sys.argv[1:]}}
    printed = io.StringIO()
    with contextlib.redirect_stdout(_Tee(sys.stdout, printed)):
        yield record
    if path is not None:
        record["report"] = printed.getvalue()
        Path(path).parent.mkdir(parents=True, exist_ok=True)
        Path(path).write_text(json.dumps(record, indent=1) + "\n", encoding="utf-8")
        print(f"results written to {path}")
