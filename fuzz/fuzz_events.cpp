// Event records from the switch's services: the input is a run of event
// packets, each [2-byte length, big-endian][packet] as an event descriptor
// carries them from the simulated switch (interface, link, slot, VLAN,
// L2VPN and topology-change events, whatever their codes, lists, VLAN sets
// and VSI records say). A packet that decodes is delivered under the
// daemon's own registration of its kind and served through the daemon's
// loop; afterwards the tables hold together. (Events that did not happen
// on the switch can leave the driver and the tables apart: only the
// daemon's own consistency is asserted.)
#include "fuzz/fuzz_daemon.h"
#include "platform/model/backend.h"
#include "platform/transport/wire.h"

#include <span>

namespace {

// The daemon's registration for events of this kind (0: none).
uint32_t handleOf(sim::EventKind kind)
{
    auto& regs = plat::backend().regs();
    switch (kind) {
    case sim::EventKind::Vlan: return regs.vlanHandle;
    case sim::EventKind::L2vpn: return regs.l2vpnHandle;
    case sim::EventKind::Tc: return regs.tcHandle;
    default:
        for (const auto& [handle, reg] : regs.ifm)
            if (reg.kind == kind) return handle;
        return 0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    (void)fuzzd::start();
    size_t pos = 0;
    for (int n = 0; n < 32 && pos + 2 <= size; ++n) {
        size_t len = std::min<size_t>((size_t{data[pos]} << 8) | data[pos + 1], size - pos - 2);
        std::span<const uint8_t> packet(data + pos + 2, len);
        pos += 2 + len;
        sim::Event ev;
        try {
            ev = plat::wire::decodeEvent(packet);
        } catch (const plat::wire::WireError&) {
            continue;  // the library drops what it cannot decode
        }
        ev.handle = handleOf(ev.kind);
        plat::backend().deliver(ev);
        fuzzd::serve();
    }
    fuzzd::checkTables();
    fuzzd::stop();
    return 0;
}
