"""The three-switch lab of scripts/lab.sh, built once and driven through its checks in order:
hosts of a VSI reach each other across the backbone core and hosts of two VSIs never do; first
frames flood, then go unicast; a backbone link down withdraws the entries behind it; pbbd killed
under traffic recovers; a VSI taken down stops only its own traffic; a silent remote bridge ages
out of pbbd through the line-card report."""

import hashlib
import json
import os
import subprocess
import sys
import tempfile

import pytest

from harness import binary, build_dir, wait_until

LAB = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "lab.sh")
BMAC = {n: f"02:00:00:b0:00:0{n}" for n in (1, 2, 3)}
VSI = {"r1": "red", "r2": "red", "r3": "red", "g1": "green", "g3": "green"}
IP = {"r1": "10.0.0.11", "r2": "10.0.0.12", "r3": "10.0.0.13", "g1": "10.0.0.21", "g3": "10.0.0.23"}
ENV = {}


def run(*args, check=True, timeout=120, env=None):
    r = subprocess.run(args, capture_output=True, text=True, timeout=timeout, env=env or ENV)
    assert not check or r.returncode == 0, f"{args}: exit {r.returncode}\n{r.stdout}\n{r.stderr}"
    return r


@pytest.fixture(scope="module")
def lab():
    if os.geteuid() != 0:
        pytest.skip("the lab needs root: network namespaces, veth pairs, a bridge")
    top = tempfile.mkdtemp(prefix="pbb-lab.")
    env = dict(PBB_LAB_DIR=f"{top}/lab", PBB_LAB_PREFIX=f"plt{os.getpid() % 100000}", PBB_BUILD_DIR=build_dir())
    ENV.update(os.environ, **env)  # read by lab.sh in every call below
    try:
        up = run(LAB, "up", check=False)
        assert up.returncode == 0, f"lab.sh up failed\n{up.stdout}\n{up.stderr}\n{logs(env['PBB_LAB_DIR'])}"
        yield env
    finally:
        run(LAB, "down")
        left = [ns for ns in run("ip", "netns", "list").stdout.split() if ns.startswith(env["PBB_LAB_PREFIX"] + "-")]
        assert not left and not os.path.exists(env["PBB_LAB_DIR"]), f"lab.sh down left {left}"
        os.rmdir(top)


def logs(lab_dir):
    return "".join(f"--- {d}/pbb.log\n" + open(f"{lab_dir}/{d}/pbb.log", errors="replace").read()[-3000:]
                   for d in ("sw1", "sw2", "sw3") if os.path.exists(f"{lab_dir}/{d}/pbb.log"))


def ctl(tool, sw, *words):
    """The tool's JSON, run straight against the switch's run directory, as lab.sh pbbctl|simctl SW does."""
    d = f"{ENV['PBB_LAB_DIR']}/sw{sw}"
    env = dict(ENV, PBB_RUN_DIR=f"{d}/run", PBB_STATE_DIR=f"{d}/state", PBB_PLATFORM="sim")
    return json.loads(run(binary("pbbctl" if tool == "pbbctl" else "pbb-simctl"), "--json", *words, env=env).stdout)


def learned(sw):
    """(VSI, B-MAC) of every entry the switch's pbbd learned: all of them on the one uplink."""
    entries = ctl("pbbctl", sw, "show", "learned", "--all")["learned"]
    assert {e["interface"] for e in entries} <= {"eth-1/0/1"}
    return {(e["vsi"], e["bmac"]) for e in entries}


def counters(sw, vsi="vsi-red"):
    got = next((v["counters"] for v in ctl("simctl", sw, "show", "dataplane")["vsis"] if v["name"] == vsi), {})
    return {k: got.get(k, 0) for k in ("received", "encapsulated", "decapsulated", "unicast", "flooded")}


def unicast(sw):
    """The switch's committed unicast entries (the C-MAC left out: entries programmed again carry none)."""
    return sorted((e["vsi"], e["bmac"], e["bvlan"], e["portName"]) for e in ctl("simctl", sw, "show", "unicast")["unicast"])


def ping(a, b, *opts):
    return run("ip", "netns", "exec", f"{ENV['PBB_LAB_PREFIX']}-{a}", "ping", "-n", "-q", *opts, IP[b],
               check=False).returncode == 0


def pinger(a, b, interval, *opts):
    return subprocess.Popen(["ip", "netns", "exec", f"{ENV['PBB_LAB_PREFIX']}-{a}", "ping", "-n", "-q",
                             "-i", interval, *opts, IP[b]], stdout=subprocess.DEVNULL)


def test_first_frames_flood_then_go_unicast(lab):
    assert learned(1) == learned(2) == set()
    assert ping("r1", "r2", "-c", "1", "-w", "5")
    wait_until("sw1 and sw2 learn each other",
               lambda: ("vsi-red", BMAC[2]) in learned(1) and ("vsi-red", BMAC[1]) in learned(2))
    # The flood went on the multicast pseudo-wire to every switch of vsi-red, sw3 too.
    before = {sw: counters(sw) for sw in (1, 2, 3)}
    assert before[1]["flooded"] >= 1 and before[3]["decapsulated"] >= 1
    assert ping("r1", "r2", "-c", "10", "-i", "0.05")
    after = {sw: counters(sw) for sw in (1, 2, 3)}
    delta = {sw: {k: after[sw][k] - before[sw][k] for k in after[sw]} for sw in after}
    for sw in (1, 2):
        assert delta[sw]["flooded"] == 0 and delta[sw]["encapsulated"] >= 10 and delta[sw]["decapsulated"] >= 10
    assert delta[3]["received"] == 0, "unicast between sw1 and sw2 reached sw3"


