"""Side-by-side benchmark of tessavor.prod: native against pure Python, a
compiled regular expression and plain C loops, all measured in this one run.

    python bench/bench.py [--quick] [--json FILE]

Every tracker call goes to a substitute gazu whose functions return prebuilt
data at once, so only the module's own work is timed. Each figure is the best
of several repeats (the least disturbed one), per call. With --json FILE, the
figures and the printed report go to FILE as well (bench/results.py); `make
bench` writes bench/results/bench-3.1X.json for each version.

Timings move with whatever else the machine runs. When valgrind is on PATH
(and unless --no-instructions), the one-statement call is also counted in
instructions per call under callgrind, which come out the same from run to
run: a loop of calls of each variant runs in a child under callgrind, with
one hash seed, which counts the loop alone (cloops.counted) and nothing of
the process around it.
"""

import argparse
import importlib.util
import os
import random
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import timeit
import types
from pathlib import Path

import tessavor.prod

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import baseline  # noqa: E402
from results import recording  # noqa: E402


def build_cloops(folder):
    """Compiles cloops.c against this interpreter and imports it."""
    target = Path(folder) / ("cloops" + sysconfig.get_config_var("EXT_SUFFIX"))
    compiler = os.environ.get("CC", "cc")
    subprocess.run(
        [compiler, "-O2", "-shared", "-fPIC", "-I" + sysconfig.get_paths()["include"],
         str(HERE / "cloops.c"), "-o", str(target)],
        check=True,
    )
    return import_cloops(folder)


def import_cloops(folder):
    target = Path(folder) / ("cloops" + sysconfig.get_config_var("EXT_SUFFIX"))
    spec = importlib.util.spec_from_file_location("cloops", target)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def module(name, **attributes):
    made = types.ModuleType(name)
    vars(made).update(attributes)
    return made


def substitute_gazu(shots):
    """Modules, as the real gazu and its submodules are, with instant answers."""
    project = {"id": "p1", "name": "Agent 327"}
    return module(
        "gazu",
        project=module("gazu.project", get_project_by_name=lambda name: project),
        shot=module("gazu.shot", all_shots_for_project=lambda p: shots),
    )


def best(func, repeat, target_seconds):
    """Seconds per call: the best of `repeat` runs of an auto-sized loop."""
    number, elapsed = 1, 0.0
    while True:
        elapsed = timeit.timeit(func, number=number)
        if elapsed >= target_seconds / 10:
            break
        number *= 4
    number = max(1, int(number * (target_seconds / 5) / max(elapsed, 1e-9)))
    return min(timeit.repeat(func, number=number, repeat=repeat)) / number


def random_names(rng, count):
    kinds = ["anim", "comp", "layout", "light", "fx", "render"]
    return [f"sq{rng.randrange(100):03d}_sh{rng.randrange(10000):04d}_{rng.choice(kinds)}_v{rng.randrange(50):02d}"
            for _ in range(count)]


