"""Mutation testing of the C++ sources: which plausible faults does the suite not see?

    python tools/mutants.py [--sample N] [--seed S] [--base REV] [--jobs J] [--timeout SECONDS] [--list]

Every line of code in module/, tracker/ and matcher/ yields mutants, each one small fault a
developer could make: a comparison flipped or off by one, && and || swapped, a negation
dropped, an exact type check loosened (PyX_CheckExact -> PyX_Check) or tightened, a reference
or a statement dropped, a condition that is always or never true, a number off by one, a
success returned as failure and the reverse. A fixed seed draws a sample of N of them (with
--base REV, only from the lines changed since REV); each is built in a copy of the tree
(build/mutants, an incremental ninja build) and run against the suite as it stood at the start
(copied there too, so that work can go on meanwhile), which stops at its first failure; J
mutants (default 2) are tried at once, each in a tree of its own. A mutant is killed when the suite fails, crashes or runs out of time, and
survives when it passes; one that does not compile counts for nothing, and so does one whose
build is byte for byte the unmutated one (code compiled only for other Python versions, or
folded away by the compiler): it cannot change what this build does. The Python is the one
running this script; `make mutants PYTHON=3.12` tries the mutants on that version's build.

tools/mutants_equivalent.txt lists mutants that cannot change what the module does, each
with its reason, by file, line and text; they are skipped. An entry is found by its file and
text, wherever its line has moved (by its line too where the same mutant of the same text
stands on several lines), and one that matches no mutant any more is named. Prints each survivor's diff, then the figures; exits 0.
--list prints the sample without running it. Run it with the interpreter of .venv (make
mutants does), after `make test` has built the module once.
"""
import argparse
import concurrent.futures
import hashlib
import os
import queue
import random
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ("module", "tracker", "matcher")
EQUIVALENT = os.path.join(ROOT, "tools", "mutants_equivalent.txt")
# One work folder per Python version: the builds are configured for one interpreter.
WORK = os.path.join(ROOT, "build", "mutants" + ("" if sys.version_info[:2] == (3, 10) else
                                                 "-%d.%d" % sys.version_info[:2]))

# (name, pattern, replacement): every match of the pattern on a line of code is one mutant.
OPERATORS = [
    ("flip ==", r" == ", " != "),
    ("flip !=", r" != ", " == "),
    ("< to <=", r" < ", " <= "),
    ("<= to <", r" <= ", " < "),
    ("> to >=", r" > ", " >= "),
    (">= to >", r" >= ", " > "),
    ("&& to ||", r" && ", " || "),
    ("|| to &&", r" \|\| ", " && "),
    ("drop !", r"(?<=[(\s])!(?=[\w(])", ""),
    ("loosen exact check", r"\b(Py\w+?)_CheckExact\(", r"\1_Check("),
    ("tighten check", r"\b(PyUnicode|PyList|PyTuple|PyDict|PyModule|PyAnySet|PySet|PyLong)_Check\(",
     r"\1_CheckExact("),
    ("condition always true", r"\bif \((.+)\) \{$", "if (true) {"),
    ("condition never true", r"\bif \((.+)\) \{$", "if (false) {"),
    ("number + 1", r"(?<![\w.])(\d+)(?![\w.])", lambda m: str(int(m.group(1)) + 1)),
    ("number - 1", r"(?<![\w.])([1-9]\d*)(?![\w.])", lambda m: str(int(m.group(1)) - 1)),
    ("+ to -", r" \+ ", " - "),
    ("- to +", r" - ", " + "),
    ("++ to --", r"\+\+", "--"),
    ("true to false", r"\btrue\b", "false"),
    ("false to true", r"\bfalse\b", "true"),
    ("failure to success", r"\breturn -1;", "return 0;"),
    ("success to failure", r"\breturn 0;", "return -1;"),
    ("new reference to borrowed", r"\bPy_X?NewRef\(([^()]*(?:\([^()]*\))?[^()]*)\)", r"\1"),
    ("borrow to steal", r"\bRef::borrow\(", "Ref::steal("),
]

