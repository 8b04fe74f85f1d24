"""Prod against gazu called directly, over a real tracker, side by side in one run.

    python bench/real_tracker.py [--repeat N]

Starts a real stack (devtracker/real_stack.py: zou, PostgreSQL, Redis),
seeds it with the shared production (devtracker/production.py: a project of
1,000 shots) and times, alternately, each Prod method and the gazu calls a
user would otherwise write, so that both see the same server and the same
load. Each figure is the best of N calls; the ratio is Prod's time over
gazu's. The stack is stopped afterwards.
"""

import argparse
import json
import sys
import tempfile
import time
from pathlib import Path

import gazu

from devtracker import production, real_stack
from tessavor.prod import Prod

PROJECT = "Agent 327"


def best_pair(first, second, repeat):
    """Best seconds of each of two callables, called in turns."""
    times = ([], [])
    for _ in range(repeat):
        for func, bucket in ((first, times[0]), (second, times[1])):
            start = time.perf_counter()
            func()
            bucket.append(time.perf_counter() - start)
    return min(times[0]), min(times[1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=15, help="calls of each variant (default 15)")
    args = parser.parse_args()
    try:
        stack = real_stack.start()
    except real_stack.StackError as exc:
        print(exc, file=sys.stderr)
        return 2
    with stack, tempfile.TemporaryDirectory() as folder:
        gazu.set_host(stack.api_url)
        gazu.log_in(stack.login, stack.password)
        production.seed()
        credentials = Path(folder) / "credentials.json"
        credentials.write_text(json.dumps({"host_url": stack.api_url, "event_url": stack.event_url,
                                           "login_id": stack.login, "password": stack.password}))
        prod = Prod(str(credentials))

        def gazu_shots():
            project = gazu.project.get_project_by_name(PROJECT)
            return [shot["name"] for shot in gazu.shot.all_shots_for_project(project)]

        def gazu_projects():
            return [project["name"] for project in gazu.project.all_projects()]

        workloads = [
            (f"get_shots over {len(gazu_shots()):,} shots", lambda: prod.get_shots(PROJECT), gazu_shots),
            (f"get_projects ({len(gazu_projects())} projects)", prod.get_projects, gazu_projects),
        ]
        print(f"Python {sys.version.split()[0]}, real tracker zou, best of {args.repeat}; "
              "ratio = Prod time / gazu time\n")
        print(f"{'workload':<48} {'variant':<16} {'ratio':>8} {'per call':>12}")
        for title, native, direct in workloads:
            if native() != direct():
                raise SystemExit(f"Prod and gazu disagree on {title}")
            native_s, direct_s = best_pair(native, direct, args.repeat)
            print(f"{title:<48} {'Prod':<16} {native_s / direct_s:>8.2f} {native_s * 1e3:>9.1f} ms")
            print(f"{'':<48} {'gazu directly':<16} {1.0:>8.2f} {direct_s * 1e3:>9.1f} ms\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
