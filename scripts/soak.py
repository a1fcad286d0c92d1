#!/usr/bin/env python3
"""Soak: pbb-sim and pbbd under load and faults for a given time.

Runs the simulated switch's default topology with three PBB VSIs and, in
rounds, at the same time: frame floods (new stations, repeats and stations
moving between uplinks), switch events (link flaps, a board pulled and put
back, VSI down/up and deleted/added, topology changes, a B-VLAN taken from
an uplink and given back, the L2VPN module away and back), line-card ageing
reports, management requests from several pbbctl clients, and `kill -9` of
pbbd in every second round. Each round ends with the activity stopped and
a check: the switch's forwarding table, the daemon's tables (pbbctl) and
the run database (pbbctl db dump) hold the same unicast entries, the
daemon's and the switch's multicast entries name the same ports, and the
daemon's memory stays within its bound. A killed daemon is restarted and
checked once its first L2VPN batch is done. At the end pbbd is stopped
the orderly way and both processes' output must hold no sanitizer report.

It prints what it did (counts of each action) and what it checked, and
exits 0 only when every check held. Usage (scripts/soak.sh builds first):

    scripts/soak.py --minutes N --build-dir DIR [--seed S] [--keep]
"""

import argparse
import collections
import os
import random
import re
import sys
import threading
import time

# The harness's waits, longer under the sanitizers and the load (set before
# it is imported: its defaults are bound then).
os.environ.setdefault("PBB_TEST_DEADLINE", "60")
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "system"))
import harness  # noqa: E402

# name: (index, I-SID, B-VLAN, uplinks); frames arrive on the uplinks.
VSIS = {
    "vsi-red": (1, 10010, 100, ["eth-1/0/1", "eth-2/0/1"]),
    "vsi-green": (2, 10020, 101, ["eth-1/0/2", "eth-2/0/2"]),
    "vsi-blue": (3, 10030, 102, ["eth-2/0/1", "eth-1/0/2"]),
}
STATIONS = 400           # B-MACs per VSI: within the switch's 1024 entries per VSI
PORTS_UP = ["eth-1/0/1", "eth-1/0/2", "eth-2/0/1", "eth-2/0/2"]
SLOT2_UP = ["eth-2/0/1", "eth-2/0/2"]
SANITIZER = re.compile(r"ERROR: (Address|Leak)Sanitizer|runtime error:|SUMMARY: \w+Sanitizer")
QUIET = 1.5              # seconds of each round without frames
CLIENTS = 3              # management clients at the same time
CHECK_DEADLINE = 120     # seconds for the three views to agree after the activity stopped


def station(vsi_index, i):
    return f"02:{vsi_index:02x}:00:00:{i >> 8:02x}:{i & 0xff:02x}"