# Whole statements dropped: references, clean-ups, and calls or assignments for effect.
DROPPED = re.compile(r"^\s*(Py_(X?INCREF|X?DECREF|VISIT|CLEAR|XSETREF)\(.*\);"
                     r"|[\w:.\->\[\]*&]+\(.*\);"
                     r"|[\w.\->\[\]*]+ (=|\+=|-=|\|=) [^=].*;"
                     r"|(\+\+|--)?[\w.\->\[\]]+(\+\+|--)?;)\s*$")
# `return 1;` answers "true": one more is the same answer.
BOOLEAN_RETURN = re.compile(r"^\s*return 1;")
DECLARATION = re.compile(r"^\s*(const |static |constexpr |auto |return |using |typedef )"
                         r"|^\s*[\w:<>]+[\s*&]+\w+( = |\(|;|\[)")


def code_lines(path):
    """(number, text) of each line that holds code: no comments, no preprocessor lines, and no
    cache hints (TESSAVOR_PREFETCH), which read nothing: whatever address a hint is given, the
    answers are the same."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    for number, text in enumerate(lines, 1):
        stripped = text.strip()
        if not stripped or stripped.startswith(("//", "#", "*", "/*", "TESSAVOR_PREFETCH(")):
            continue
        yield number, text


def masked(text):
    """The line with string and character literals and a trailing comment blanked out, so
    that operators are only found in code."""
    text = re.sub(r'"(\\.|[^"\\])*"', lambda m: '"' + "_" * (len(m.group(0)) - 2) + '"', text)
    text = re.sub(r"'(\\.|[^'\\])*'", lambda m: "'" + "_" * (len(m.group(0)) - 2) + "'", text)
    cut = text.find("//")
    return text if cut < 0 else text[:cut] + " " * (len(text) - cut)


def mutants_of(path, lines=None):
    """Every mutant of one file: (path, line number, operator, original line, mutated line)."""
    for number, text in code_lines(os.path.join(ROOT, path)):
        if lines is not None and number not in lines:
            continue
        code = masked(text)
        for name, pattern, replacement in OPERATORS:
            for match in re.finditer(pattern, code):
                start, end = match.span()
                new = replacement(match) if callable(replacement) else match.expand(replacement)
                mutated = text[:start] + new + text[end:]
                if mutated != text and not (name.startswith("number") and BOOLEAN_RETURN.match(code)):
                    yield path, number, name, text, mutated
        if DROPPED.match(code) and not DECLARATION.match(code):
            yield path, number, "drop statement", text, ""


def sources():
    listed = subprocess.run(["git", "ls-files", *FOLDERS], cwd=ROOT, capture_output=True, text=True,
                            check=True).stdout.split()
    return sorted(p for p in listed if p.endswith((".cpp", ".hpp")))


def changed_lines(base):
    """{path: set of line numbers} added or changed since `base`."""
    diff = subprocess.run(["git", "diff", "-U0", base, "--", *FOLDERS], cwd=ROOT, capture_output=True,
                          text=True, check=True).stdout
    changed, path = {}, None
    for line in diff.splitlines():
        if line.startswith("+++ "):
            path = line[6:] if line.startswith("+++ b/") else None
        elif line.startswith("@@") and path:
            start, _, count = re.match(r"@@ -\S+ \+(\d+)(,(\d+))? @@", line).groups()
            first, count = int(start), int(count) if count is not None else 1
            changed.setdefault(path, set()).update(range(first, first + count))
    return changed


def key(path, number, original, mutated):
    return f"{path}:{number}: `{original.strip()}` => `{mutated.strip()}`"


ENTRY = re.compile(r"^(?P<path>[^:]+):(?P<number>\d+): `(?P<original>.*)` => `(?P<mutated>.*)`$")


def equivalent():
    """Keys of the mutants judged equivalent (each line: key -- reason)."""
    found = set()
    if os.path.exists(EQUIVALENT):
        with open(EQUIVALENT, encoding="utf-8") as f:
            for line in f:
                if line.strip() and not line.startswith("#"):
                    found.add(line.split(" -- ")[0].strip())
    return found


def judged_equivalent(mutants, entries):
    """The keys, among `entries`, of each mutant that one of them names: by file and text, or,
    where that text's mutant stands on several lines of the file, by its line as well. Returns
    ({mutant key: entry}, entries that name no mutant)."""
    by_text = {}
    for m in mutants:
        by_text.setdefault((m[0], m[3].strip(), m[4].strip()), []).append(m)
    matched, unused = {}, set()
    for entry in entries:
        parts = ENTRY.match(entry)
        if parts is None:
            unused.add(entry)
            continue
        found = by_text.get((parts["path"], parts["original"], parts["mutated"]), [])
        if len(found) > 1:
            found = [m for m in found if m[1] == int(parts["number"])]
        for m in found:
            matched[key(m[0], m[1], m[3], m[4])] = entry
        if not found:
            unused.add(entry)
    return matched, unused


def prepare(worker):
    """Worker's copy of the tree to mutate, configured once; the package folder its suite imports."""
    tree, build, package = (os.path.join(WORK, f"{name}-{worker}") for name in ("tree", "build", "package"))
    # The suite and what it reads are copied too, so that the tree may change while a run goes on.
    # Every file gets a new time, so that the first build is a whole one, whatever an earlier run
    # that was stopped with a mutant in place left built.
    shutil.rmtree(tree, ignore_errors=True)
    # With what the suite reads of the project: the pages whose examples it runs and whose links
    # it follows, make demo's example, the saved benchmark results and what draws the performance
    # page from them, the version and the licence in the metadata's sources, the fuzzer whose
    # checks it runs on the fuzz corpus.
    for path in subprocess.run(["git", "ls-files", "meson.build", "meson.options", "pyproject.toml",
                                "pytest.ini", "README.md", "CONTRIBUTING.md", "CHANGELOG.md", "LICENSE",
                                "docs", "examples", "bench/charts.py", "bench/results", "tessavor", "tests",
                                "devtracker", "tools/fuzz.py", *FOLDERS],
                               cwd=ROOT, capture_output=True, text=True, check=True).stdout.split():
        os.makedirs(os.path.dirname(os.path.join(tree, path)), exist_ok=True)
        shutil.copyfile(os.path.join(ROOT, path), os.path.join(tree, path))
    bin_dir = os.path.dirname(sys.executable)
    env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"])
    if not os.path.exists(os.path.join(build, "build.ninja")):
        subprocess.run([os.path.join(bin_dir, "meson"), "setup", build, tree, "-Dbuildtype=release",
                        "-Dtest_probe=true"], check=True, env=env, stdout=subprocess.DEVNULL)
    os.makedirs(os.path.join(package, "tessavor"), exist_ok=True)
    for name in os.listdir(os.path.join(tree, "tessavor")):  # __init__.py, the stub, py.typed
        shutil.copy2(os.path.join(tree, "tessavor", name), os.path.join(package, "tessavor"))
    return tree, build, package, env, {}  # the last: the unmutated build's digest, once known


