"""The benchmarks' charts and the tables of docs/performance.md, drawn from saved results alone.

    python bench/charts.py [--results bench/results] [--docs docs]

Reads filter_grid.json (bench/filter_grid.py --json) and bench-3.1X.json (bench/bench.py --json,
one per version) from --results, and writes into --docs:
  filter_grid.svg    build + scan time against fragment count, Filter and each peer, one panel per
                     family and count of names, and the crafted rows against their controls;
  bench_versions.svg bench.py's ratios on each version;
  performance.md     each part between `<!-- generated: NAME -->` and `<!-- end: NAME -->`: the
                     ratios, the run each figure came from, and the runs' own reports.
It measures nothing, so `make bench-charts` redraws everything from committed results; `make bench`
measures first. matplotlib is needed for the charts only (bench/requirements.txt); the tests
import this file for generated_parts() without it.
"""

import argparse
import hashlib
import json
import re
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
VERSIONS = ["3.10", "3.11", "3.12", "3.13"]
FAMILIES = ["fixed 8", "mixed 3-30", "mixed 4-40"]
CONTENDERS = ["Filter", "pyahocorasick", "ahocorasick-rs", "daachorse"]
COLORS = {"Filter": "#c0392b", "pyahocorasick": "#7f8c8d", "ahocorasick-rs": "#2980b9", "daachorse": "#27ae60"}
GENERATED = re.compile(r"(<!-- generated: ([\w-]+) -->\n)(.*?)(<!-- end: \2 -->)", re.DOTALL)

# bench.py's ratios shown per version: (column, workload number, numerator, denominator).
VERSION_RATIOS = [
    ("call / inline chain", 1, "native", "inline chain"),
    ("call / C forwarding", 1, "native", "C forwarding"),
    ("C forwarding / inline chain", 1, "C forwarding", "inline chain"),
    ("name list / C loop", 3, "native", "plain C loop"),
    ("Filter, 3 fragments: pure Python / native", 4, "pure Python", "native"),
    ("Filter, 200 fragments: compiled regex / native", 5, "compiled regex", "native"),
]


def load(results):
    """{"grid": filter_grid.json or None, "versions": {version: bench-3.1X.json}}"""
    results = Path(results)
    grid = results / "filter_grid.json"
    versions = {v: results / f"bench-{v}.json" for v in VERSIONS}
    return {"grid": json.loads(grid.read_text(encoding="utf-8")) if grid.exists() else None,
            "versions": {v: json.loads(path.read_text(encoding="utf-8")) for v, path in versions.items()
                         if path.exists()}}


def run_note(run):
    """One line saying where a run's figures came from."""
    commit = f", commit {run['commit']}" if run.get("commit") else ""
    return (f"CPython {run['python']} on {run['platform'].split('-')[0]}, {run['cpus']} cores, "
            f"{run['started'].replace('T', ' ').replace('+00:00', ' UTC')}{commit}")


def fmt(ratio):
    return f"{ratio:.3g}" if ratio < 10 else f"{ratio:,.0f}"


def version_ratios(bench):
    """{column: ratio} of one version's bench.py run."""
    by_number = {int(w["workload"].split()[0]): w["seconds"] for w in bench["workloads"]}
    return {column: by_number[n][top] / by_number[n][bottom] for column, n, top, bottom in VERSION_RATIOS}


def versions_table(versions):
    lines = ["| | " + " | ".join(column for column, *_ in VERSION_RATIOS) + " |",
             "|---" * (len(VERSION_RATIOS) + 1) + "|"]
    for bench in versions.values():
        ratios = version_ratios(bench)
        lines.append(f"| {bench['run']['python']} | " + " | ".join(f"{ratios[c]:.2f}" for c, *_ in VERSION_RATIOS) + " |")
    lines.append("")
    lines += [f"- {version}: {run_note(bench['run'])}, best of {bench['run']['repeat']}"
              for version, bench in versions.items()]
    return "\n".join(lines) + "\n"


def span(values):
    low, high = min(values), max(values)
    return fmt(low) if fmt(low) == fmt(high) else f"{fmt(low)} to {fmt(high)}"


