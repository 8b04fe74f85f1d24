"""Filter against the multi-pattern libraries a user would pick instead, over a grid of sizes.

    python bench/filter_grid.py [--repeat N]

Needs pyahocorasick, ahocorasick-rs and daachorse (bench/requirements.txt; `make bench` installs
them).
Cells: 3, 200, 10,000, 50,000 and 100,000 random fragments of 8 characters against 5,000 and
100,000 shot-like names, in two variants: "few", where names hold random tails that match
(almost) no fragment, and "many", where half the names end in one of the fragments. Every figure
is build plus scan, as a user pays it: Filter's call, or making the library's automaton and
testing each name with it, and is the best of a few runs. Each library is used in its fastest
form found for the task (both automaton kinds of ahocorasick-rs are timed, the faster counts;
daachorse's CharwiseDoubleArrayAhoCorasick, whose `find` returns the list of matches, empty when
there is none; it takes duplicate fragments as they are).

Printed per cell: the ratio of the fastest library's time to Filter's (the target is 3 or more)
and the cliff check: Filter's time over the straight line through its two neighbours on the
fragments axis, at this cell's fragment count (the target is 1.5 at most). Then the peak
growth of resident memory during one Filter call on the largest cell, each in a fresh
process, next to the fragments' total length and the budget of 64 bytes per character plus
16 MiB.
"""

import argparse
import json
import random
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import ahocorasick
import ahocorasick_rs
import daachorse

from tessavor.prod import Prod

FRAGMENTS = [3, 200, 10_000, 50_000, 100_000]
NAMES = [5_000, 100_000]
VARIANTS = ["few", "many"]
ALPHABET = "abcdefghijklmnopqrstuvwxyz0123456789"
KINDS = ["anim", "comp", "layout", "light", "fx", "render"]


def make_cell(fragments, names, variant, lengths=(8,), seed=327):
    rng = random.Random(f"{seed}-{fragments}-{names}-{variant}-{lengths}")

    def word(size):
        return "".join(rng.choice(ALPHABET) for _ in range(size))

    frags = [word(rng.choice(lengths)) for _ in range(fragments)]
    items = []
    for _ in range(names):
        base = f"sq{rng.randrange(100):03d}_sh{rng.randrange(10000):04d}_{rng.choice(KINDS)}_v{rng.randrange(50):02d}_"
        tail = rng.choice(frags) if variant == "many" and rng.random() < 0.5 else word(8)
        items.append(base + tail)
    return items, frags


def with_pyahocorasick(items, frags):
    automaton = ahocorasick.Automaton()
    for index, frag in enumerate(frags):
        automaton.add_word(frag, index)
    automaton.make_automaton()
    search = automaton.iter
    return [s for s in items if next(search(s), None) is not None]


def with_ahocorasick_rs(implementation):
    def run(items, frags):
        find = ahocorasick_rs.AhoCorasick(frags, implementation=implementation).find_matches_as_indexes
        return [s for s in items if find(s)]

    return run


def with_daachorse(items, frags):
    find = daachorse.CharwiseDoubleArrayAhoCorasick(frags).find
    return [s for s in items if find(s)]