def built_modules(build):
    """The paths of the module and of the test build's matcher probe, and the sha256 of their bytes
    together."""
    paths = [os.path.join(build, next(name for name in os.listdir(build)
                                      if name.startswith(prefix) and name.endswith(".so")))
             for prefix in ("prod.", "_tessavor_probe.")]
    digest = hashlib.sha256()
    for path in paths:
        with open(path, "rb") as f:
            digest.update(f.read())
    return paths, digest.hexdigest()


def build_and_test(workspace, timeout):
    """The suite's verdict on what the workspace's tree holds now."""
    tree, build, package, env, unmutated = workspace
    if subprocess.run(["ninja", "-C", build], env=env, stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        return "does not build"
    (module, probe), digest = built_modules(build)
    if unmutated.get("digest") == digest:
        return "same binary"
    for built, folder in ((module, os.path.join(package, "tessavor")), (probe, package)):
        target = os.path.join(folder, os.path.basename(built))
        shutil.copy2(built, target + ".new")
        os.replace(target + ".new", target)
    # The pytest script, not `python -m pytest`: that would put the tree's `tessavor` folder first
    # on sys.path. Its own process group, so that a time-out ends whatever the suite started.
    suite = subprocess.Popen([os.path.join(os.path.dirname(sys.executable), "pytest"), "-x", "-q",
                              "-p", "no:cacheprovider", "tests"], cwd=tree,
                             env=dict(env, PYTHONPATH=package), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        status = suite.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        status = None
    try:
        os.killpg(suite.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    suite.wait()
    if status is None:
        return "killed (time out)"
    return "survived" if status == 0 else "killed"


def check_workspace(workspace, timeout):
    """Exits unless the unmutated tree passes the suite, importing the workspace's build."""
    tree, build, package, env, unmutated = workspace
    if build_and_test(workspace, timeout) != "survived":
        sys.exit("mutants: the unmutated tree does not pass the suite; nothing to measure")
    unmutated["digest"] = built_modules(build)[1]
    where = subprocess.run([sys.executable, "-c", "import tessavor.prod as m; print(m.__file__)"],
                           cwd=package, env=dict(env, PYTHONPATH=package), capture_output=True,
                           text=True).stdout.strip()
    if os.path.dirname(where) != os.path.join(package, "tessavor"):
        sys.exit(f"mutants: the suite would import {where or 'nothing'}, not the mutated build")


def try_mutant(workspace, mutant, timeout):
    """Puts the mutant in the workspace's tree, gets the verdict, puts the line back."""
    path, number, _, _, mutated = mutant
    target = os.path.join(workspace[0], path)
    with open(target, encoding="utf-8") as f:
        text = f.read()
    lines = text.split("\n")
    lines[number - 1] = mutated
    try:
        with open(target, "w", encoding="utf-8") as f:
            f.write("\n".join(lines))
        return build_and_test(workspace, timeout)
    finally:
        with open(target, "w", encoding="utf-8") as f:
            f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sample", type=int, default=60)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--base", help="sample only lines changed since this revision")
    parser.add_argument("--timeout", type=float, default=120, help="seconds for one run of the suite")
    parser.add_argument("--jobs", type=int, default=2, help="mutants tried at once")
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    args = parser.parse_args()

    lines = changed_lines(args.base) if args.base else None
    every = [m for path in sources() if lines is None or path in lines
             for m in mutants_of(path, None if lines is None else lines[path])]
    skip, stale = judged_equivalent(every, equivalent())
    candidates = [m for m in every if key(m[0], m[1], m[3], m[4]) not in skip]
    sample = random.Random(args.seed).sample(candidates, min(args.sample, len(candidates)))
    print(f"{len(every)} mutants, {len(every) - len(candidates)} of them judged equivalent; "
          f"sample of {len(sample)} (seed {args.seed})", flush=True)
    for entry in sorted(stale) if lines is None else []:
        print(f"no such mutant (its text changed?): {entry}", flush=True)
    if args.list:
        for path, number, name, original, mutated in sample:
            print(f"{path}:{number}: {name}: {mutated.strip() or '(dropped)'}")
        return

    # A stop by SIGTERM unwinds like Ctrl-C, so that the mutated files are put back.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("mutants: stopped"))
    workspaces = queue.Queue()
    for worker in range(max(1, args.jobs)):
        workspace = prepare(worker)
        check_workspace(workspace, args.timeout)
        workspaces.put(workspace)

    def run(mutant):
        workspace = workspaces.get()
        try:
            started = time.monotonic()
            return mutant, try_mutant(workspace, mutant, args.timeout), time.monotonic() - started
        finally:
            workspaces.put(workspace)

    counts, survivors = {}, []
    with concurrent.futures.ThreadPoolExecutor(max(1, args.jobs)) as pool:
        for index, (mutant, verdict, seconds) in enumerate(pool.map(run, sample), 1):
            counts[verdict.split(" (")[0]] = counts.get(verdict.split(" (")[0], 0) + 1
            print(f"[{index}/{len(sample)}] {verdict:17} {seconds:5.0f} s  {mutant[0]}:{mutant[1]} "
                  f"{mutant[2]}", flush=True)
            if verdict == "survived":
                survivors.append(mutant)

    for path, number, name, original, mutated in survivors:
        print(f"\nsurvived: {path}:{number} ({name})\n- {original.strip()}\n+ {mutated.strip()}")
        print(f"  equivalent? add to {os.path.relpath(EQUIVALENT, ROOT)}:\n  "
              f"{key(path, number, original, mutated)} -- REASON")
    killed, survived = counts.get("killed", 0), counts.get("survived", 0)
    rate = 100.0 * killed / (killed + survived) if killed + survived else 100.0
    print(f"\n{len(sample)} mutants: {killed} killed, {survived} survived, "
          f"{counts.get('does not build', 0)} did not build, {counts.get('same binary', 0)} built "
          f"the unmutated module; kill rate {rate:.1f}% (Python {sys.version.split()[0]})")


if __name__ == "__main__":
    main()
