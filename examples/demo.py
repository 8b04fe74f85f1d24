"""What `make demo` runs: the quickstart against a stand-in tracker.

Starts devtracker with its sample production on a free loopback port, writes
a credentials file for it in a temporary folder, runs examples/quickstart.py
with it, then stops the server and removes the folder.
"""

import json
import subprocess
import sys
import tempfile
from pathlib import Path

from devtracker import start

HERE = Path(__file__).resolve().parent


def main():
    with start() as server, tempfile.TemporaryDirectory(prefix="tessavor-demo-") as folder:
        credentials = Path(folder) / "credentials.json"
        credentials.write_text(
            json.dumps(
                {
                    "host_url": server.api_url,
                    "event_url": server.event_url,
                    "login_id": server.login,
                    "password": server.password,
                },
                indent=2,
            )
        )
        print(f"devtracker serves {server.api_url}; credentials: {credentials}\n", flush=True)
        status = subprocess.call([sys.executable, str(HERE / "quickstart.py"), str(credentials)])
    return status


if __name__ == "__main__":
    sys.exit(main())
