"""What `make demo` runs: the quickstart against a stand-in tracker.

    python examples/demo.py [--real]

Starts devtracker with its sample production on a free loopback port, writes
a credentials file for it in a temporary folder, runs examples/quickstart.py
with it, then stops the server and removes the folder. With --real (`make
demo-real`), the tracker is a freshly started real stack instead
(devtracker/real_stack.py: zou, PostgreSQL, Redis), given a small production
through gazu first (devtracker/production.py), and stopped afterwards.
"""

import argparse
import json
import subprocess
import sys
import tempfile
from pathlib import Path

import gazu

import devtracker
from devtracker import production, real_stack, start

HERE = Path(__file__).resolve().parent


def tracker(real):
    if not real:
        return start()
    stack = real_stack.start()
    try:
        gazu.set_host(stack.api_url)
        gazu.log_in(stack.login, stack.password)
        production.seed(shots_per_sequence=5)
    except BaseException:
        stack.stop()
        raise
    return stack


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--real", action="store_true", help="a real tracker stack instead of devtracker")
    args = parser.parse_args(argv)
    try:
        server = tracker(args.real)
    except real_stack.StackError as exc:
        print(exc, file=sys.stderr)
        return 2
    with server, tempfile.TemporaryDirectory(prefix="tessavor-demo-") as folder:
        credentials = Path(folder) / "credentials.json"
        credentials.write_text(json.dumps(devtracker.credentials(server), indent=2))
        kind = "a real tracker (zou)" if args.real else "devtracker"
        print(f"{kind} serves {server.api_url}; credentials: {credentials}\n", flush=True)
        status = subprocess.call([sys.executable, str(HERE / "quickstart.py"), str(credentials)])
    return status


if __name__ == "__main__":
    sys.exit(main())
