"""python -m devtracker [--port N] [--data FILE] [--credentials FILE] [--verbose]"""

import argparse
import json
import signal
import sys
import threading

from .server import SAMPLE_DATA, credentials, start


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python -m devtracker",
        description="Serve a production to gazu on 127.0.0.1 until interrupted.",
    )
    parser.add_argument("--port", type=int, default=0, help="TCP port (default: any free one)")
    parser.add_argument("--data", default=None, help=f"data file (default: {SAMPLE_DATA.name})")
    parser.add_argument("--credentials", metavar="FILE", default=None,
                        help="also write a credentials file for Prod there")
    parser.add_argument("--verbose", action="store_true", help="log requests to stderr")
    args = parser.parse_args(argv)
    if not 0 <= args.port <= 65535:
        parser.error("--port must be between 0 and 65535")
    try:
        server = start(args.data, args.port, verbose=args.verbose)
    except (OSError, ValueError) as exc:
        print(f"devtracker: {exc}", file=sys.stderr)
        return 2
    text = json.dumps(credentials(server), indent=4)
    if args.credentials is not None:
        try:
            with open(args.credentials, "w", encoding="utf-8") as f:
                f.write(text + "\n")
        except OSError as exc:
            server.stop()
            print(f"devtracker: {exc}", file=sys.stderr)
            return 2
    stopping = threading.Event()
    for signum in (signal.SIGINT, signal.SIGTERM):
        signal.signal(signum, lambda *_: stopping.set())
    # The first line is the address alone, for scripts; the rest is for a person.
    print(server.api_url)
    print(f"login {server.login}, password {server.password}")
    if args.credentials is not None:
        print(f"credentials for Prod written to {args.credentials}")
    else:
        print("credentials for Prod (save as a .json file, or pass --credentials FILE):")
        print(text)
    print("serving until Ctrl-C", flush=True)
    stopping.wait()
    server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
