"""The interface manager's and the VLAN service's event channels closed
under the daemon (the service away for a while, or pbb-sim killed and
started again): pbbctl status shows them closed, the daemon opens them
again once the service is back, and it follows the switch's changes (and,
after pbb-sim's restart, its line cards' ageing reports) from then on."""

import signal

import pytest

import harness

CHANNELS = ("interface_events", "vlan_events")
TAGS = {"interface_events": "PBB_IFEVENT", "vlan_events": "PBB_VLANEVENT"}
# A change that takes eth-2/0/1 out of vsi-red, through each channel.
OUT = {"interface_events": ["link", "down", "eth-2/0/1"], "vlan_events": ["vlan", "del", "eth-2/0/1", "100"]}


def state(system, channel):
    return system.ctl("status").get(channel)


def mc_ports(system):
    mc = system.ctl("show", "mc", "vsi-red")["multicast"]
    return sorted(mc[0]["portNames"]) if mc else []


@pytest.mark.parametrize("outage", ["ifm", "vlan", "pbb-sim"])
def test_a_channel_closed_under_the_daemon_is_opened_again_and_followed(system, outage):
    system.start_sim()
    system.start_daemon()
    assert all(state(system, ch) == "open" for ch in CHANNELS)
    system.pbb_vsi("vsi-red", 100, ["eth-1/0/1", "eth-2/0/1"])

    if outage == "pbb-sim":
        system.sim.stop(signal.SIGKILL)
        harness.wait_until("both channels closed", lambda: all(state(system, ch) == "closed" for ch in CHANNELS))
        system.start_sim()
        harness.wait_until("vsi-red programmed again",
                           lambda: system.simctl("show", "multicast", json=True)["multicast"])
        changed = CHANNELS
    else:
        channel = "interface_events" if outage == "ifm" else "vlan_events"
        system.simctl("service", "down", outage)
        harness.wait_until(f"{channel} closed", lambda: state(system, channel) == "closed")
        system.simctl("service", "up", outage)
        changed = (channel,)
    harness.wait_until("both channels open", lambda: all(state(system, ch) == "open" for ch in CHANNELS))

    for channel in changed:
        harness.wait_until(f"{channel}'s warning and notice logged",
                           lambda: all(f"{TAGS[channel]}_{kind}" in system.log() for kind in ("WARNING", "NOTICE")))
        assert mc_ports(system) == ["eth-1/0/1", "eth-2/0/1"]
        system.simctl(*OUT[channel])
        harness.wait_until(f"eth-2/0/1 out of vsi-red through {channel}", lambda: mc_ports(system) == ["eth-1/0/1"])
        back = ["link", "up", "eth-2/0/1"] if channel == "interface_events" else ["vlan", "add", "eth-2/0/1", "100"]
        system.simctl(*back)
        harness.wait_until(f"eth-2/0/1 back through {channel}",
                           lambda: mc_ports(system) == ["eth-1/0/1", "eth-2/0/1"])

    if outage == "pbb-sim":
        # Ageing reports are read again: an entry aged on every slot goes.
        mac = "00:bb:00:00:00:09"
        system.simctl("frame", "burst", "eth-1/0/1", 1, "--isid", 10010, "--bvlan", 100, "--bsa", mac)
        harness.wait_until("the entry learned", lambda: mac in {e["bmac"] for e in system.learned("vsi-red")})
        for slot in [s["slot"] for s in system.simctl("show", "slots", json=True)["slots"] if s["minm"] and s["present"]]:
            system.simctl("report", "aged", slot, "vsi-red", 10010, f"{mac}/100")
        harness.wait_until("the aged entry withdrawn", lambda: mac not in {e["bmac"] for e in system.learned("vsi-red")})