def grid_table(grid):
    """The ratios at each fragment count of each family, the crafted rows, the checks and memory."""
    families = [f for f in FAMILIES if f in grid["families"]]
    counts = sorted({cell["fragments"] for f in families for cell in grid["families"][f]})
    lines = []
    if families:
        lines += ["Fastest library's time over Filter's (build + scan), lowest to highest over 5,000 and "
                  "100,000 names, few and many matches:", "",
                  "| fragments | " + " | ".join(families) + " |", "|---:" * (len(families) + 1) + "|"]
    for count in counts:
        cells = [[c["ratio"] for c in grid["families"][f] if c["fragments"] == count] for f in families]
        lines.append(f"| {count:,} | " + " | ".join(span(r) if r else "" for r in cells) + " |")
    lines.append("")
    if grid["crafted"]:
        lines += ["| crafted shape | ratio, crafted | ratio, control | Filter, crafted / control |",
                  "|---|---:|---:|---:|"]
        lines += [f"| {p['shape']} | {fmt(p['crafted']['ratio'])} | {fmt(p['control']['ratio'])} | "
                  f"{p['vs control']:.3g} |" for p in grid["crafted"]]
        lines.append("")
    cells = [c for f in families for c in grid["families"][f]]
    ratios = [c["ratio"] for c in cells] + [p[row]["ratio"] for p in grid["crafted"] for row in ("crafted", "control")]
    checks = [("lowest ratio to the fastest library", ratios, min, lambda v: v >= 3, "at least 3"),
              ("highest crafted / control", [p["vs control"] for p in grid["crafted"]], max, lambda v: v <= 3, "at most 3")]
    for label, values, worst, met, target in checks:
        if values:
            value = worst(values)
            lines.append(f"- {label}: {value:.3g} over {len(values)} (target {target}: {'met' if met(value) else 'NOT met'})")
    for m in grid.get("memory", []):
        lines.append(f"- memory, {m['fragments']:,} fragments of {m['lengths']} against {m['names']:,} names, "
                     f"{m['variant']}: {m['growth'] / 2**20:.1f} MiB for {m['chars']:,} characters "
                     f"({m['growth'] / m['chars']:.1f} bytes a character; budget {m['budget'] / 2**20:.1f} MiB)")
    run = grid["run"]
    peers = ", ".join(f"{name} {version}" for name, version in run["peers"].items())
    lines += ["", f"From one run of `bench/filter_grid.py`: {run_note(run)}; best of {run['repeat']} "
              f"(the libraries at most {run['peer_repeat']} above {run['big']:,} fragment characters); {peers}."]
    return "\n".join(lines) + "\n"


def report_block(text):
    return "```text\n" + text.rstrip("\n") + "\n```\n"


def generated_parts(results):
    """{NAME: text} of every generated part of performance.md that `results` can give."""
    parts = {}
    if results["grid"]:
        parts["filter-grid-table"] = grid_table(results["grid"])
        parts["filter-grid-report"] = report_block(results["grid"]["report"])
    if results["versions"]:
        parts["bench-versions"] = versions_table(results["versions"])
        first = results["versions"][min(results["versions"])]
        parts["bench-report"] = report_block(first["report"])
    return parts


def fill(page, parts):
    """`page` with each generated part replaced; fails on a part the page does not hold."""
    missing = set(parts) - set(m.group(2) for m in GENERATED.finditer(page))
    if missing:
        raise SystemExit(f"performance.md has no place for: {', '.join(sorted(missing))}")
    return GENERATED.sub(lambda m: m.group(1) + parts.get(m.group(2), m.group(3)) + m.group(4), page)


def pyplot():
    import matplotlib

    matplotlib.use("svg")
    import matplotlib.pyplot as plt

    # The same results give the same file: no date in it, fixed ids, text kept as text.
    plt.rcParams.update({"svg.hashsalt": "tessavor", "svg.fonttype": "none", "font.size": 9})
    return plt


def fingerprint(*runs):
    """What a chart says it was drawn from: a digest of each run's figures, whatever their layout."""
    return " ".join(hashlib.sha256(json.dumps(run, sort_keys=True).encode()).hexdigest()[:16] for run in runs)


def save(figure, path, *runs):
    figure.savefig(path, format="svg", bbox_inches="tight",
                   metadata={"Date": None, "Description": f"bench/charts.py from results {fingerprint(*runs)}"})
    print(f"wrote {path}")