def test_vsis_reach_within_and_never_across_and_tcp_arrives_whole(lab):
    # lab.sh ping: every pair of one VSI reached, none of two, and its verdict and exit status say so.
    r = run(LAB, "ping", "--json", check=False)
    got = json.loads(r.stdout)
    wrong = [(p["from"], p["to"]) for p in got["pairs"] if p["reached"] != (VSI[p["from"]] == VSI[p["to"]])]
    assert (len(got["pairs"]), wrong, got["ok"], r.returncode) == (20, [], True, 0), r.stdout
    data = os.urandom(4 << 20)
    server = subprocess.Popen(
        ["ip", "netns", "exec", f"{lab['PBB_LAB_PREFIX']}-g3", sys.executable, "-c",
         "import hashlib,socket; s=socket.create_server(('10.0.0.23',5001)); s.settimeout(30); print(flush=True);"
         "c=s.accept()[0]; c.settimeout(30); h=hashlib.sha256()\n"
         "while b := c.recv(1 << 16): h.update(b)\nprint(h.hexdigest())"], stdout=subprocess.PIPE, text=True)
    try:
        server.stdout.readline()  # listening
        subprocess.run(["ip", "netns", "exec", f"{lab['PBB_LAB_PREFIX']}-g1", sys.executable, "-c",
                        "import socket,sys; s=socket.create_connection(('10.0.0.23',5001),timeout=30);"
                        "s.sendall(sys.stdin.buffer.read()); s.close()"], input=data, check=True, timeout=60)
        assert server.communicate(timeout=60)[0].strip() == hashlib.sha256(data).hexdigest()
    finally:
        server.kill()


def test_backbone_link_down_withdraws_and_link_up_resumes(lab):
    assert ("vsi-red", BMAC[1]) in learned(2)
    run(LAB, "simctl", "2", "link", "down", "eth-1/0/1")
    try:
        wait_until("sw2's entries withdrawn", lambda: learned(2) == set() and unicast(2) == [])
        assert not ping("r1", "r2", "-c", "1", "-w", "1") and ping("r1", "r3", "-c", "1", "-w", "5")
    finally:
        run(LAB, "simctl", "2", "link", "up", "eth-1/0/1")
    assert ping("r1", "r2", "-c", "1", "-w", "10")
    wait_until("sw2 learns sw1 again", lambda: ("vsi-red", BMAC[1]) in learned(2))


def test_daemon_killed_under_traffic_recovers(lab):
    traffic = pinger("r1", "r3", "0.05")
    try:
        wait_until("sw1 learns sw3", lambda: ("vsi-red", BMAC[3]) in learned(1))
        entries, programmed = learned(1), unicast(1)
        run(LAB, "kill-daemon", "1")
        # The switch keeps what pbbd programmed and forwards on it meanwhile.
        start = counters(1)["unicast"]
        wait_until("unicast traffic without pbbd", lambda: counters(1)["unicast"] > start + 10)
        run(LAB, "start-daemon", "1")
        assert learned(1) == entries and unicast(1) == programmed
        start = counters(1)
        wait_until("unicast traffic after the restart", lambda: counters(1)["unicast"] > start["unicast"] + 10)
        assert counters(1)["flooded"] == start["flooded"]
    finally:
        traffic.terminate()
        traffic.wait()


def test_vsi_down_stops_its_own_traffic_only(lab):
    red = {e for e in learned(3) if e[0] == "vsi-red"}
    assert red and ("vsi-green", BMAC[1]) in learned(3)
    run(LAB, "simctl", "3", "vsi", "down", "vsi-green")
    try:
        pairs = [("r1", "r3"), ("r3", "r2"), ("g1", "g3"), ("g3", "g1")]
        pings = [pinger(a, b, "0.2", "-c", "1", "-w", "2") for a, b in pairs]
        assert [p.wait() == 0 for p in pings] == [True, True, False, False]
        assert learned(3) == red
    finally:
        run(LAB, "simctl", "3", "vsi", "up", "vsi-green")
    wait_until("green back", lambda: ping("g1", "g3", "-c", "1", "-w", "5"))


def test_silent_remote_bridge_ages_out_through_the_report(lab):
    assert {("vsi-red", BMAC[2]), ("vsi-red", BMAC[3])} <= learned(1)
    traffic = pinger("r1", "r3", "0.2")
    since = ctl("simctl", 1, "show", "calls", "--max", "1")["last"]
    run(LAB, "simctl", "1", "bridge", "age", "2")
    try:
        wait_until("sw2, silent, aged out of sw1's pbbd", lambda: ("vsi-red", BMAC[2]) not in learned(1))
        # sw3, pinged all along, was never withdrawn (learning it again at once would hide that).
        calls = ctl("simctl", 1, "show", "calls", "--since", str(since))["calls"]
        withdrawn = {c["entry"]["bmac"] for c in calls if c["call"] == "L2VPN_DelMinMEntry" and c["entry"]["vsi"] == 1}
        assert BMAC[2] in withdrawn and BMAC[3] not in withdrawn
        assert ctl("simctl", 1, "show", "dataplane")["reports"]["aged"] >= 1
    finally:
        run(LAB, "simctl", "1", "bridge", "age", "300")
        traffic.terminate()
        traffic.wait()