def best_of(func, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        func()
        times.append(time.perf_counter() - start)
    return min(times)


def measure(repeat):
    """{(fragments, names, variant): {"Filter": s, "pyahocorasick": s, "ahocorasick-rs": s, "daachorse": s}}"""
    contenders = {
        "Filter": lambda items, frags: Prod.Filter(None, items, frags),
        "pyahocorasick": with_pyahocorasick,
        "ahocorasick-rs NFA": with_ahocorasick_rs(ahocorasick_rs.Implementation.ContiguousNFA),
        "ahocorasick-rs DFA": with_ahocorasick_rs(ahocorasick_rs.Implementation.DFA),
        "daachorse": with_daachorse,
    }
    cells = {}
    for names in NAMES:
        for variant in VARIANTS:
            for fragments in FRAGMENTS:
                items, frags = make_cell(fragments, names, variant)
                answers = {name: run(items, frags) for name, run in contenders.items()}
                if any(answer != answers["Filter"] for answer in answers.values()):
                    raise SystemExit(f"answers differ at {fragments} fragments, {names} names, {variant}")
                times = {name: best_of(lambda: run(items, frags), repeat) for name, run in contenders.items()}
                times["ahocorasick-rs"] = min(times.pop("ahocorasick-rs NFA"), times.pop("ahocorasick-rs DFA"))
                times["matched"] = len(answers["Filter"])
                cells[fragments, names, variant] = times
    return cells


def cliff(cells, fragments, names, variant):
    """Filter's time over the straight line through the two nearest cells on the fragments axis."""
    at = FRAGMENTS.index(fragments)
    near = [at - 1, at + 1] if 0 < at < len(FRAGMENTS) - 1 else ([1, 2] if at == 0 else [at - 2, at - 1])
    (x0, x1) = (FRAGMENTS[i] for i in near)
    y0, y1 = (cells[FRAGMENTS[i], names, variant]["Filter"] for i in near)
    line = y0 + (y1 - y0) * (fragments - x0) / (x1 - x0)
    # A line that falls to zero or below says nothing: the cheaper neighbour is the estimate then.
    line = line if line > 0 else min(y0, y1)
    return cells[fragments, names, variant]["Filter"] / line


MEMORY_CHILD = """
import gc, json, sys
sys.path.insert(0, {here!r})
from filter_grid import make_cell
from tessavor.prod import Prod

def status(field):
    with open('/proc/self/status') as f:
        for line in f:
            if line.startswith(field + ':'):
                return int(line.split()[1]) * 1024

items, frags = make_cell({fragments}, {names}, {variant!r}, lengths={lengths!r})
gc.collect()
before = status('VmRSS')
with open('/proc/self/clear_refs', 'w') as f:  # resets the peak (VmHWM) to the current size
    f.write('5')
matched = len(Prod.Filter(None, items, frags))
print(json.dumps({{'growth': status('VmHWM') - before, 'chars': sum(map(len, frags)), 'matched': matched}}))
"""


def peak_growth(fragments, names, variant, lengths):
    code = MEMORY_CHILD.format(here=str(Path(__file__).resolve().parent), fragments=fragments,
                               names=names, variant=variant, lengths=lengths)
    # From a neutral folder: `-c` puts the current folder first on sys.path, and the source tree's
    # `tessavor` folder must not hide the installed package.
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                          cwd=tempfile.gettempdir())
    return json.loads(proc.stdout)


def format_ms(seconds):
    return f"{seconds * 1e3:.3g} ms" if seconds < 1 else f"{seconds:.3g} s"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5, help="runs per figure (the best counts)")
    args = parser.parse_args()
    cells = measure(args.repeat)

    print(f"Filter grid: build + scan, best of {args.repeat}; ratio = fastest library / Filter (target >= 3);")
    print("cliff = Filter / straight line through its neighbours on the fragments axis (target <= 1.5)\n")
    print(f"{'fragments':>9} {'names':>7} {'match':>5} {'matched':>7} {'Filter':>9} {'pyahocorasick':>13}"
          f" {'ahocorasick-rs':>14} {'daachorse':>9} {'ratio':>6} {'cliff':>6}")
    ratios, cliffs = [], []
    for names in NAMES:
        for variant in VARIANTS:
            for fragments in FRAGMENTS:
                cell = cells[fragments, names, variant]
                ratio = min(cell["pyahocorasick"], cell["ahocorasick-rs"], cell["daachorse"]) / cell["Filter"]
                steep = cliff(cells, fragments, names, variant)
                ratios.append(ratio)
                cliffs.append(steep)
                print(f"{fragments:>9,} {names:>7,} {variant:>5} {cell['matched']:>7,} {format_ms(cell['Filter']):>9}"
                      f" {format_ms(cell['pyahocorasick']):>13} {format_ms(cell['ahocorasick-rs']):>14}"
                      f" {format_ms(cell['daachorse']):>9}"
                      f" {ratio:>6.1f} {steep:>6.2f}")
            print()
    print(f"ratio: lowest {min(ratios):.1f} (target >= 3: {'met' if min(ratios) >= 3 else 'NOT met'});"
          f" cliff: highest {max(cliffs):.2f} (target <= 1.5: {'met' if max(cliffs) <= 1.5 else 'NOT met'})\n")

    print("Peak resident growth of one Filter call, each in a fresh process (budget 64 B/char + 16 MiB):")
    largest = FRAGMENTS[-1], NAMES[-1]
    for variant, lengths, label in [("few", (8,), "8 characters"), ("many", (8,), "8 characters"),
                                    ("few", tuple(range(6, 46)), "6 to 45 characters")]:
        found = peak_growth(*largest, variant, lengths)
        budget = 64 * found["chars"] + 16 * 2**20
        verdict = "within" if found["growth"] <= budget else "OVER"
        print(f"  {largest[0]:,} fragments of {label}, {largest[1]:,} names, {variant}: "
              f"{found['growth'] / 2**20:.1f} MiB for {found['chars']:,} characters "
              f"({found['growth'] / found['chars']:.1f} B/char; budget {budget / 2**20:.1f} MiB: {verdict})")


if __name__ == "__main__":
    main()
