"""Stages the CPython headers of one version for the Windows cross build.

The C headers of CPython are the same on every platform but for pyconfig.h.
Python.h includes it by a quoted name, which finds the file beside Python.h
first, so the build platform's pyconfig.h cannot simply be overridden by an
include path: this copies the build interpreter's include folder without it
and puts the Windows pyconfig.h in its place.

    python stage_headers.py VERSION PYCONFIG DESTINATION

The interpreter running this script must be CPython VERSION (e.g. 3.12),
the version that PYCONFIG is written for.
"""
import shutil
import sys
import sysconfig


def main(version, pyconfig, destination):
    running = "%d.%d" % sys.version_info[:2]
    if sys.implementation.name != "cpython" or running != version:
        sys.exit(f"stage_headers: needs CPython {version} headers, this is "
                 f"{sys.implementation.name} {sys.version.split()[0]}")
    if sysconfig.get_config_var("Py_GIL_DISABLED"):
        sys.exit("stage_headers: this is a free-threaded build; the Windows target has the GIL")
    shutil.rmtree(destination, ignore_errors=True)
    shutil.copytree(sysconfig.get_paths()["include"], destination,
                    ignore=shutil.ignore_patterns("pyconfig.h"))
    shutil.copyfile(pyconfig, f"{destination}/pyconfig.h")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
