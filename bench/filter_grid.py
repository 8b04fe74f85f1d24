"""Filter against the multi-pattern libraries a user would pick instead, over a grid of sizes.

    python bench/filter_grid.py [--repeat N] [--rows fixed,mixed,crafted] [--json FILE]

Needs pyahocorasick, ahocorasick-rs and daachorse (bench/requirements.txt; `make bench` installs
them). Every figure is build plus scan, as a user pays it: Filter's call, or making the library's
automaton and testing each name with it, and is the best of N runs (--repeat, 5 by default). Each
library is used in its fastest form found for the task (both automaton kinds of ahocorasick-rs are
timed, the faster counts; daachorse's CharwiseDoubleArrayAhoCorasick, whose `find` returns the
list of matches, empty when there is none; it takes duplicate fragments as they are). In every
cell all contenders' answers must be the same list, or the run stops there. In cells of more
than a million fragment characters the libraries get at most 2 runs, to keep the whole run near
ten minutes on two cores.

Rows (--rows picks some; all by default):
  fixed    3, 200, 10,000, 50,000 and 100,000 random fragments of 8 characters;
  mixed    200, 10,000, 50,000 and 100,000 random fragments of 3 to 30 characters, and as many of
           4 to 40 characters (each length uniform at random);
           both against 5,000 and 100,000 shot-like names, in two variants: "few", where names
           hold random tails that match (almost) no fragment (short fragments do match some), and
           "many", where half the names end in one of the fragments;
  crafted  inputs built to hurt a matcher, each beside a control of the same sizes (as many
           fragments and names, of the same lengths) without the crafted structure; see CRAFTED
           and crafted_cell(), which tests may import:
    packed-key       4,103 two-character fragments (c0, c1) with c0 + 256*c1 == 0x101000, the
                     packed key of the names' only pair U+1000 U+1000, c1 from 1 to 0x1010 (of
                     those 4,112 pairs, U+1000 U+1000 is left out, and so are the 8 whose c0 is a
                     surrogate, which ahocorasick-rs and daachorse refuse), against 2,000 names of
                     200 x U+1000; control: random pairs of any code point but surrogates and
                     U+1000, against the same names;
    thue-morse       blocks A (the Thue-Morse word of 2,048 letters) and B (its complement), which
                     have the same polynomial hash modulo 2^64 for every odd base, and so have all
                     runs of as many blocks: the 32 fragments are the runs of 6 blocks with an even
                     number of Bs, the 200 names runs of 24 blocks whose every window of 6 has an
                     odd number (a tenth have one block flipped, and match);
    long-prefix      10,000 fragments of one random 200-character prefix and 8 random characters;
                     5,000 names hold the prefix and a fragment's tail but for its last character
                     (one in 25 the whole fragment);
    nested-prefixes  the 1,000 prefixes of lengths 1,000 to 1,999 of one random string s; 2,000
                     names hold s[:999] or less, or pieces of s that start later (one in 20 holds
                     a longer prefix);
    one-letter       10,000 runs of "a", 20 to 40 long (21 lengths, so mostly repeats); 5,000 names
                     of runs of 1 to 19 "a"s broken by "b"s, about 200 characters (a tenth hold one
                     run of 20 to 40 besides);
           the other controls are random fragments and names of the same lengths over the crafted
           row's alphabet (a to z and 0 to 9, or a and b for thue-morse), with a fragment planted
           in the names that match in the crafted row.

Printed per cell: the ratio of the fastest library's time to Filter's (the target is 3 or more:
next to peers whose time grows in a line with the fragments, the ratio shows any cliff in
Filter's); for crafted rows Filter's time over its time on the control (the target is 3 at
most). Then the lowest ratio and the highest crafted/control ratio, each met or not, and the peak growth of resident memory during one
Filter call on the largest cells, each in a fresh process, next to the fragments' total length
and the budget of 64 bytes per character plus 16 MiB (with the fixed rows: 100,000 fragments of
8 characters; with the mixed rows: 6 to 45 and 4 to 40 characters).

With --json FILE, the run's figures and its printed report go to FILE as well (bench/results.py);
`make bench` writes bench/results/filter_grid.json, from which bench/charts.py draws the chart
and the tables of docs/performance.md.
"""

import argparse
import itertools
import json
import random
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import importlib.metadata

import ahocorasick
import ahocorasick_rs
import daachorse
from results import recording

from tessavor.prod import Prod