class Soak:
    def __init__(self, system, seed, minutes):
        self.s = system
        self.seed = seed
        self.rng = None  # the switch events' own, made for each round (events())
        self.start = time.monotonic()
        self.end = self.start + minutes * 60
        self.counts = collections.Counter()
        self.lock = threading.Lock()      # counts
        self.action = threading.Lock()    # held by a switch event or a kill, never both
        self.requests = threading.Semaphore(CLIENTS)  # a kill takes them all: no request in flight
        self.gate = threading.Event()     # closed while a kill waits for the requests in flight
        self.gate.set()
        self.daemon_down = False
        self.blue_changes = 0                # odd while vsi-blue is being deleted and added
        self.stop = threading.Event()
        self.quiet = threading.Event()    # the floods stop first: what events remove stays removed
        self.errors = []
        self.rss = []                     # (check, kB)
        self.checks = []

    def count(self, what, n=1):
        with self.lock:
            self.counts[what] += n

    # Set-up.

    def configure(self):
        # The default topology's trunks carry B-VLANs 100-110 on these uplinks.
        for name, (_, _, bvlan, uplinks) in VSIS.items():
            self.s.pbb_vsi(name, bvlan, uplinks)

    # The activity: each runs until self.stop is set.

    def rng_of(self, number, role):
        # Each thread of a round draws from a generator of its own, made
        # from the seed, the round and its role: a seed gives every thread
        # the same choices from run to run, however the threads interleave.
        return random.Random(f"{self.seed}/{number}/{role}")

    def flood(self, rng):
        while not self.stop.is_set() and not self.quiet.is_set():
            name = rng.choice(list(VSIS))
            index, isid, bvlan, uplinks = VSIS[name]
            count = rng.choice([1, 16, 64, 200])
            first = rng.randrange(STATIONS - count + 1)
            r = self.s.simctl("frame", "burst", rng.choice(uplinks), count, "--isid", isid, "--bvlan", bvlan,
                              "--bsa", station(index, first), "--rate", 20000, check=False)
            self.count("frames sent" if r.code == 0 else "frame bursts refused", count if r.code == 0 else 1)

    def manage(self, rng):
        while not self.stop.is_set():
            name = rng.choice(list(VSIS))
            words = rng.choice([("show", "learned", name), ("show", "mc"), ("show", "mc", name), ("status",),
                                ("debug", "show"), ("show", "learned", name), ("reset", "learned", "--vsi", name)])
            if words[0] == "reset" and rng.random() > 0.1:
                words = ("show", "learned", name)
            self.gate.wait()
            with self.requests:
                changes = self.blue_changes
                r = self.s.pbbctl(*words, "--json", check=False)
                down = self.daemon_down
                # vsi-blue deleted (and added again) while the request ran:
                # the daemon may refuse it, or pbbctl find no such VSI.
                blue = name == "vsi-blue" and (changes % 2 or changes != self.blue_changes)
            self.count(f"management requests ({' '.join(words[:2])})")
            if r.code != 0 and blue and r.code in (1, 2):
                self.count("management requests refused: vsi-blue being deleted and added")
            elif r.code != 0 and not (down and r.code == 3):  # 3: no daemon, killed in this round
                self.fail(f"pbbctl {' '.join(words)} failed: {r} (vsi-blue changes {changes}, "
                          f"{self.blue_changes} after)")

    def events(self, rng):
        # The events' helpers (event_*, pause) draw from self.rng.
        self.rng = rng
        while not self.stop.is_set():
            with self.action:
                # Without a daemon the switch still changes under it; what
                # needs pbbctl waits for the restart.
                event = self.rng.choice(EVENTS if not self.daemon_down else SWITCH_ONLY)
                getattr(self, "event_" + event)()
            self.stop.wait(self.rng.uniform(0.05, 0.3))

    def pause(self):
        time.sleep(self.rng.uniform(0, 0.2))  # how long the fault lasts: workload, not synchronisation

    def event_link_flap(self):
        port = self.rng.choice(PORTS_UP)
        self.s.simctl("link", "down", port)
        self.pause()
        self.s.simctl("link", "up", port)
        self.count("link flaps")

    def event_board_pull(self):
        self.s.simctl("slot", "remove", 2)
        self.pause()
        self.s.simctl("slot", "insert", 2)
        for port in SLOT2_UP:
            self.s.simctl("link", "up", port)
        self.count("board pulls")

    def event_vsi_down_up(self):
        name = self.rng.choice(list(VSIS))
        self.s.simctl("vsi", "down", name)
        self.pause()
        self.s.simctl("vsi", "up", name)
        self.count("VSI down/up")

    def event_vsi_deleted_added(self):
        index, isid, bvlan, uplinks = VSIS["vsi-blue"]
        self.blue_changes += 1
        self.s.simctl("vsi", "del", "vsi-blue")
        self.pause()
        self.s.simctl("vsi", "add", index, "vsi-blue", isid)
        self.s.pbb_vsi("vsi-blue", bvlan, uplinks)
        self.blue_changes += 1
        self.count("VSI deleted and added")

    def event_topology_change(self):
        bvlan = self.rng.choice([v[2] for v in VSIS.values()])
        self.s.simctl("stp", "tc", "--vlans", bvlan)
        self.count("topology changes")

    def event_bvlan_flap(self):
        _, _, bvlan, uplinks = VSIS[self.rng.choice(list(VSIS))]
        port = self.rng.choice(uplinks)
        self.s.simctl("vlan", "del", port, bvlan)
        self.pause()
        self.s.simctl("vlan", "add", port, bvlan)
        self.count("B-VLAN removed and given back")

    def event_l2vpn_away(self):
        self.s.simctl("service", "down", "l2vpn")
        self.pause()
        self.s.simctl("service", "up", "l2vpn")
        self.count("L2VPN module away and back")

    def event_ageing(self):
        entries = self.s.simctl("show", "unicast", json=True)["unicast"]
        if not entries:
            return
        chosen = self.rng.sample(entries, min(len(entries), self.rng.randint(1, 20)))
        vsi = chosen[0]["vsi"]
        chosen = [e for e in chosen if e["vsi"] == vsi]
        macs = [f"{e['bmac']}/{e['bvlan']}" for e in chosen]
        cancelled = self.rng.random() < 0.25
        for slot in (1, 2):
            kind = "cancelled_aged" if cancelled and slot == 2 else "aged"
            self.s.simctl("report", kind, slot, vsi, chosen[0]["isid"], *macs)
        self.count("ageing reports", 2)
        self.count("entries aged on every slot" if not cancelled else "entries with ageing cancelled", len(macs))

    # Kill -9 and restart.

    def kill(self):
        with self.action:
            self.gate.clear()
            for _ in range(CLIENTS):
                self.requests.acquire()
            self.s.kill_daemon()
            self.daemon_down = True
            for _ in range(CLIENTS):
                self.requests.release()
            self.gate.set()
        self.count("kill -9 of pbbd")

    def restart(self):
        self.s.start_daemon()
        self.daemon_down = False
        harness.wait_until("the first batch done after the restart",
                           lambda: not self.s.simctl("show", "refresh", json=True)["refresh"]["open"],
                           deadline=CHECK_DEADLINE)
        self.count("restarts")

    # Checks.

    def fail(self, what):
        with self.lock:
            self.errors.append(what)

    def views(self):
        daemon, switch_mc, daemon_mc = set(), {}, {}
        for name, (index, _, _, _) in VSIS.items():
            daemon |= {(index, e["bmac"], e["ifIndex"]) for e in self.s.learned(name)}
        switch = {(e["vsi"], e["bmac"], e["port"]) for e in self.s.simctl("show", "unicast", json=True)["unicast"]}
        stored = {(v, mac, ifindex) for mac, ifindex, v in self.s.stored_learned()}
        for m in self.s.ctl("show", "mc")["multicast"]:
            daemon_mc[m["vsiIndex"]] = sorted(m["ports"])
        for m in self.s.simctl("show", "multicast", json=True)["multicast"]:
            switch_mc[m["vsi"]] = sorted(m["ports"])
        return daemon, switch, stored, daemon_mc, switch_mc

    def check(self, label):
        last = [None]

        def agree():
            last[0] = v = self.views()
            return v[0] == v[1] == v[2] and v[3] == v[4]
        try:
            harness.wait_until(f"daemon, switch and run database to agree ({label})", agree,
                               deadline=CHECK_DEADLINE)
        except AssertionError as e:
            d, sw, st, dmc, smc = last[0]
            self.fail(f"{label}: {e}\n  daemon-only {sorted(d - sw)[:5]} switch-only {sorted(sw - d)[:5]} "
                      f"stored-only {sorted(st - d)[:5]} missing-in-store {sorted(d - st)[:5]}\n"
                      f"  multicast daemon {dmc} switch {smc}")
            return
        entries = len(last[0][0])
        rss = self.rss_kb()
        self.rss.append((label, rss))
        self.progress(f"{label}: {entries} entries agree")
        self.checks.append(f"{label}: {entries} unicast entries and {len(last[0][3])} multicast entries agree "
                           f"in daemon, switch and run database; pbbd {rss // 1024} MB resident")

    def progress(self, what):
        print(f"soak: {time.monotonic() - self.start:6.1f} s  {what}", flush=True)

    def rss_kb(self):
        with open(f"/proc/{self.s.daemon.pid}/status") as f:
            return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))

    def sanitizer_reports(self):
        return [f"{p.name}: {line}" for p in self.s.processes
                for line in (p.errors() + p.output()).splitlines() if SANITIZER.search(line)]

    # The rounds.

    def guarded(self, target, *args):
        """A thread's body: an exception ends the soak's activity and is reported."""
        def body():
            try:
                target(*args)
            except Exception as e:
                self.fail(f"{target.__name__}: {type(e).__name__}: {e}")
                self.stop.set()
        return threading.Thread(target=body)

    def round(self, number, seconds, kill):
        self.stop.clear()
        self.quiet.clear()
        rng = self.rng_of(number, "round")
        threads = [self.guarded(self.flood, self.rng_of(number, "flood")),
                   self.guarded(self.events, self.rng_of(number, "events"))]
        threads += [self.guarded(self.manage, self.rng_of(number, f"client {c}")) for c in range(CLIENTS)]
        for t in threads:
            t.start()
        self.progress(f"round {number}: floods, switch events, ageing, {CLIENTS} management clients"
                      + (", kill -9 of pbbd" if kill else ""))
        try:
            if kill:
                self.stop.wait(rng.uniform(seconds / 4, seconds * 3 / 4))
                self.kill()
            self.stop.wait(seconds if not kill else seconds / 4)
            # The last stretch without frames: entries that events and
            # ageing take away are not learned again before the check.
            self.quiet.set()
            self.stop.wait(QUIET)
        finally:
            self.stop.set()
            for t in threads:
                t.join()
        self.progress(f"round {number}: activity stopped, checking")
        if kill:
            self.restart()
            self.check(f"round {number}, after kill -9 and restart")
        else:
            self.check(f"round {number}")

    def run(self):
        self.s.start_sim()
        self.s.start_daemon()
        self.configure()
        number = 0
        while time.monotonic() < self.end and not self.errors:
            number += 1
            self.round(number, seconds=8, kill=number % 2 == 0)
            if not self.s.daemon.running():
                self.fail(f"pbbd ended by itself in round {number} (exit {self.s.daemon.proc.returncode})")
        self.bounded()
        if self.s.daemon is not None and self.s.daemon.running():
            code = self.s.stop_daemon()
            if code != 0:
                self.fail(f"pbbd stopped with exit status {code}")
        if self.s.sim.stop() not in (0, -15):
            self.fail("pbb-sim did not end cleanly on SIGTERM")
        self.errors += self.sanitizer_reports()

    def bounded(self):
        """Memory: the stations and VSIs are bounded, so is the daemon. The
        highest resident size of the second half of the checks may exceed
        that of the first half by at most a quarter and 16 MB."""
        if len(self.rss) < 2:
            return
        half = len(self.rss) // 2
        first, second = max(r for _, r in self.rss[:half]), max(r for _, r in self.rss[half:])
        self.checks.append(f"memory: pbbd at most {first // 1024} MB resident in the first half of the checks, "
                           f"{second // 1024} MB in the second")
        if second > first * 1.25 + 16 * 1024:
            self.fail(f"pbbd's memory grew: {first} kB then {second} kB")

    def report(self):
        print("soak: what it did")
        for what, n in sorted(self.counts.items()):
            print(f"  {n:8d}  {what}")
        print("soak: what it checked")
        for c in self.checks:
            print(f"  {c}")
        print("  no sanitizer report in the output of pbbd and pbb-sim" if not any(
            SANITIZER.search(e) for e in self.errors) else "  sanitizer reports found")
        for e in self.errors:
            print(f"soak: FAILED: {e}")
        print("soak: passed" if not self.errors else "soak: failed")