def draw_grid(grid, path):
    plt = pyplot()
    from matplotlib.lines import Line2D

    families = [f for f in FAMILIES if f in grid["families"]]
    names = sorted({c["names"] for f in families for c in grid["families"][f]})
    columns = len(families) + bool(grid["crafted"])
    figure = plt.figure(figsize=(3.6 * columns, 3.2 * max(len(names), 1) + 0.6))
    layout = figure.add_gridspec(max(len(names), 1), columns)
    for column, family in enumerate(families):
        for row, count in enumerate(names):
            axes = figure.add_subplot(layout[row, column])
            for contender in CONTENDERS:
                for variant, style in (("few", "-"), ("many", "--")):
                    cells = sorted((c for c in grid["families"][family] if c["names"] == count and c["variant"] == variant),
                                   key=lambda c: c["fragments"])
                    axes.plot([c["fragments"] for c in cells], [c[contender] * 1e3 for c in cells], style, marker="o",
                              markersize=3, color=COLORS[contender], linewidth=2 if contender == "Filter" else 1)
            axes.set(xscale="log", yscale="log", title=f"{family}, {count:,} names", xlabel="fragments",
                     ylabel="build + scan, ms" if column == 0 else None)
            axes.grid(True, which="major", linewidth=0.3)
    if grid["crafted"]:
        axes = figure.add_subplot(layout[:, -1])
        shapes = [p["shape"] for p in grid["crafted"]]
        for offset, contender in enumerate(CONTENDERS):
            x = [i + (offset - 1.5) * 0.15 for i in range(len(shapes))]
            axes.scatter(x, [p["crafted"][contender] * 1e3 for p in grid["crafted"]], color=COLORS[contender], s=18)
            axes.scatter(x, [p["control"][contender] * 1e3 for p in grid["crafted"]], facecolors="none",
                         edgecolors=COLORS[contender], s=18)
        axes.set(yscale="log", title="crafted (filled) and control (hollow)", ylabel="build + scan, ms")
        axes.set_xticks(range(len(shapes)), shapes, rotation=30, ha="right")
        axes.grid(True, axis="y", linewidth=0.3)
    handles = [Line2D([], [], color=COLORS[c], linewidth=2 if c == "Filter" else 1, label=c) for c in CONTENDERS]
    handles += [Line2D([], [], color="black", linestyle=style, label=f"{variant} matches")
                for variant, style in (("few", "-"), ("many", "--"))]
    figure.legend(handles=handles, loc="lower center", ncol=len(handles), frameon=False, bbox_to_anchor=(0.5, -0.04))
    figure.suptitle(f"Filter and the libraries a user would pick instead: {run_note(grid['run'])}", fontsize=9)
    figure.tight_layout()
    save(figure, path, grid)
    plt.close(figure)


def draw_versions(versions, path):
    plt = pyplot()
    ratios = {v: version_ratios(bench) for v, bench in versions.items()}
    figure, (left, right) = plt.subplots(1, 2, figsize=(11, 4.2), gridspec_kw={"width_ratios": [2, 1]})
    for axes, columns, title in ((left, VERSION_RATIOS[:4], "calls and name lists against their references (1 = as fast)"),
                                 (right, VERSION_RATIOS[4:], "Filter: how many times faster")):
        width = 0.8 / len(columns)
        for index, (column, *_) in enumerate(columns):
            x = [i + (index - (len(columns) - 1) / 2) * width for i in range(len(ratios))]
            bars = axes.bar(x, [r[column] for r in ratios.values()], width, label=column)
            axes.bar_label(bars, fmt="%.2f", fontsize=7)
        axes.set_xticks(range(len(ratios)), [versions[v]["run"]["python"] for v in ratios])
        axes.set(title=title, xlabel="CPython")
        axes.set_ylim(0, axes.get_ylim()[1] * 1.1)
        axes.legend(fontsize=7, loc="upper center", bbox_to_anchor=(0.5, -0.2), ncol=2, frameon=False)
    left.axhline(1, color="black", linewidth=0.6)
    runs = sorted({bench["run"]["started"][:10] for bench in versions.values()})
    figure.suptitle(f"bench/bench.py on each version, {', '.join(runs)}, {versions[min(versions)]['run']['cpus']} cores",
                    fontsize=9)
    figure.tight_layout()
    save(figure, path, *versions.values())
    plt.close(figure)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--results", default=ROOT / "bench" / "results", type=Path, help="where the runs' JSON files are")
    parser.add_argument("--docs", default=ROOT / "docs", type=Path, help="where the charts and performance.md are")
    args = parser.parse_args()
    results = load(args.results)
    if not results["grid"] and not results["versions"]:
        raise SystemExit(f"no results in {args.results}: run `make bench` first")
    if results["grid"]:
        draw_grid(results["grid"], args.docs / "filter_grid.svg")
    if results["versions"]:
        draw_versions(results["versions"], args.docs / "bench_versions.svg")
    page = args.docs / "performance.md"
    page.write_text(fill(page.read_text(encoding="utf-8"), generated_parts(results)), encoding="utf-8")
    print(f"wrote {page}")


if __name__ == "__main__":
    main()
