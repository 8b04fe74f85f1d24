"""Imports the installed tessavor.prod and calls it once: the check that a wheel works.

Run it with the interpreter of the environment the wheel was installed into:

    build/wheel-venv/bin/python tools/wheel_smoke.py

Python puts this script's folder (tools/), not the current one, first on sys.path, so the
source folder `tessavor/` in the repository root cannot stand in for the installed package;
the module's file is checked to be in that interpreter's site-packages all the same. Prints
the module's path; exits non-zero when the import, the location or the call is wrong.
"""
import os
import sys
import sysconfig


def main():
    import tessavor.prod as m

    site = os.path.realpath(sysconfig.get_paths()["platlib"])
    where = os.path.realpath(m.__file__)
    if os.path.commonpath([site, where]) != site:
        sys.exit(f"wheel_smoke: tessavor.prod came from {where}, not from {site}")
    got = m.Prod.Filter(None, ["a1", "b2"], ["1"])
    if got != ["a1"]:
        sys.exit(f"wheel_smoke: Prod.Filter(None, ['a1', 'b2'], ['1']) returned {got!r}")
    print("wheel ok:", m.__file__)


if __name__ == "__main__":
    if len(sys.argv) > 1:
        sys.exit(__doc__)
    main()
