"""The Debian package as an operator meets it: built by CPack from the build
tree, checked (control data, contents, lintian), installed with dpkg; both
programs run (under systemd where it runs, else from their installed paths
as the units start them); a member of the group uses pbbctl without root,
another user cannot; a purge leaves nothing but the group (docs/packaging.md)."""

import grp
import os
import pwd
import shutil
import signal
import subprocess
import tempfile

import pytest

import harness
import test_install

MEMBER, OTHER = "pbbt-member", "pbbt-other"
# As 'cmake --install --prefix /usr' installs them, manual pages and changelog compressed.
FILES = {"usr/" + f + (".gz" if "/man/" in f or f.endswith("changelog") else "") for f in test_install.INSTALLED}
PROGRAMS = {"usr/" + f for f in test_install.INSTALLED if "bin/" in f}
SYSTEMD = os.path.isdir("/run/systemd/system")

pytestmark = [pytest.mark.skipif(os.geteuid() != 0, reason="installing a package, a group and users needs root"),
              pytest.mark.skipif(os.environ.get("PBB_SANITIZED") == "1", reason="packaged from the normal build")]


def run(*args, check=True, **kw):
    r = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=120, **kw)
    assert not check or r.returncode == 0, r
    return r


def installed():
    return "installed" in run("dpkg-query", "-W", "-f=${Status}", "pbbd", check=False).stdout.split()


def has_group():
    return "pbb" in {g.gr_name for g in grp.getgrall()}


@pytest.fixture
def lab():
    """A temporary directory and the processes started; afterwards whatever
    the test made is undone: processes, package, users, group, state."""
    if installed() or any(os.path.exists(d) for d in ("/run/pbb", "/var/lib/pbb")):
        pytest.skip("pbbd is installed, or its directories exist: not touching them")
    had_group, procs, d = has_group(), [], tempfile.mkdtemp(prefix="pbb-package.")
    try:
        yield d, procs
    finally:
        for p in procs:  # under systemd the purge's prerm stops the units
            p.kill()
            p.wait()
        run("dpkg", "--purge", "pbbd", check=False)
        for user in (MEMBER, OTHER):
            run("userdel", user, check=False)
        if not had_group and has_group():
            run("groupdel", "pbb")
        for path in ("/run/pbb", "/var/lib/pbb", d):
            shutil.rmtree(path, ignore_errors=True)


def start_as_the_unit_does(d, unit, ready):
    """Runs the unit's ExecStart with its Environment and Group; waits for ready(output)."""
    with open(f"/usr/lib/systemd/system/{unit}") as f:
        s = dict(line.strip().split("=", 1) for line in f if "=" in line and not line.startswith("#"))
    env = dict(kv.split("=", 1) for kv in s["Environment"].split())
    out = open(os.path.join(d, unit), "w+")
    p = subprocess.Popen(["setpriv", f"--regid={grp.getgrnam(s['Group']).gr_gid}", "--clear-groups", s["ExecStart"]],
                         env=env, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    harness.wait_until(unit, lambda: p.poll() is not None or ready(open(out.name).read()))
    assert p.poll() is None, open(out.name).read()
    return p


def pbbctl(*args, user=None):
    ids = pwd.getpwnam(user) if user else None
    who = ["setpriv", f"--reuid={ids.pw_uid}", f"--regid={ids.pw_gid}", "--init-groups"] if user else []
    return run(*who, "/usr/bin/pbbctl", "--json", *args, check=False, env={"PATH": "/usr/bin:/bin"})


def test_package_builds_installs_serves_its_group_and_purges(lab):
    d, procs = lab
    cpack = os.path.join(os.path.dirname(os.environ.get("PBB_CMAKE") or shutil.which("cmake")), "cpack")
    run(cpack, "-G", "DEB", "--config", os.path.join(harness.build_dir(), "CPackConfig.cmake"), "-B", d)
    deb = os.path.join(d, next(f for f in os.listdir(d) if f.endswith(".deb")))

    info = run("dpkg-deb", "--info", deb).stdout
    assert " Package: pbbd\n" in info and "802.1ah" in info and " postinst " in info, info
    assert all(lib in info for lib in ("libc6 (", "libstdc++6 (", "libsqlite3-0 (", "adduser")), info
    rows = [line.split(None, 5) for line in run("dpkg-deb", "--contents", deb).stdout.splitlines()]
    files = {row[5][2:]: (row[0], row[1]) for row in rows if not row[0].startswith("d")}
    assert files == {f: ("-rwxr-xr-x" if f in PROGRAMS else "-rw-r--r--", "root/root") for f in FILES}

    # lintian leaves a cache file in its temporary directory: the lab's.
    tags = run("lintian", "--tag-display-limit", "0", deb, check=False, env={**os.environ, "TMPDIR": d}).stdout
    print("lintian:", tags)
    assert "E: " not in tags, tags

    run("dpkg", "-i", deb)
    assert installed() and has_group() and all(os.path.exists("/" + f) for f in FILES)

    if SYSTEMD:
        run("systemctl", "start", "pbb-sim.service", "pbbd.service")
    else:
        procs.append(start_as_the_unit_does(d, "pbb-sim.service", lambda out: "pbb-sim ready" in out))
        procs.append(start_as_the_unit_does(d, "pbbd.service", lambda _: '"ready":true' in pbbctl("status").stdout))
    st = os.stat("/run/pbb")
    assert (st.st_gid, st.st_mode & 0o777) == (grp.getgrnam("pbb").gr_gid, 0o750)

    for user, groups in ((MEMBER, ["-G", "pbb"]), (OTHER, [])):
        run("useradd", "--system", "--no-create-home", *groups, user)
    status = pbbctl("status")
    assert '"ready":true' in status.stdout and pbbctl("status", user=MEMBER).stdout == status.stdout
    assert pbbctl("show", "mc", user=MEMBER).returncode == 0
    for words in (["status"], ["show", "mc"]):
        r = pbbctl(*words, user=OTHER)
        assert r.returncode == 3 and "Permission denied" in r.stderr, r

    if not SYSTEMD:  # else the prerm stops the units
        for p, sig in ((procs[1], signal.SIGRTMIN + 1), (procs[0], signal.SIGTERM)):  # the units' KillSignal
            p.send_signal(sig)
            assert p.wait(timeout=harness.DEADLINE) == 0
    run("dpkg", "--purge", "pbbd")
    assert not installed() and not [f for f in FILES if os.path.lexists("/" + f)]
    assert not os.path.exists("/var/lib/pbb") and has_group(), "the state goes, the group stays"
