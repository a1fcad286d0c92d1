"""Another local user can neither use the management service nor read the
daemon's stores: the run and state directories are 0750, the sockets 0660
and the stores 0600, owned by the daemon's user and group."""

import glob
import os
import shutil
import subprocess
import tempfile

import harness
import pytest

pytestmark = pytest.mark.skipif(os.geteuid() != 0, reason="running as another user needs root")

NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]


def as_nobody(system, *args):
    return subprocess.run(NOBODY + [str(a) for a in args], env=system.env, capture_output=True, text=True,
                          timeout=harness.DEADLINE)


def test_another_user_cannot_connect_to_the_daemon_or_read_its_stores(system):
    system.start_sim()
    system.start_daemon()
    system.pbb_vsi("vsi-red", 100, ["eth-1/0/1"])
    assert system.ctl("show", "mc", "vsi-red")["multicast"], "the daemon's own user is served"

    # pbbctl, copied where nobody may run it, cannot even see that a daemon
    # runs, let alone ask it.
    bindir = tempfile.mkdtemp(prefix="pbb-access.")
    system.on_cleanup(lambda: shutil.rmtree(bindir, ignore_errors=True))
    os.chmod(bindir, 0o755)
    pbbctl = shutil.copy(harness.binary("pbbctl"), bindir)
    assert as_nobody(system, pbbctl, "--help").returncode == 0, "nobody can run the copy"
    r = as_nobody(system, pbbctl, "show", "mc", "--json")
    assert r.returncode == 3 and "Permission denied" in r.stderr, r

    stores = glob.glob(os.path.join(system.state_dir, "dbm", "*", "*.db"))
    assert len(stores) >= 2, stores
    # Their modes alone keep another user out.
    for path in stores:
        assert os.stat(path).st_mode & 0o077 == 0, f"{path} is open to others"
    for d in (system.run_dir, system.state_dir):
        assert os.stat(d).st_mode & 0o007 == 0, f"{d} is open to others"
    # The management socket itself: no access for others even if the
    # directory were opened up.
    assert os.stat(os.path.join(system.run_dir, "lipc.1169")).st_mode & 0o007 == 0
