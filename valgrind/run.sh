#!/usr/bin/env bash
# Memcheck over a representative part of the test suite: no invalid read or write and no use of an
# uninitialised value may happen, in the module or in what it calls. Leak checking is off: the
# interpreter keeps much of its memory until exit, and so does the module's process-wide state.
#
#   valgrind/run.sh [PYTHON [TEST ...]]     PYTHON defaults to .venv/bin/python; TESTs to the list below
#
# Exits 99 when memcheck reports an error, pytest's status otherwise.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

python="${1:-$root/.venv/bin/python}"
[[ "$python" == /* ]] || python="$PWD/$python"  # absolute: pytest runs from another folder
shift $(($# > 0 ? 1 : 0))

# The in-process tests of the module's behaviour; the subprocess-heavy files (import, build, typing,
# devtracker, end to end) and the hypothesis ones would only add interpreter time.
tests=("$@")
if [[ ${#tests[@]} -eq 0 ]]; then
    tests=()
    for name in binding class construction credentials fast_paths filter matcher listings hostile_files; do
        tests+=("$root/tests/test_$name.py")
    done
fi

# `python -m pytest` puts the current folder first on sys.path: run from the tests folder, where no
# `tessavor` folder can hide the installed package. PYTHONMALLOC=malloc hands every allocation to
# malloc, so that memcheck sees each object's bounds (pymalloc's arenas would hide them).
cd "$root/tests"
PYTHONMALLOC=malloc exec valgrind --tool=memcheck --error-exitcode=99 --leak-check=no \
    --trace-children=no --num-callers=30 --suppressions="$root/valgrind/suppressions.supp" \
    "$python" -m pytest -p no:cacheprovider -q "${tests[@]}"
