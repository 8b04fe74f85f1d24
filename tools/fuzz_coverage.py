"""Coverage of matcher/ under each plan, from the inputs a fuzz run grew: `make fuzz-coverage`.

For the matcher's own plan and each plan of PLANS (tests/matcher_support.py), replays every input
of the given folders through `tools/fuzz.py --plan N --replay`, in a build made by clang with
source-based coverage (-fprofile-instr-generate -fcoverage-mapping), and prints the line and
region coverage of the files in matcher/ as the probe ran them (llvm-cov over _tessavor_probe),
then the same for all plans together. A mismatch in the replay fails the run.

Run alone, from the repository root, in .venv-fuzz-coverage (`make .venv-fuzz-coverage/.installed`):

    .venv-fuzz-coverage/bin/python tools/fuzz_coverage.py OUT_FOLDER build/fuzz/corpus tests/fuzz_corpus

OUT_FOLDER receives the raw and merged profiles, one set a plan.
"""
import glob
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests"))
PROFDATA, COV = "llvm-profdata-14", "llvm-cov-14"  # clang 14's own: the profile format is its


def replay(out, number, folders):
    """Replays the inputs with the filter inputs under PLANS[number] (-1: the matcher's own plan);
    returns the merged profile."""
    raw = os.path.join(out, f"plan{number}-%p-%m.profraw")
    env = dict(os.environ, LLVM_PROFILE_FILE=raw)
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "fuzz.py"), "--plan", str(number), "--replay",
                    *folders], check=True, env=env, stdout=subprocess.DEVNULL)
    merged = os.path.join(out, f"plan{number}.profdata")
    subprocess.run([PROFDATA, "merge", "-sparse", "-o", merged, *glob.glob(os.path.join(out, f"plan{number}-*.profraw"))],
                   check=True)
    return merged


def matcher_summary(probe, profile):
    """(lines covered, lines, regions covered, regions) over the files of matcher/."""
    report = subprocess.run([COV, "export", "-summary-only", probe, f"-instr-profile={profile}"],
                            check=True, capture_output=True, text=True).stdout
    totals = [0, 0, 0, 0]
    for entry in json.loads(report)["data"][0]["files"]:
        if os.path.relpath(os.path.realpath(entry["filename"]), ROOT).startswith("matcher" + os.sep):
            summary = entry["summary"]
            for i, (kind, field) in enumerate([("lines", "covered"), ("lines", "count"),
                                               ("regions", "covered"), ("regions", "count")]):
                totals[i] += summary[kind][field]
    return totals


def row(name, totals):
    lines, all_lines, regions, all_regions = totals
    return (f"{name:<58} {lines:>5}/{all_lines:<5} {100 * lines / all_lines:5.1f}%"
            f" {regions:>5}/{all_regions:<5} {100 * regions / all_regions:5.1f}%")


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    out, folders = argv[1], argv[2:]
    os.makedirs(out, exist_ok=True)
    for stale in glob.glob(os.path.join(out, "*.prof*")):
        os.remove(stale)
    # The probe, imported here too, writes its counts on exit: beside the others, not in the
    # current folder; they count for nothing.
    os.environ["LLVM_PROFILE_FILE"] = os.path.join(out, "parent-%m.profraw")
    from matcher_support import PLANS, probe

    count = sum(len(os.listdir(f)) if os.path.isdir(f) else 1 for f in folders)
    print(f"matcher/ as the probe ran it, over {count} inputs of {', '.join(folders)}")
    print(f"{'plan':<58} {'lines':>13} {'':6} {'regions':>13}")
    profiles = []
    for number in [-1, *range(len(PLANS))]:
        profiles.append(replay(out, number, folders))
        print(row("the matcher's own" if number < 0 else json.dumps(PLANS[number]),
                  matcher_summary(probe.__file__, profiles[-1])), flush=True)
    union = os.path.join(out, "plans.profdata")
    subprocess.run([PROFDATA, "merge", "-sparse", "-o", union, *profiles], check=True)
    print(row("all together", matcher_summary(probe.__file__, union)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
