"""devtracker: a small offline production tracker for gazu, on 127.0.0.1.

    from devtracker import start
    with start() as server:            # the sample production, an ephemeral port
        gazu.set_host(server.api_url)
        gazu.log_in(server.login, server.password)

`python -m devtracker [--port N] [--data FILE] [--credentials FILE] [--verbose]`
serves it until interrupted, and prints its address, its login and a
credentials file for `Prod`.
"""

from .server import SAMPLE_DATA, DevTracker, credentials, load_production, start

__all__ = ["SAMPLE_DATA", "DevTracker", "credentials", "load_production", "start"]