NAMES = [5_000, 100_000]
VARIANTS = ["few", "many"]
# Family: (fragment lengths, fragment counts on its axis).
FAMILIES = {
    "fixed 8": ((8,), [3, 200, 10_000, 50_000, 100_000]),
    "mixed 3-30": (tuple(range(3, 31)), [200, 10_000, 50_000, 100_000]),
    "mixed 4-40": (tuple(range(4, 41)), [200, 10_000, 50_000, 100_000]),
}
ROWS = {"fixed": ["fixed 8"], "mixed": ["mixed 3-30", "mixed 4-40"], "crafted": []}
ALPHABET = "abcdefghijklmnopqrstuvwxyz0123456789"
KINDS = ["anim", "comp", "layout", "light", "fx", "render"]
PEERS = ["pyahocorasick", "ahocorasick-rs", "daachorse"]
# The distribution each peer is installed from (bench/requirements.txt).
PEER_PACKAGES = {"pyahocorasick": "pyahocorasick", "ahocorasick-rs": "ahocorasick-rs", "daachorse": "daachorse"}
# Above this many fragment characters the libraries get at most PEER_REPEAT runs.
BIG = 1_000_000
PEER_REPEAT = 2


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


def word(rng, size, alphabet=ALPHABET):
    return "".join(rng.choices(alphabet, k=size))


def words(rng, lengths, alphabet=ALPHABET):
    return [word(rng, size, alphabet) for size in lengths]


def plant(rng, name, frags):
    """`name` with a random fragment that fits written over it at a random place."""
    frag = rng.choice(frags)
    while len(frag) > len(name):
        frag = rng.choice(frags)
    at = rng.randrange(len(name) - len(frag) + 1)
    return name[:at] + frag + name[at + len(frag):]


def crafted_or_control(rng, crafted, control, alphabets=(ALPHABET, ALPHABET)):
    """crafted = (names, frags, indexes of the names that match); control: random names and
    fragments of the same lengths over alphabets (names', fragments'), a fragment planted in the
    names at those indexes."""
    names, frags, matching = crafted
    if not control:
        return names, frags
    frags = words(rng, map(len, frags), alphabets[1])
    names = words(rng, map(len, names), alphabets[0])
    for index in matching:
        names[index] = plant(rng, names[index], frags)
    return names, frags


def packed_key(rng, control):
    # chr() each time: a literal "\u1000" * 200 would be one shared constant.
    names = [chr(0x1000) * 200 for _ in range(2_000)]
    pairs = [(256 * j, 0x1010 - j) for j in range(0x1010)]  # c1 from 0x1010 down to 1
    keep = [(c0, c1) for c0, c1 in pairs if not 0xD800 <= c0 < 0xE000 and (c0, c1) != (0x1000, 0x1000)]
    frags = [chr(c0) + chr(c1) for c0, c1 in keep]
    wide = "".join(map(chr, [*range(0xD800), *range(0xE000, 0x110000)])).replace(chr(0x1000), "")
    return crafted_or_control(rng, (names, frags, []), control, (chr(0x1000), wide))


def thue_morse_blocks(rng, control, size=2_048, window=6, blocks=24, count=200):
    a = "".join("ab"[bin(i).count("1") % 2] for i in range(size))
    b = a.translate(str.maketrans("ab", "ba"))
    runs = [[(n >> i) & 1 for i in range(window)] for n in range(2**window)]
    frags = ["".join((a, b)[x] for x in run) for run in runs if sum(run) % 2 == 0]
    period = [0] * (window - 1) + [1]
    names, matching = [], []
    for index in range(count):
        phase = rng.randrange(window)
        run = [period[(phase + i) % window] for i in range(blocks)]
        if index % 10 == 0:
            run[rng.randrange(blocks)] ^= 1
            matching.append(index)
        names.append("".join((a, b)[x] for x in run))
    return crafted_or_control(rng, (names, frags, matching), control, ("ab", "ab"))


def long_prefix(rng, control, count=10_000, names=5_000):
    prefix = word(rng, 200)
    frags = [prefix + tail for tail in words(rng, [8] * count)]
    items, matching = [], []
    for index in range(names):
        frag = rng.choice(frags)
        if index % 25:
            frag = frag[:-1] + "_"
        else:
            matching.append(index)
        items.append(word(rng, 8) + frag)
    return crafted_or_control(rng, (items, frags, matching), control)


def nested_prefixes(rng, control, names=2_000):
    s = word(rng, 2_000)
    frags = [s[:k] for k in range(1_000, 2_000)]
    items, matching = [], []
    for index in range(names):
        head, tail = words(rng, [8, 7])
        if index % 20 == 0:
            items.append(head + s[:rng.randrange(1_000, 2_001)] + "_" + tail)
            matching.append(index)
        elif index % 2:
            items.append(head + s[:rng.randrange(900, 1_000)] + "_" + tail)
        else:
            start = rng.randrange(1, 500)
            items.append(s[start:start + rng.randrange(900, 1_500)])
    return crafted_or_control(rng, (items, frags, matching), control)


