"""Studio pipeline tools' client package for the production tracker.

The client itself is the native module ``tessavor.prod`` and its class
``Prod``; importing this package does not import it.
"""

# The release, as pyproject.toml and meson.build give it (a test keeps the three equal).
__version__ = "0.1.0"
