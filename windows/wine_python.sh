#!/usr/bin/env bash
# Runs the CPython for Windows that windows/runtime.py laid out in PYTHON_DIR under wine, with
# ARGS as its command line, in that interpreter's own wine prefix (PYTHON_DIR/wine, made on first
# use), and stops that prefix's wineserver afterwards, on every way out, so that nothing is left
# running. Each version having its own prefix, runs of different versions do not stop each other.
#
#   windows/wine_python.sh PYTHON_DIR [ARG ...]
#   e.g. windows/wine_python.sh build/windows-python-3.12 -m pytest -p no:cacheprovider tests
#
# wine needs a console it can use: standard input comes from /dev/null and the output (both
# streams) goes through a pipe. Exits with python's status.
set -euo pipefail

if [[ $# -eq 0 ]]; then
    sed -n '2,/^set -/s/^# \{0,1\}//p' "$0" >&2
    exit 2
fi
python_dir="$1"
shift

export WINEPREFIX="$(cd "$python_dir" && pwd)/wine"
export WINEDEBUG=-all

trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine "$python_dir/python.exe" "$@" </dev/null 2>&1 | cat
