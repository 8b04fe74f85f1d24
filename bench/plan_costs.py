"""Measures again the cost model Filter's matcher plans by, and prints it beside the one in the code.

    .venv/bin/python bench/plan_costs.py [--repeat N]

The plan (matcher/plan.cpp) weighs window hashing against the automaton with rough nanoseconds per
unit of work: a part into window hashing's sets, a window of an item per distinct part length, a
code point of a part into the automaton, an entry of a full row, a code point of an item through
the automaton. Each is measured here through the test build's matcher probe, which builds and scans
under a forced plan: build alone (`plan`) against build and scan (`filter`); the automaton's build
is split between its rows' entries (the same parts with every row 200 entries wider, or not) and
the parts' code points. Best of N runs each. Needs the test build
(`make test` makes it); the figures move with the machine, their ratios much less.
"""
import argparse
import random
import time

import _tessavor_probe as probe


def best(repeat, call):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return min(times)


def one_byte(rng, length, alphabet="abcdefghijklmnopqrstuvwxyz0123456789"):
    return "".join(rng.choice(alphabet) for _ in range(length))


# Two hundred wide code points: wide rows.
WIDE = [chr(0x4E00 + i) for i in range(200)]


def scan_ns_per_point(repeat, items, parts, plan):
    """Nanoseconds per code point of `items` for the scan alone (build and scan, less the build)."""
    text = sum(map(len, items))
    both = best(repeat, lambda: probe.filter(items, parts, plan))
    build = best(repeat, lambda: probe.plan(parts, text, plan))
    return (both - build) * 1e9 / text


def measure(repeat):
    rng = random.Random(5)
    windows, automaton = {"way": "windows"}, {"way": "automaton"}
    # Items that hold no part ("!" is in none), so that every scan reads every code point.
    items = [one_byte(rng, 400) for _ in range(2500)]
    parts = [one_byte(rng, 8) + "!" for _ in range(20)]  # nine code points: the automaton's alone
    short = [p[:6] + "!" for p in parts]  # seven, of one length: window hashing serves them

    many = [one_byte(rng, 8) for _ in range(200_000)]
    measured = {"window_part": best(repeat, lambda: probe.plan(many, 0, windows)) * 1e9 / len(many)}
    lengths = [short[i][:3 + i % 4] + "!" for i in range(len(short))]  # four lengths
    measured["window_step"] = scan_ns_per_point(repeat, items, lengths, windows) / 4

    # The automaton's build. A row's entries: the same parts with rows at every depth, once as they
    # are and once beside a part of 200 code points of its own, which widens every row by 200
    # and adds little else. A code point of the parts: the rest of a build as the plan chooses.
    every = {"way": "automaton", "rows": "all"}
    listed = [one_byte(rng, rng.randrange(10, 40)) for _ in range(3000)]
    widened = listed + ["".join(WIDE)]
    narrow, wide = probe.plan(listed, 0, every), probe.plan(widened, 0, every)
    extra = best(repeat, lambda: probe.plan(widened, 0, every)) - best(repeat, lambda: probe.plan(listed, 0, every))
    measured["row_entry"] = extra * 1e9 / (wide["row_entries"] - narrow["row_entries"])
    listed = [one_byte(rng, rng.randrange(10, 40)) for _ in range(50_000)]
    seconds = best(repeat, lambda: probe.plan(listed, 0, automaton))
    entries = probe.plan(listed, 0, automaton)["row_entries"]
    measured["trie_point"] = (seconds * 1e9 - measured["row_entry"] * entries) / sum(map(len, listed))
    measured["automaton_step"] = scan_ns_per_point(repeat, items, parts, automaton)
    return measured


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    in_code = probe.costs()
    measured = measure(args.repeat)
    print(f"matcher cost model, ns per unit (best of {args.repeat}); ratio = measured / in code")
    print(f"{'unit':16} {'in code':>8} {'measured':>9} {'ratio':>6}")
    for name, value in in_code.items():
        print(f"{name:16} {value:8.2f} {measured[name]:9.2f} {measured[name] / value:6.2f}")


if __name__ == "__main__":
    main()