def workloads(cloops, scale):
    rng = random.Random(327)
    native = tessavor.prod.Prod.__new__(tessavor.prod.Prod)
    python = baseline.PyProd()

    shots = [{"id": str(i), "name": f"sh{i:05d}", "type": "Shot"} for i in range(100_000 // scale)]
    gazu = substitute_gazu(shots)
    tessavor.prod.gazu = gazu
    baseline.gazu = gazu

    names = random_names(rng, 100_000 // scale)
    frags = ["_sh0042_", "light_v07", "sq099"]
    many_names = random_names(rng, 20_000 // scale)
    # 200 fragments that occur in none of the names.
    none_frags = [f"zz{rng.randrange(10**6):06d}" for _ in range(200)]
    regex = re.compile("|".join(map(re.escape, frags)))
    none_regex = re.compile("|".join(map(re.escape, none_frags)))
    tiny, tiny_parts = ["ab", "b"], ["a"]

    fetched = gazu.project.get_project_by_name
    yield "1 call overhead: get_project", "inline chain", {
        "native": lambda: native.get_project("Agent 327"),
        "inline chain": lambda: gazu.project.get_project_by_name("Agent 327"),
        "pure Python": lambda: python.get_project("Agent 327"),
        # The floor for any C method: a C function whose whole body is the
        # call of a function fetched beforehand.
        "C forwarding": lambda: cloops.call(fetched, "Agent 327"),
    }
    yield "2 keyword binding: Filter(string=, substr=)", "native", {
        "native": lambda: native.Filter(string=tiny, substr=tiny_parts),
        "pure Python": lambda: python.Filter(string=tiny, substr=tiny_parts),
    }
    yield f"3 get_shots over {len(shots):,} records", "plain C loop", {
        "native": lambda: native.get_shots("Agent 327"),
        "pure Python": lambda: python.get_shots("Agent 327"),
        "plain C loop": lambda: cloops.names(shots),
    }
    yield f"4 Filter {len(names):,} names, 3 fragments", "plain C loop", {
        "native": lambda: native.Filter(names, frags),
        "pure Python": lambda: python.Filter(names, frags),
        "compiled regex": lambda: list(filter(regex.search, names)),
        "plain C loop": lambda: cloops.filter(names, frags),
    }
    yield f"5 Filter {len(many_names):,} names, 200 fragments, no match", "compiled regex", {
        "native": lambda: native.Filter(many_names, none_frags),
        "pure Python": lambda: python.Filter(many_names, none_frags),
        "compiled regex": lambda: list(filter(none_regex.search, many_names)),
        "plain C loop": lambda: cloops.filter(many_names, none_frags),
    }


def check_same_answers(variants):
    answers = [func() for func in variants.values()]
    if any(answer != answers[0] for answer in answers):
        raise SystemExit("benchmark variants disagree: " + ", ".join(variants))


# The one-statement call's variants counted under callgrind, and the calls each loop makes.
COUNTED = ["native", "C forwarding", "inline chain"]
CALLS = 100_000


def loop(variant, folder):
    """Run in the child under callgrind: CALLS calls of one variant of the first workload, in a
    Python loop as timeit's, inside cloops.counted, where callgrind counts."""
    cloops = import_cloops(folder)
    _, _, variants = next(workloads(cloops, 10))
    call = variants[variant]

    def calls():
        for _ in range(CALLS):
            call()

    for _ in range(CALLS // 10):  # the interpreter specialises the loop's instructions first
        call()
    cloops.counted(calls)


def instructions_per_call(folder):
    """{variant: instructions per call} of the first workload, or None without valgrind."""
    valgrind = shutil.which("valgrind")
    if valgrind is None:
        return None
    per_call = {}
    for variant in COUNTED:
        # One hash seed: the inline chain's lookups in module dictionaries probe alike every time.
        proc = subprocess.run(
            [valgrind, "--tool=callgrind", "--callgrind-out-file=/dev/null", "--collect-atstart=no",
             "--toggle-collect=cloops_counted", sys.executable, __file__, "--loop", variant, folder],
            capture_output=True, text=True, check=True, env=dict(os.environ, PYTHONHASHSEED="0"),
        )
        per_call[variant] = int(re.search(r"Collected : (\d+)", proc.stderr).group(1)) / CALLS
    return per_call


def print_instructions(per_call):
    print(f"\ninstructions per call under callgrind (a loop of {CALLS:,} calls), 1 call overhead: get_project")
    for variant, count in per_call.items():
        print(f"  {variant:<16} {count:>8.0f}   ratio to C forwarding {count / per_call['C forwarding']:.3f}")
    ratio = per_call["native"] / per_call["C forwarding"]
    print(f"  one-statement call / C forwarding, in instructions {ratio:>6.3f}  <= {CALL_FLOOR_BOUND:<5} "
          f"{'met' if ratio <= CALL_FLOOR_BOUND else 'MISSED'}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a tenth of the data, fewer repeats")
    parser.add_argument("--json", metavar="FILE", help="also write the figures and the report to FILE")
    parser.add_argument("--no-instructions", action="store_true",
                        help="skip the instruction counts under callgrind")
    parser.add_argument("--loop", nargs=2, metavar=("VARIANT", "FOLDER"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.loop:
        return loop(*args.loop)
    scale, repeat, target = (10, 3, 0.05) if args.quick else (1, 7, 0.5)

    with tempfile.TemporaryDirectory() as folder, recording(args.json) as record:
        record["run"].update(repeat=repeat, quick=args.quick)
        record["workloads"] = workloads_measured = []
        cloops = build_cloops(folder)
        print(f"Python {sys.version.split()[0]}, best of {repeat}; ratio = time / reference time\n")
        print(f"{'workload':<48} {'variant':<16} {'ratio':>8} {'per call':>12}")
        measured = []
        for title, reference, variants in workloads(cloops, scale):
            check_same_answers(variants)
            times = {name: best(func, repeat, target) for name, func in variants.items()}
            measured.append(times)
            workloads_measured.append({"workload": title, "reference": reference, "seconds": times})
            for name, seconds in times.items():
                ratio = seconds / times[reference]
                print(f"{title:<48} {name:<16} {ratio:>8.2f} {format_time(seconds):>12}")
                title = ""
            print()
        print_targets(measured)
        per_call = None if args.no_instructions else instructions_per_call(folder)
        if per_call is not None:
            print_instructions(per_call)


# The bound of a one-statement method over the C forwarding floor, on every version.
CALL_FLOOR_BOUND = 1.1
# (what, workload number, measured ratio of two variants, the bound, True when at most it)
TARGETS = [
    ("one-statement call / C forwarding floor", 1, ("native", "C forwarding"), CALL_FLOOR_BOUND, True),
    ("one-statement call / inline gazu chain", 1, ("native", "inline chain"), 1.2, True),
    ("name list / plain C loop", 3, ("native", "plain C loop"), 1.15, True),
    ("Filter at 3 fragments: pure Python / native", 4, ("pure Python", "native"), 7.0, False),
]


def print_targets(measured):
    call = measured[0]
    print(f"the call beside the C floor: native / C forwarding {call['native'] / call['C forwarding']:.2f}, "
          f"inline chain / C forwarding {call['inline chain'] / call['C forwarding']:.2f}")
    print("targets on this interpreter:")
    for what, number, (top, bottom), bound, at_most in TARGETS:
        times = measured[number - 1]
        ratio = times[top] / times[bottom]
        met = ratio <= bound if at_most else ratio >= bound
        print(f"  {what:<46} {ratio:>6.2f}  {'<=' if at_most else '>='} {bound:<5} "
              f"{'met' if met else 'MISSED'}")


def format_time(seconds):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


if __name__ == "__main__":
    main()