SWITCH_ONLY = ["link_flap", "board_pull", "vsi_down_up", "topology_change", "bvlan_flap", "l2vpn_away", "ageing"]
EVENTS = SWITCH_ONLY + ["vsi_deleted_added", "ageing"]


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--minutes", type=float, default=1)
    p.add_argument("--build-dir", required=True, help="the build tree holding pbbd, pbb-sim, pbbctl, pbb-simctl")
    p.add_argument("--seed", type=int, default=None, help="seed of the random choices (default: from the clock)")
    p.add_argument("--keep", action="store_true", help="keep the run directory (its path is printed)")
    args = p.parse_args()
    os.environ["PBB_BUILD_DIR"] = os.path.abspath(args.build_dir)
    seed = args.seed if args.seed is not None else int(time.time())
    print(f"soak: {args.minutes:g} minutes, seed {seed}, binaries from {os.environ['PBB_BUILD_DIR']}", flush=True)
    system = harness.System()
    soak = Soak(system, seed, args.minutes)
    try:
        soak.run()
    except Exception as e:  # a failed step ends the soak; its report still prints
        soak.fail(f"{type(e).__name__}: {e}")
        soak.errors += soak.sanitizer_reports()
    finally:
        try:
            if args.keep:
                for proc in system.processes:
                    proc.stop()
                print(f"soak: kept {system.dir}")
            else:
                system.cleanup()
        finally:
            soak.report()
    if soak.errors and not args.keep:
        print("soak: rerun with --keep and the same --seed to look at the processes' output", file=sys.stderr)
    return 1 if soak.errors else 0


if __name__ == "__main__":
    sys.exit(main())