def one_letter(rng, control, count=10_000, names=5_000, size=200):
    frags = ["a" * rng.randrange(20, 41) for _ in range(count)]
    items, matching = [], []
    for index in range(names):
        runs = []
        while sum(runs) + len(runs) < size:
            runs.append(rng.randrange(1, 20))
        if index % 10 == 0:
            runs.insert(rng.randrange(len(runs) + 1), rng.randrange(20, 41))
            matching.append(index)
        items.append("b".join("a" * run for run in runs))
    return crafted_or_control(rng, (items, frags, matching), control)


SHAPES = {
    "packed-key": packed_key,
    "thue-morse": thue_morse_blocks,
    "long-prefix": long_prefix,
    "nested-prefixes": nested_prefixes,
    "one-letter": one_letter,
}
CRAFTED = list(SHAPES)


def crafted_cell(shape, control=False):
    """(names, fragments) of one crafted shape of CRAFTED, or of its control."""
    return SHAPES[shape](random.Random(f"crafted-{shape}"), control)


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


CONTENDERS = {
    "Filter": lambda items, frags: Prod.Filter(None, items, frags),
    "pyahocorasick": with_pyahocorasick,
    "ahocorasick-rs NFA": with_ahocorasick_rs(ahocorasick_rs.Implementation.ContiguousNFA),
    "ahocorasick-rs DFA": with_ahocorasick_rs(ahocorasick_rs.Implementation.DFA),
    "daachorse": with_daachorse,
}


def timed(run, items, frags, repeat):
    """(the answer, the best time of `repeat` runs)"""
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        answer = run(items, frags)
        best = min(best, time.perf_counter() - start)
    return answer, best


def measure(items, frags, repeat, label):
    """{"Filter": s, each of PEERS: s, "matched": n, "ratio": fastest peer / Filter}; stops the run
    when the contenders' answers differ."""
    peer_repeat = repeat if sum(map(len, frags)) <= BIG else min(repeat, PEER_REPEAT)
    answers, times = {}, {}
    for name, run in CONTENDERS.items():
        answers[name], times[name] = timed(run, items, frags, repeat if name == "Filter" else peer_repeat)
    differ = [name for name, answer in answers.items() if answer != answers["Filter"]]
    if differ:
        raise SystemExit(f"answers differ at {label}: {', '.join(differ)} against Filter")
    times["ahocorasick-rs"] = min(times.pop("ahocorasick-rs NFA"), times.pop("ahocorasick-rs DFA"))
    times["matched"] = len(answers["Filter"])
    times["ratio"] = min(times[peer] for peer in PEERS) / times["Filter"]
    return times


def measure_family(family, repeat):
    """{(fragments, names, variant): measure()} over one family's grid."""
    lengths, axis = FAMILIES[family]
    cells = {}
    for names, variant, fragments in itertools.product(NAMES, VARIANTS, axis):
        items, frags = make_cell(fragments, names, variant, lengths)
        label = f"{family}, {fragments} fragments, {names} names, {variant}"
        cells[fragments, names, variant] = measure(items, frags, repeat, label)
    return cells


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


def format_ratio(ratio):
    return f"{ratio:.3g}" if ratio < 10 else f"{ratio:,.0f}"


def verdict(met):
    return "met" if met else "NOT met"


def times_columns(cell):
    """matched, Filter's time, the peers' times and the ratio, as table columns."""
    peers = "".join(f" {format_ms(cell[peer]):>{max(len(peer), 9)}}" for peer in PEERS)
    return f" {cell['matched']:>7,} {format_ms(cell['Filter']):>9}{peers} {format_ratio(cell['ratio']):>8}"


TIMES_HEADER = f" {'matched':>7} {'Filter':>9}" + "".join(f" {peer:>9}" for peer in PEERS) + f" {'ratio':>8}"


def print_family(family, cells):
    """The family's table, in measure_family()'s order; returns its cells, each with its sizes."""
    axis = FAMILIES[family][1]
    print(f"{family}:\n{'fragments':>9} {'names':>7} {'match':>5}{TIMES_HEADER}")
    rows = []
    for (fragments, names, variant), cell in cells.items():
        rows.append(dict(fragments=fragments, names=names, variant=variant, **cell))
        print(f"{fragments:>9,} {names:>7,} {variant:>5}{times_columns(cell)}")
        if fragments == axis[-1]:
            print()
    return rows


