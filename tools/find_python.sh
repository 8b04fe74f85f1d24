#!/usr/bin/env bash
# Finds a CPython interpreter of one of the given versions and prints its path.
#
#   tools/find_python.sh VERSION [VERSION ...]      e.g. tools/find_python.sh 3.12 3.11
#
# The versions are tried in the order given. For each: python3.X on PATH when it runs and
# really is 3.X (a pyenv shim for a version that is not selected does not run), else the newest
# $(pyenv root)/versions/3.X.*/bin/python3.X that runs ($PYENV_ROOT, else ~/.pyenv, when
# pyenv is not on PATH). Prints the first one found; prints nothing and exits 1 when there
# is none, 2 on a wrong argument.
set -euo pipefail

if [[ $# -eq 0 ]]; then
    sed -n '2,/^set -/s/^# \{0,1\}//p' "$0" >&2
    exit 2
fi

pyenv_root="$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")"
shopt -s nullglob

for version in "$@"; do
    if [[ ! "$version" =~ ^[0-9]+\.[0-9]+$ ]]; then
        echo "find_python: not a MAJOR.MINOR version: $version" >&2
        exit 2
    fi
    candidates=()
    if on_path="$(command -v "python$version")"; then
        candidates+=("$on_path")
    fi
    installed=("$pyenv_root"/versions/"$version".*/bin/python"$version")
    if [[ ${#installed[@]} -gt 0 ]]; then
        mapfile -t newest_first < <(printf '%s\n' "${installed[@]}" | sort -V -r)
        candidates+=("${newest_first[@]}")
    fi
    for python in ${candidates[@]+"${candidates[@]}"}; do
        if "$python" -c 'import sys; sys.exit("%d.%d" % sys.version_info[:2] != sys.argv[1])' \
            "$version" >/dev/null 2>&1; then
            echo "$python"
            exit 0
        fi
    done
done
exit 1
