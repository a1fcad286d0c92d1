#!/usr/bin/env python3
"""How long a full `pbbctl show learned` walk takes.

pbb-sim and pbbd run in a private directory (the system-test harness); the
daemon learns its entries from frames injected with `pbb-simctl frame
burst` on an uplink, exactly as it would from the switch. Measured is the
wall-clock time of the whole pbbctl process (start, name look-ups, one
type 10 request and then one type 11 request per entry, output as JSON):

  - one VSI (vsi-red) at 8k, 16k, 32k and 64k entries: the daemon looks
    every page's position up again, so this shows how a page's cost grows
    with the VSI's size;
  - 64,000 entries spread over 64 VSIs (1,000 each), `show learned --all`.

Usage: PBB_BUILD_DIR=build bench/walk_learned.py [--sizes 8000,16000,32000,64000]
       [--vsis 64] [--per-vsi 1000] [--repeat 3]
Prints one JSON line per measurement.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "system"))
import harness  # noqa: E402


def timed_walk(system, *selection, repeat):
    """Median seconds of `pbbctl --json show learned ...` and its entry count."""
    times, count = [], None
    for _ in range(repeat):
        start = time.monotonic()
        r = system.run([harness.binary("pbbctl"), "--json", "--timeout", "60", "show", "learned", *selection])
        times.append(time.monotonic() - start)
        count = json.loads(r.out)["count"]
    return statistics.median(times), count


def fill(system, port, isid, bvlan, first, count, want, selection):
    """Injects count frames with B-SAs from `first` and waits until the walk
    shows `want` entries; frames the packet socket dropped are sent again."""
    bsa = f"00:bb:{first >> 24 & 255:02x}:{first >> 16 & 255:02x}:{first >> 8 & 255:02x}:{first & 255:02x}"
    for _ in range(5):
        system.simctl("frame", "burst", port, count, "--isid", isid, "--bvlan", bvlan, "--bsa", bsa, "--rate", 20000)
        last, stable = -1, 0
        while stable < 3:
            time.sleep(0.5)  # a benchmark pacing its own polls, not a test's synchronisation
            n = system.ctl("--timeout", "60", "show", "learned", *selection)["count"]
            stable = stable + 1 if n == last else 0
            last = n
            if n >= want:
                return n
    raise RuntimeError(f"only {last} of {want} entries learned")


def prepare(system, vsis):
    system.start_sim()
    lines = ["l2vpn limits --total 200000 --per-vsi 100000"]
    lines += [f"vsi add {10 + i} vsi-b{i} {20000 + i}" for i in range(vsis)]
    system.run([harness.binary("pbb-simctl"), "-f", "-"], input="\n".join(lines) + "\n")
    system.start_daemon()


def single_vsi(sizes, repeat):
    system = harness.System()
    try:
        prepare(system, 0)
        system.pbb_vsi("vsi-red", 100, ["eth-1/0/1"])
        have = 0
        for size in sizes:
            fill(system, "eth-1/0/1", 10010, 100, have, size - have, size, ["vsi-red"])
            have = size
            secs, count = timed_walk(system, "vsi-red", repeat=repeat)
            print(json.dumps({"walk": "one VSI", "entries": count, "seconds": round(secs, 3),
                              "us_per_entry": round(secs / count * 1e6, 1)}), flush=True)
    finally:
        system.cleanup()


def many_vsis(vsis, per_vsi, repeat):
    system = harness.System()
    try:
        prepare(system, vsis)
        system.ctl("uplink", "all", "eth-1/0/2", "on")
        for i in range(vsis):
            system.ctl("bvlan", "set", f"vsi-b{i}", 101)
        for i in range(vsis):
            fill(system, "eth-1/0/2", 20000 + i, 101, i << 16, per_vsi, per_vsi, [f"vsi-b{i}"])
        secs, count = timed_walk(system, "--all", repeat=repeat)
        print(json.dumps({"walk": f"{vsis} VSIs", "entries": count, "seconds": round(secs, 3),
                          "us_per_entry": round(secs / count * 1e6, 1)}), flush=True)
    finally:
        system.cleanup()


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--sizes", default="8000,16000,32000,64000")
    p.add_argument("--vsis", type=int, default=64)
    p.add_argument("--per-vsi", type=int, default=1000)
    p.add_argument("--repeat", type=int, default=3)
    a = p.parse_args()
    harness.DEADLINE = 120
    single_vsi([int(s) for s in a.sizes.split(",") if s], a.repeat)
    if a.vsis:
        many_vsis(a.vsis, a.per_vsi, a.repeat)


if __name__ == "__main__":
    main()
