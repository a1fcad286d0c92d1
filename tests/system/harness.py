"""System-test harness: pbb-sim and pbbd in a private run and state directory.

A System owns one temporary directory (run/, state/, the log file and the
output of every process it starts). It starts pbb-sim (a topology file or
the embedded default) and waits for its "pbb-sim ready" line; it starts
pbbd with the platform settings pointing at that directory and waits until
`pbbctl status --json` reports it ready; it runs pbb-simctl and pbbctl and
parses their JSON. Every wait has a deadline and fails with what the
processes said. cleanup() stops every process it started (SIGTERM, then
SIGKILL), runs the cleanups tests registered and removes the directory.

The binaries are found under PBB_BUILD_DIR (the CMake build directory).
"""

import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time

DEADLINE = float(os.environ.get("PBB_TEST_DEADLINE", "20"))


def build_dir():
    d = os.environ.get("PBB_BUILD_DIR")
    if not d:
        raise RuntimeError("PBB_BUILD_DIR is not set: it names the CMake build directory holding the binaries")
    return d


def binary(name):
    paths = {
        "pbbd": "daemon/pbbd",
        "pbbctl": "tools/pbbctl/pbbctl",
        "pbb-sim": "tools/pbb-sim/pbb-sim",
        "pbb-simctl": "tools/pbb-simctl/pbb-simctl",
        "pbb-pktread": "tests/system/pktread/pbb-pktread",
    }
    path = os.path.join(build_dir(), paths[name])
    if not os.access(path, os.X_OK):
        raise RuntimeError(f"{path} is missing: build the project first")
    return path


def wait_until(what, cond, deadline=DEADLINE, describe=None):
    """Asks cond() until it returns something true; fails after the deadline."""
    end = time.monotonic() + deadline
    while True:
        value = cond()
        if value:
            return value
        if time.monotonic() > end:
            extra = f"\n{describe()}" if describe else ""
            raise AssertionError(f"timed out after {deadline:.0f} s waiting for {what}{extra}")
        time.sleep(0.01)


class Result:
    def __init__(self, args, proc):
        self.args = args
        self.code = proc.returncode
        self.out = proc.stdout
        self.err = proc.stderr

    def json(self):
        try:
            return json.loads(self.out)
        except ValueError as e:
            raise AssertionError(f"{' '.join(self.args)} printed no JSON ({e}): {self.out!r} {self.err!r}")

    def __repr__(self):
        return f"<{' '.join(self.args)}: exit {self.code}, out {self.out!r}, err {self.err!r}>"


class Process:
    """A process started by the harness, its output in files."""

    def __init__(self, name, args, env, outdir):
        self.name = name
        self.args = args
        self.out_path = os.path.join(outdir, f"{name}.out")
        self.err_path = os.path.join(outdir, f"{name}.err")
        with open(self.out_path, "ab") as out, open(self.err_path, "ab") as err:
            self.proc = subprocess.Popen(args, env=env, stdout=out, stderr=err, stdin=subprocess.DEVNULL)

    @property
    def pid(self):
        return self.proc.pid

    def running(self):
        return self.proc.poll() is None

    def output(self):
        with open(self.out_path, errors="replace") as f:
            return f.read()

    def errors(self):
        with open(self.err_path, errors="replace") as f:
            return f.read()

    def stop(self, sig=signal.SIGTERM, deadline=10):
        """Sends sig and waits; SIGKILL when it does not end in time. The exit status."""
        if self.running():
            try:
                self.proc.send_signal(sig)
                self.proc.wait(timeout=deadline)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return self.proc.returncode

    def wait(self, deadline=DEADLINE):
        return self.proc.wait(timeout=deadline)


