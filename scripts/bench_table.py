#!/usr/bin/env python3
"""Reads the JSON output of the benchmark binaries (one file each, in the
directory given) and prints one table: each figure with its goal, the median
measured over the repetitions, and whether the goal is met. --json prints
the same as JSON."""

import json
import os
import platform
import statistics
import sys

# (label, binary, benchmark name prefix, field, scale, unit, goal: (op, value) or None)
FIGURES = [
    ("learning in process: new entries", "bench_learn", "BM_Learn_InProcess", "new_per_second", 1, "/s", (">=", 150000)),
    ("learning in process: frames of known entries", "bench_learn", "BM_Learn_InProcess", "known_per_second", 1, "/s", (">=", 500000)),
    ("learning in process: raw packet-socket reads", "bench_learn", "BM_Learn_InProcess", "read_per_second", 1, "/s", None),
    ('learning in process: new entries over the raw read, same run', 'bench_learn', 'BM_Learn_InProcess', 'new_share_of_read', 1, '', ('>=', 0.5)),
    ('learning in process: known entries over the raw read, same run', 'bench_learn', 'BM_Learn_InProcess', 'known_share_of_read', 1, '', ('>=', 0.8)),
    ('learning 64,000 of one VSI in random order over 64 VSIs, same run', 'bench_learn', 'BM_Learn_OneVsiShuffled_InProcess', 'one_vsi_to_64_vsis', 1, '', ('<=', 1.5)),
    ('learning 64,000 of one VSI over 64 VSIs, both in random order', 'bench_learn', 'BM_Learn_OneVsiShuffled_InProcess', 'one_vsi_to_64_vsis_shuffled', 1, '', None),
    ("learning over pbb-sim: new entries", "bench_learn", "BM_Learn_OverSim", "new_per_second", 1, "/s", (">=", 20000)),
    ("learning over pbb-sim: one entry in round trips", "bench_learn", "BM_Learn_OverSim", "entry_in_round_trips", 1, "", None),
    ("learning over pbb-sim: rate over in process, same run", "bench_learn", "BM_Learn_OverSim", "over_sim_to_in_process", 1, "", (">=", 0.5)),
    ("deactivating a VSI of 64,000 entries", "bench_control", "BM_DeactivateVsi", "real_time", 1, "ms", ("<", 500)),
    ("resetting all 64,000 entries", "bench_control", "BM_ResetAll", "real_time", 1, "ms", ("<", 500)),
    ("ageing out 1,000 of 64,000 entries", "bench_control", "BM_AgeOut1000", "real_time", 1, "ms", None),
    ("restart in process, 64,000 over 64 VSIs: to readiness", "bench_restart", "BM_Restart_InProcess/64/", "ready_s", 1000, "ms", None),
    ("restart in process, 64,000 over 64 VSIs: to the first batch's end", "bench_restart", "BM_Restart_InProcess/64/", "batch_s", 1000, "ms", ("<", 1000)),
    ("restart in process, 64,000 in one VSI: to the first batch's end", "bench_restart", "BM_Restart_InProcess/1/", "batch_s", 1000, "ms", ("<", 1000)),
    ("restart in process, 256,000 over 64,000: to the first batch's end", 'bench_restart', 'BM_Restart_Scale_InProcess', 'batch_ratio', 1, '', ('<=', 4.5)),
    ("restart over pbb-sim, 64 VSIs: to the first batch's end", "bench_restart", "BM_Restart_OverSim/64/", "batch_s", 1000, "ms", ("<=", 1500)),
    ("restart over pbb-sim, 64 VSIs: share in round trips", "bench_restart", "BM_Restart_OverSim/64/", "round_trip_share", 100, "%", None),
    ("restart over pbb-sim, one VSI: to the first batch's end", "bench_restart", "BM_Restart_OverSim/1/", "batch_s", 1000, "ms", ("<=", 1500)),
    ("link down flushing 16,000 of 64,000, in process", "bench_flush", "BM_LinkDown/over_sim:0", "real_time", 1, "ms", ("<", 250)),
    ("link down flushing 16,000 of 64,000, over pbb-sim", "bench_flush", "BM_LinkDown/over_sim:1", "real_time", 1, "ms", None),
    ("topology change flushing 64,000, in process", "bench_flush", "BM_TopologyChange/over_sim:0", "real_time", 1, "ms", ("<", 500)),
    ("topology change flushing 64,000, over pbb-sim", "bench_flush", "BM_TopologyChange/over_sim:1", "real_time", 1, "ms", None),
    ('link down flushing, 256,000 over 64,000, in process', 'bench_flush', 'BM_FlushScale_InProcess', 'link_down_ratio', 1, '', ('<=', 4.5)),
    ('topology change flushing, 256,000 over 64,000, in process', 'bench_flush', 'BM_FlushScale_InProcess', 'topology_change_ratio', 1, '', ('<=', 4.5)),
    ('memory per learned entry at 256,000', 'bench_learn', 'BM_MemoryPerEntry_OverSim', 'bytes_per_entry_256k', 1, 'B', ('<=', 200)),
    ('memory per learned entry at 1,000,000', 'bench_learn', 'BM_MemoryPerEntry_OverSim', 'bytes_per_entry_1000k', 1, 'B', ('<=', 200)),
    ("management requests on one connection", "bench_gs", "BM_GetDebugRoundTrip", "requests_per_second", 1, "/s", None),
    ('pbbctl walk of 64 VSIs x 1,000 entries', 'bench_walk', 'BM_PbbctlShowAll/64/1000', 'real_time', 1, 'ms', ('<=', 1000)),
    ('pbbctl walk of 64 VSIs x 1,000: over the request rate, same run', 'bench_walk', 'BM_PbbctlShowAll/64/1000', 'ratio', 1, '', ('>=', 0.5)),
    ('pbbctl walk of one VSI of 64,000 entries', 'bench_walk', 'BM_PbbctlShowAll/1/64000', 'real_time', 1, 'ms', ('<=', 1000)),
    ('pbbctl walk of one VSI of 64,000: over the request rate, same run', 'bench_walk', 'BM_PbbctlShowAll/1/64000', 'ratio', 1, '', ('>=', 0.5)),
    ('unicast table, 256,000 over 1,024 VSIs, consecutive: lookup', 'bench_ucpw', 'BM_Get/256000/1024/consecutive/', 'time_per_lookup', 1000000.0, 'us', ('<=', 1)),
    ('unicast table, 256,000 over 1,024 VSIs, random: lookup', 'bench_ucpw', 'BM_Get/256000/1024/random/', 'time_per_lookup', 1000000.0, 'us', ('<=', 1)),
    ('unicast table, 256,000 over 1,024 VSIs, consecutive: add', 'bench_ucpw', 'BM_Add/256000/1024/consecutive/', 'time_per_entry', 1000000.0, 'us', ('<=', 1)),
    ('unicast table, 256,000 over 1,024 VSIs, random: add', 'bench_ucpw', 'BM_Add/256000/1024/random/', 'time_per_entry', 1000000.0, 'us', ('<=', 1)),
    ('unicast table, 256,000 over 1,024 VSIs, consecutive: delete', 'bench_ucpw', 'BM_Delete/256000/1024/consecutive/', 'time_per_entry', 1000000.0, 'us', ('<=', 1)),
    ('unicast table, 256,000 over 1,024 VSIs, random: delete', 'bench_ucpw', 'BM_Delete/256000/1024/random/', 'time_per_entry', 1000000.0, 'us', ('<=', 1)),
    ('unicast table, 1,000,000 over 1,024 VSIs, consecutive: lookup', 'bench_ucpw', 'BM_Get/1000000/1024/consecutive/', 'time_per_lookup', 1000000.0, 'us', ('<=', 2)),
    ('unicast table, 1,000,000 over 1,024 VSIs, random: lookup', 'bench_ucpw', 'BM_Get/1000000/1024/random/', 'time_per_lookup', 1000000.0, 'us', ('<=', 2)),
    ('unicast table, 1,000,000 over 1,024 VSIs, consecutive: add', 'bench_ucpw', 'BM_Add/1000000/1024/consecutive/', 'time_per_entry', 1000000.0, 'us', ('<=', 2)),
    ('unicast table, 1,000,000 over 1,024 VSIs, random: add', 'bench_ucpw', 'BM_Add/1000000/1024/random/', 'time_per_entry', 1000000.0, 'us', ('<=', 2)),
    ('unicast table, 1,000,000 over 1,024 VSIs, consecutive: delete', 'bench_ucpw', 'BM_Delete/1000000/1024/consecutive/', 'time_per_entry', 1000000.0, 'us', ('<=', 2)),
    ('unicast table, 1,000,000 over 1,024 VSIs, random: delete', 'bench_ucpw', 'BM_Delete/1000000/1024/random/', 'time_per_entry', 1000000.0, 'us', ('<=', 2)),
    ("frames from pbb-sim into the packet socket", "bench_sim", "BM_FramesIntoThePacketSocket", "items_per_second", 1, "/s", (">=", 200000)),
    ("pbb-sim forwarding, circuit to backbone and back (veth)", "bench_forward", "BM_ForwardBothWays/128/", "forwarded_per_second", 1, "/s", None),
    ("raw AF_PACKET send and read over veth, same run", "bench_forward", "BM_ForwardBothWays/128/", "raw_per_second", 1, "/s", None),
    ("forwarding against the raw AF_PACKET rate", "bench_forward", "BM_ForwardBothWays/128/", "ratio", 1, "", (">=", 0.5)),
    ("pbb-sim CPU per forwarded frame", "bench_forward", "BM_ForwardBothWays/128/", "sim_cpu_us_per_frame", 1, "us", None),
    ("one empty round trip of the socket transport", "bench_sim", "BM_RoundTrip_Socket", "real_time", 1, "us", None),
    ("switch model in process: a new entry added and committed, 64,000 over 64 VSIs", "bench_sim", "BM_ProgramNewEntries_InProcess/one_vsi_random:0", "ns_per_entry", 1, "ns", None),
    ("switch model in process: the same, 64,000 of one VSI in random order", "bench_sim", "BM_ProgramNewEntries_InProcess/one_vsi_random:1", "ns_per_entry", 1, "ns", None),
    ("run database: one save's median on the daemon's thread", "bench_dbm", "BM_SaveLearnedEntry", "median_us", 1000, "ns", None),
    ("run database: saves sustained, until committed", "bench_dbm", "BM_SaveSustained", "saves_per_second", 1, "/s", (">=", 250000)),
    ("run database: CPU per sustained save, both threads", "bench_dbm", "BM_SaveSustained", "cpu_us_per_save", 1000, "ns", None),
]

TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1000.0}


def load(directory):
    runs = {}
    for name in os.listdir(directory):
        if not name.endswith(".json"):
            continue
        with open(os.path.join(directory, name)) as f:
            try:
                # The first JSON document of the file (a benchmark that
                # wrote more after it does not spoil the table).
                data, _ = json.JSONDecoder().raw_decode(f.read())
            except json.JSONDecodeError:
                continue
        benchmarks = data.get("benchmarks", [])
        # Each repetition's own run; a benchmark that reports only its
        # aggregates gives its median instead.
        its = [b for b in benchmarks if b.get("run_type", "iteration") == "iteration"]
        medians = [b for b in benchmarks if b.get("aggregate_name") == "median"]
        have = {b["run_name"] for b in its if "run_name" in b}
        # bench_x.json and bench_x.<part>.json are all bench_x's runs.
        runs.setdefault(name[:-5].split(".")[0], []).extend(its + [b for b in medians if b.get("run_name") not in have])
    return runs


def value(run, field, unit):
    if field == "real_time":
        ms = run["real_time"] * TO_MS[run.get("time_unit", "ns")]
        return ms / TO_MS[unit] if unit in TO_MS else ms
    return run.get(field)


def figures(runs):
    out = []
    for label, binary, prefix, field, scale, unit, goal in FIGURES:
        vals = [value(r, field, unit) for r in runs.get(binary, [])
                if r["name"].startswith(prefix) and not r.get("error_occurred")]
        vals = [v * scale for v in vals if v is not None]
        median = statistics.median(vals) if vals else None
        met = None
        if goal and median is not None:
            op, target = goal
            met = {">=": median >= target, "<=": median <= target, "<": median < target}[op]
        out.append({"figure": label, "goal": f"{goal[0]} {goal[1]:,}{unit}" if goal else "",
                    "median": median, "unit": unit, "runs": len(vals), "met": met})
    return out


def fmt(v):
    if v is None:
        return "not run"
    return f"{v:,.0f}" if abs(v) >= 100 else f"{v:,.2f}"


def main():
    directory = sys.argv[1]
    as_json = "--json" in sys.argv[2:]
    rows = figures(load(directory))
    machine = f"{platform.node()}, {os.cpu_count()} CPUs, {platform.platform()}"
    if as_json:
        print(json.dumps({"machine": machine, "figures": rows}, indent=2))
        return 0
    w = max(len(r["figure"]) for r in rows)
    print(f"{'figure':<{w}}  {'goal':>12}  {'median':>12}  {'runs':>4}  met")
    for r in rows:
        met = "" if r["met"] is None else ("yes" if r["met"] else "NO")
        print(f"{r['figure']:<{w}}  {r['goal']:>12}  {fmt(r['median']) + r['unit'] if r['median'] is not None else 'not run':>12}  {r['runs']:>4}  {met}")
    print(f"\nmachine: {machine}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
