"""Studio pipeline tools' client package for the production tracker.

The client itself is the native module ``tessavor.prod`` and its class
``Prod``; importing this package does not import it.
"""
