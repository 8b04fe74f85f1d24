"""Stages the CPython 3.10 headers for the Windows cross build.

The C headers of CPython are the same on every platform but for pyconfig.h.
Python.h includes it by a quoted name, which finds the file beside Python.h
first, so the build platform's pyconfig.h cannot simply be overridden by an
include path: this copies the build interpreter's include folder without it
and puts the Windows pyconfig.h in its place.

    python stage_headers.py PYCONFIG DESTINATION

The interpreter running this script must be CPython 3.10.
"""
import shutil
import sys
import sysconfig


def main(pyconfig, destination):
    if sys.version_info[:2] != (3, 10):
        sys.exit(f"stage_headers: needs CPython 3.10 headers, this is {sys.version.split()[0]}")
    shutil.rmtree(destination, ignore_errors=True)
    shutil.copytree(sysconfig.get_paths()["include"], destination,
                    ignore=shutil.ignore_patterns("pyconfig.h"))
    shutil.copyfile(pyconfig, f"{destination}/pyconfig.h")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