class System:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="pbb-system.")
        self.run_dir = os.path.join(self.dir, "run")
        self.state_dir = os.path.join(self.dir, "state")
        self.log_file = os.path.join(self.dir, "pbb.log")
        self.env = dict(os.environ)
        self.env.update(PBB_RUN_DIR=self.run_dir, PBB_STATE_DIR=self.state_dir, PBB_LOG_FILE=self.log_file,
                        PBB_PLATFORM="sim")
        self.processes = []
        self.cleanups = []
        self.sim = None
        self.daemon = None
        self._starts = 0

    # Processes.

    def start(self, name, args):
        self._starts += 1
        p = Process(f"{name}.{self._starts}", args, self.env, self.dir)
        self.processes.append(p)
        return p

    def started(self, name, args, ready):
        """Starts a program and waits until ready() holds; it must still run then."""
        p = self.start(name, args)
        wait_until(f"{name} ready", lambda: not p.running() or ready(p), describe=lambda: self.describe(p))
        if not p.running():
            raise AssertionError(f"{name} ended during start-up (exit {p.proc.returncode})\n{self.describe(p)}")
        return p

    def start_sim(self, topology=None, args=()):
        """Starts pbb-sim and waits for its ready line."""
        cmd = [binary("pbb-sim")] + (["--topology", topology] if topology else []) + list(args)
        self.sim = self.started("pbb-sim", cmd, lambda p: "pbb-sim ready" in p.output())
        return self.sim

    def start_daemon(self):
        """Starts pbbd and waits until pbbctl reports it ready."""
        def ready(p):
            r = self.pbbctl("status", "--json", check=False)
            return r.code == 0 and r.json().get("ready") and r.json().get("pid") == p.pid

        self.daemon = self.started("pbbd", [binary("pbbd")], ready)
        return self.daemon

    def stop_daemon(self):
        """Stops pbbd the orderly way (pbbctl stop) and returns its exit status."""
        p = self.daemon
        r = self.pbbctl("stop", check=False)
        assert r.code == 0, r
        code = p.wait()
        self.daemon = None
        return code

    def kill_daemon(self):
        code = self.daemon.stop(signal.SIGKILL)
        self.daemon = None
        return code

    def start_pktread(self, *args):
        """Starts pbb-pktread (the packet socket as the daemon reads it) and waits for its ready line."""
        return self.started("pbb-pktread", [binary("pbb-pktread")] + [str(a) for a in args],
                            lambda p: '"ready"' in p.output())

    # Tools.

    def run(self, args, check=True, input=None):
        proc = subprocess.run(args, env=self.env, capture_output=True, text=True, input=input, timeout=DEADLINE)
        r = Result(args, proc)
        if check and r.code != 0:
            raise AssertionError(f"{r}")
        return r

    def simctl(self, *words, json=False, check=True):
        """pbb-simctl with the words (and --json): a Result, or its parsed JSON with json=True."""
        args = [binary("pbb-simctl")] + (["--json"] if json else []) + [str(w) for w in words]
        r = self.run(args, check=check)
        return r.json() if json and r.code == 0 else r

    def pbbctl(self, *args, check=True):
        return self.run([binary("pbbctl")] + [str(a) for a in args], check=check)

    def ctl(self, *args, code=0):
        """pbbctl with --json: asserts its exit status and returns its JSON
        (None when it printed nothing)."""
        r = self.pbbctl(*args, "--json", check=False)
        assert r.code == code, r
        return r.json() if r.out.strip() else None

    def pbb_vsi(self, vsi, bvlan, uplinks):
        """Gives a VSI its B-VLAN and uplinks through pbbctl; the VSI's
        multicast entries as the daemon shows them (none while the daemon
        cannot program the switch)."""
        self.ctl("bvlan", "set", vsi, bvlan)
        for port in uplinks:
            self.ctl("uplink", "add", port, vsi)
        return self.ctl("show", "mc", vsi)["multicast"]

    def learned(self, *selection):
        """The learned entries pbbctl shows (a VSI's, or --all)."""
        return self.ctl("show", "learned", *selection)["learned"]

    def stored(self, database="lPBB"):
        """The records of one stored database as pbbctl db dump shows them
        (committed ones only): {key: value record or list of element records}."""
        out = {}
        for store in self.ctl("db", "dump")["stores"]:
            for db in store.get("databases", []):
                if db["name"] != database:
                    continue
                for k in db["keys"]:
                    if k["kind"] == "sort-list":
                        out[k["key"]] = [e.get("record") for e in k["elements"]]
                    else:
                        out[k["key"]] = k.get("record")
        return out

    def stored_learned(self):
        """(bmac, ifindex, vsi index) of every learned entry committed to the run database."""
        return {(r["bmac"], r["ifindex"], r["vsi_index"])
                for records in self.stored("lPBB").values() for r in records}

    def stats(self):
        return self.simctl("show", "stats", json=True)

    def wait_refresh_closed(self, what="the refresh window closed"):
        """Waits until the switch's refresh window is closed: after a
        daemon's start, the end of its first batch, which it handles once
        it is ready (it opened the window before)."""
        wait_until(what, lambda: not self.simctl("show", "refresh", json=True)["refresh"]["open"])

    SHOWS = ("slots", "interfaces", "vlans", "stp", "vsis", "unicast", "multicast", "pbb-ports", "encap", "services")

    def switch_state(self):
        """Everything pbb-simctl shows about the switch, to compare before and after."""
        return {what: self.simctl("show", what, json=True) for what in self.SHOWS}

    def read_frames(self, reader):
        """The frames a pbb-pktread printed, once it has read all it was asked for."""
        code = reader.wait()
        assert code == 0, f"pbb-pktread ended with {code}\n{self.describe(reader)}"
        lines = [json.loads(l) for l in reader.output().splitlines() if l.strip()]
        return [l for l in lines if "ready" not in l]

    # Clean-up and diagnosis.

    def on_cleanup(self, fn):
        """Runs fn at clean-up (last registered first), also when the test failed."""
        self.cleanups.append(fn)

    def log(self):
        try:
            with open(self.log_file, errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def describe(self, *procs):
        parts = []
        for p in procs or self.processes:
            parts.append(f"--- {p.name} ({' '.join(p.args)}), "
                         f"{'running' if p.running() else 'exit ' + str(p.proc.returncode)}\n"
                         f"stdout:\n{p.output()}stderr:\n{p.errors()}")
        parts.append(f"--- log {self.log_file}:\n{self.log()}")
        return "\n".join(parts)

    def cleanup(self):
        errors = []
        for p in reversed(self.processes):
            p.stop()
        for fn in reversed(self.cleanups):
            try:
                fn()
            except Exception as e:  # every clean-up runs; the first failure is reported
                errors.append(e)
        shutil.rmtree(self.dir, ignore_errors=True)
        if errors:
            raise errors[0]


SNAPSHOT_END = 103  # pbb-sim's last message of a daemon's introduction


def raw_daemon(system):
    """A connection to the daemons' socket, past the introduction and
    snapshot: pbb-sim serves it as its daemon."""
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(DEADLINE)
    s.connect(os.path.join(system.run_dir, "sim.sock"))
    buf = b""
    while True:
        while len(buf) >= 8:
            length, kind, _ = struct.unpack_from("<IHH", buf)
            if len(buf) < 8 + length:
                break
            buf = buf[8 + length:]
            if kind == SNAPSHOT_END:
                return s
        chunk = s.recv(65536)
        assert chunk, "pbb-sim closed the connection during the introduction"
        buf += chunk
