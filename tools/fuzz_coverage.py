"""Coverage of matcher/ under each plan, from the inputs a fuzz run grew: `make fuzz-coverage`.

For the matcher's own plan and each plan of PLANS (tests/matcher_support.py), replays every input
of the given folders through `tools/fuzz.py --plan N --replay`, in a build made by clang with
source-based coverage (-fprofile-instr-generate -fcoverage-mapping), and prints the line and
region coverage of the files in matcher/ as the probe ran them (llvm-cov over _tessavor_probe),
then the same for all plans together, then each file's line coverage under each. A mismatch in
the replay fails the run.

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
    raws = glob.glob(os.path.join(out, f"plan{number}-*.profraw"))
    subprocess.run([PROFDATA, "merge", "-sparse", "-o", merged, *raws], check=True)
    return merged


def matcher_summary(probe, profile):
    """{file of matcher/: (lines covered, lines, regions covered, regions)}."""
    report = subprocess.run([COV, "export", "-summary-only", probe, f"-instr-profile={profile}"],
                            check=True, capture_output=True, text=True).stdout
    files = {}
    for entry in json.loads(report)["data"][0]["files"]:
        name = os.path.relpath(os.path.realpath(entry["filename"]), ROOT)
        if name.startswith("matcher" + os.sep):
            summary = entry["summary"]
            files[name] = tuple(summary[kind][field] for kind in ("lines", "regions") for field in ("covered", "count"))
    return files


def row(name, files):
    lines, all_lines, regions, all_regions = (sum(counts) for counts in zip(*files.values()))
    return (f"{name:<58} {lines:>5}/{all_lines:<5} {100 * lines / all_lines:5.1f}%"
            f" {regions:>5}/{all_regions:<5} {100 * regions / all_regions:5.1f}%")


def by_file(summaries):
    """Each file's line coverage under each plan (the columns in the order of the rows above)."""
    lines = [f"{'lines covered, by file':<32}" + "".join(f"{column:>7}" for column in range(-1, len(summaries) - 2))
             + f"{'all':>7}"]
    for name in sorted(summaries[-1]):
        cells = "".join(f"{100 * s[name][0] / max(s[name][1], 1):6.0f}%" for s in summaries)
        lines.append(f"{name:<32}{cells}")
    return "\n".join(lines)


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

    if probe is None:
        sys.exit("tools/fuzz_coverage.py: no _tessavor_probe: the module must be the test build's")
    count = sum(len(os.listdir(f)) if os.path.isdir(f) else 1 for f in folders)
    print(f"matcher/ as the probe ran it, over {count} inputs of {', '.join(folders)}")
    print(f"{'plan':<58} {'lines':>13} {'':6} {'regions':>13}")
    profiles, summaries = [], []
    for number in [-1, *range(len(PLANS))]:
        profiles.append(replay(out, number, folders))
        summaries.append(matcher_summary(probe.__file__, profiles[-1]))
        name = "-1: the matcher's own" if number < 0 else f"{number}: {json.dumps(PLANS[number])}"
        print(row(name, summaries[-1]), flush=True)
    union = os.path.join(out, "plans.profdata")
    subprocess.run([PROFDATA, "merge", "-sparse", "-o", union, *profiles], check=True)
    summaries.append(matcher_summary(probe.__file__, union))
    print(row("all together", summaries[-1]))
    print()
    print(by_file(summaries))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