def crafted_pair(shape, repeat):
    """(crafted cell, control cell), each a measure() with its sizes."""
    pair = []
    for control in (False, True):
        items, frags = crafted_cell(shape, control)
        cell = measure(items, frags, repeat, f"{shape}{' control' if control else ''}")
        cell.update(fragments=len(frags), names=len(items))
        pair.append(cell)
    return pair


def print_crafted(repeat):
    """Each crafted row beside its control; returns [{"shape", "crafted", "control", "vs control"}]."""
    print(f"crafted:\n{'shape':<15} {'row':<7} {'fragments':>9} {'names':>6}{TIMES_HEADER} {'vs control':>10}")
    pairs = []
    for shape in CRAFTED:
        crafted, control = crafted_pair(shape, repeat)
        pairs.append({"shape": shape, "crafted": crafted, "control": control,
                      "vs control": crafted["Filter"] / control["Filter"]})
        for label, cell, tail in [("crafted", crafted, f" {format_ratio(pairs[-1]['vs control']):>10}"),
                                  ("control", control, "")]:
            print(f"{shape if cell is crafted else '':<15} {label:<7} {cell['fragments']:>9,} {cell['names']:>6,}"
                  f"{times_columns(cell)}{tail}")
    print()
    return pairs


MEMORY = {"fixed": [("few", (8,), "8 characters"), ("many", (8,), "8 characters")],
          "mixed": [("few", tuple(range(6, 46)), "6 to 45 characters"),
                    ("few", tuple(range(4, 41)), "4 to 40 characters")]}


def print_memory(rows):
    """Each measured call's peak growth; returns them, each with its sizes and budget."""
    lines = [line for row in rows for line in MEMORY.get(row, [])]
    if lines:
        print("Peak resident growth of one Filter call, each in a fresh process (budget 64 B/char + 16 MiB):")
    fragments, names = 100_000, NAMES[-1]
    found_all = []
    for variant, lengths, label in lines:
        found = peak_growth(fragments, names, variant, lengths)
        budget = 64 * found["chars"] + 16 * 2**20
        found_all.append(dict(found, fragments=fragments, names=names, variant=variant, lengths=label,
                              budget=budget))
        print(f"  {fragments:,} fragments of {label}, {names:,} names, {variant}: "
              f"{found['growth'] / 2**20:.1f} MiB for {found['chars']:,} characters "
              f"({found['growth'] / found['chars']:.1f} B/char; budget {budget / 2**20:.1f} MiB:"
              f" {verdict(found['growth'] <= budget)})")
    return found_all


def print_summary(ratios, versus):
    """Each check's worst figure over the cells that were run, met or not."""
    checks = [("ratio to the fastest library: lowest", ratios, "cells", min, ">=", 3),
              ("crafted/control: highest", versus, "pairs", max, "<=", 3)]
    for label, figures, unit, worst, sense, bound in checks:
        if figures:
            value = worst(figures)
            met = value >= bound if sense == ">=" else value <= bound
            print(f"{label} {format_ratio(value)} over {len(figures)} {unit} (target {sense} {bound}: {verdict(met)})")
    print()


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5, help="runs per figure (the best counts)")
    parser.add_argument("--rows", default=",".join(ROWS), help="which rows, of " + ", ".join(ROWS))
    parser.add_argument("--json", metavar="FILE", help="also write the figures and the report to FILE")
    args = parser.parse_args()
    args.rows = args.rows.split(",")
    unknown = set(args.rows) - set(ROWS)
    if unknown:
        parser.error(f"unknown rows: {', '.join(sorted(unknown))} (rows are {', '.join(ROWS)})")
    return args


def main():
    args = parse_args()
    with recording(args.json) as record:
        record["run"].update(repeat=args.repeat, peer_repeat=PEER_REPEAT, big=BIG,
                             peers={peer: importlib.metadata.version(package) for peer, package in PEER_PACKAGES.items()})
        print(f"Filter grid: build + scan, best of {args.repeat} (libraries at most {PEER_REPEAT} above"
              f" {BIG:,} fragment characters); ratio = fastest library / Filter (target >= 3);")
        print("vs control = Filter on the crafted row / Filter on its control (target <= 3)\n")
        families = record["families"] = {}
        for family in [family for row in args.rows for family in ROWS[row]]:
            families[family] = print_family(family, measure_family(family, args.repeat))
        record["crafted"] = print_crafted(args.repeat) if "crafted" in args.rows else []
        cells = [cell for rows in families.values() for cell in rows]
        pairs = record["crafted"]
        print_summary([cell["ratio"] for cell in cells] + [p[row]["ratio"] for p in pairs for row in ("crafted", "control")],
                      [pair["vs control"] for pair in pairs])
        record["memory"] = print_memory(args.rows)


if __name__ == "__main__":
    main()
