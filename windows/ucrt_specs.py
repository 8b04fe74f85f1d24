"""Writes a GCC specs file that links the Universal C Runtime.

Debian's mingw-w64 GCC links msvcrt.dll, which is not the runtime that the
official CPython for Windows uses. Its built-in specs name the C runtime in
one place, the `-lmsvcrt` of the libgcc spec; this dumps them and names
libucrt.a there instead.

    python ucrt_specs.py OUTPUT COMPILER [COMPILER ARGS...]
"""
import subprocess
import sys


def main(output, *compiler):
    specs = subprocess.run([*compiler, "-dumpspecs"], check=True, capture_output=True,
                           text=True).stdout
    if specs.count("-lmsvcrt ") != 1:
        sys.exit("ucrt_specs: expected -lmsvcrt exactly once in the compiler's specs")
    with open(output, "w", encoding="ascii", newline="\n") as f:
        f.write(specs.replace("-lmsvcrt ", "-lucrt "))


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
