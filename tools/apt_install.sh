#!/usr/bin/env bash
# Installs Debian packages when something they provide is missing.
#
#   tools/apt_install.sh NEEDED [NEEDED ...] -- PACKAGE [PACKAGE ...]
#   e.g. tools/apt_install.sh redis-server /usr/lib/postgresql/15/bin/initdb -- postgresql-15 redis-server
#
# A NEEDED is a command name (looked up on PATH) or an absolute path that must exist (a
# program, a shared library).
# When all are there it does nothing (no root needed); otherwise it runs `apt-get update` and
# `apt-get install` of the PACKAGEs (as root; a PACKAGE may pin a version, `wine=8.0*`) and
# then checks again. Exits 1 when something is still missing, 2 on wrong arguments.
set -euo pipefail

usage() {
    sed -n '2,/^set -/s/^# \{0,1\}//p' "$0" >&2
    exit 2
}

needed=()
while [[ $# -gt 0 && "$1" != "--" ]]; do
    needed+=("$1")
    shift
done
[[ $# -gt 1 && ${#needed[@]} -gt 0 ]] || usage
shift
packages=("$@")

missing() {
    local what
    for what in "${needed[@]}"; do
        if [[ "$what" == /* ]]; then
            [[ -e "$what" ]] || echo "$what"
        else
            command -v "$what" >/dev/null || echo "$what"
        fi
    done
}

absent="$(missing)"
[[ -n "$absent" ]] || exit 0

echo "apt_install: missing ${absent//$'\n'/ }; installing ${packages[*]}" >&2
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${packages[@]}"

absent="$(missing)"
if [[ -n "$absent" ]]; then
    echo "apt_install: still missing after the install: ${absent//$'\n'/ }" >&2
    exit 1
fi
