#!/usr/bin/env python3
"""Draws times against the entry count from google-benchmark JSON: the
unicast table's operations (bench_ucpw: lookup, add, delete, page) and the
curves of learning, restart, both flushes and the walk of every VSI (the
*Curve benchmarks, their us_per_entry), one PNG per operation found in
the files, one line per shape (64, 1,024 or one VSI; consecutive or
random B-MACs). With --baseline, a second JSON (the same benchmarks of an
older build) is drawn dashed beside it.

  scripts/plot_bench.py RESULTS.json... [--baseline OLD.json] [--out docs/img]

The median of the repetitions is plotted when the file holds aggregates,
else the mean of the runs of a name. Times are CPU times by default (the
operations never wait, and on a shared host the wall time also counts
other processes' turns); --time real plots wall times."""

import argparse
import json
import os
import re
import statistics
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

OPS = [
    ("BM_Get", "unicast table: lookup", "ucpw_lookup.png", 1.0),
    ("BM_Add", "unicast table: add", "ucpw_add.png", 1.0),
    ("BM_Delete", "unicast table: delete", "ucpw_delete.png", 1.0),
    ("BM_GetNextByIndex", "unicast table: page (next entry of a VSI)", "ucpw_page.png", None),
    ("BM_LearnCurve", "learning new entries in process", "curve_learn.png", None),
    ("BM_RestartCurve", "restart in process, to the first batch's end", "curve_restart.png", None),
    ("BM_LinkDownCurve", "link down, per entry flushed", "curve_link_down.png", None),
    ("BM_TopologyChangeCurve", "topology change, per entry flushed", "curve_topology_change.png", None),
    ("BM_WalkCurve", "walk of every VSI (pbbctl's client)", "curve_walk.png", None),
]
# Goals of lookup, add and delete over 1,024 VSIs: us at the entry count.
GOALS = {256000: 1.0, 1000000: 2.0}
NAME = re.compile(r"^(BM_\w+)/(\d+)/(\d+)/(consecutive|random)(/.*)?$")
TO_US = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
STYLE = {64: "tab:blue", 1024: "tab:orange", 1: "tab:green"}


def load(path, field):
    """{(op, entries, vsis, macs): microseconds}"""
    with open(path) as f:
        data, _ = json.JSONDecoder().raw_decode(f.read())
    medians, runs = {}, {}
    for b in data.get("benchmarks", []):
        m = NAME.match(b.get("run_name", b["name"]))
        if not m or b.get("error_occurred"):
            continue
        key = (m.group(1), int(m.group(2)), int(m.group(3)), m.group(4))
        unit = TO_US[b.get("time_unit", "ns")]
        if "us_per_entry" in b:
            # A curve: its own time per entry (wall time).
            us = b["us_per_entry"]
        else:
            # An iteration of add and delete handles a batch of entries: the
            # items it counts (items_per_second is taken over the CPU time).
            items = max(1, round(b.get("items_per_second", 0) * b["cpu_time"] * unit * 1e-6))
            us = b[field] * unit / items
        if b.get("aggregate_name") == "median":
            medians[key] = us
        elif b.get("run_type", "iteration") == "iteration":
            runs.setdefault(key, []).append(us)
    out = {k: statistics.mean(v) for k, v in runs.items()}
    out.update(medians)
    return out


def plot(op, title, path, goal, now, old, time):
    fig, axes = plt.subplots(1, 2, figsize=(8.4, 3.4), sharey=True, dpi=90)
    for ax, macs in zip(axes, ("consecutive", "random")):
        for figures, dashed in ((old, True), (now, False)):
            if figures is None:
                continue
            for vsis in (64, 1024, 1):
                pts = sorted((n, us) for (o, n, v, mc), us in figures.items() if o == op and v == vsis and mc == macs)
                if not pts:
                    continue
                label = f"{vsis} VSI{'s' if vsis > 1 else ''}" + (" (old)" if dashed else "")
                ax.plot([p[0] for p in pts], [p[1] for p in pts], "--" if dashed else "-", marker="o",
                        markersize=3, color=STYLE[vsis], alpha=0.55 if dashed else 1.0, label=label)
        if goal:
            ax.plot(list(GOALS), list(GOALS.values()), "k_", markersize=14, label="goal (1,024 VSIs)")
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_title(f"{macs} B-MACs", fontsize=9)
        ax.set_xlabel("entries")
        ax.grid(True, which="both", alpha=0.3)
        ax.tick_params(labelsize=8)
    curve = op.endswith("Curve")
    axes[0].set_ylabel("wall time per entry (us)" if curve else f"{time} time per operation (us)")
    axes[1].legend(fontsize=7, loc="upper left")
    fig.suptitle(title, fontsize=10)
    fig.tight_layout()
    # The smallest PNG (the repository keeps them).
    fig.savefig(path, pil_kwargs={"compress_level": 9})
    plt.close(fig)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("results", nargs="+")
    p.add_argument("--baseline")
    p.add_argument("--out", default="docs/img")
    p.add_argument("--time", choices=("cpu", "real"), default="cpu")
    a = p.parse_args()
    field = a.time + "_time"
    now = {}
    for path in a.results:
        now.update(load(path, field))
    old = load(a.baseline, field) if a.baseline else None
    if not now:
        sys.exit(f"plot_bench: no table benchmarks or curves in {' '.join(a.results)}")
    os.makedirs(a.out, exist_ok=True)
    for op, title, name, goal in OPS:
        if not any(k[0] == op for k in now):
            continue
        path = os.path.join(a.out, name)
        plot(op, title, path, goal, now, old, a.time)
        print(path)


if __name__ == "__main__":
    main()
