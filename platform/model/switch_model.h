// The simulated switch: slots, interfaces and aggregates with their link,
// VLAN and spanning-tree state, the L2VPN module's VSIs, the forwarding
// plane's MAC-in-MAC state, and the events, frames and line-card reports
// that changes produce.
//
// The model is state and rules only. It answers the platform calls through
// SwitchServices and sends what it produces to an EventSink; it does not
// know how calls reach it. Tests and the simulator change it through the
// operations below, which check their arguments and throw
// std::invalid_argument on a misuse (an unknown slot, a duplicate name);
// the SwitchServices side never throws and answers with result codes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/model/bridge_config.h"
#include "platform/model/fib.h"
#include "platform/model/line_report.h"
#include "platform/model/pbb_frame.h"
#include "platform/model/program_log.h"
#include "platform/model/services.h"

namespace sim {

struct SlotOpts {
    bool present = true;
    bool normal = true;
    bool minm = false;
};

struct PortOpts {
    uint32_t type = IF_TYPE_GE;
    uint32_t ifIndex = 0;             // 0: the next free index
    bool linkUp = true;               // link state once the port is present
};

class SwitchModel final : public SwitchServices {
public:
    SwitchModel() = default;
    SwitchModel(const SwitchModel&) = delete;
    SwitchModel& operator=(const SwitchModel&) = delete;

    void setSink(EventSink* sink) { sink_ = sink; }

    // Slots. A slot's ports are temporary while its board is out.
    void setSlotRange(uint16_t min, uint16_t max);
    void addSlot(uint16_t slot, SlotOpts opts = {});
    // Board in: slot-insert event, then its ports become present and active
    // (one event listing them).
    void insertBoard(uint16_t slot);
    // Board out: its active ports go down and inactive, parked (one event
    // each listing them), then the slot-remove event.
    void removeBoard(uint16_t slot);
    void setSlotNormal(uint16_t slot, bool normal);

    // Interfaces. Indexes are given in creation order from 1 unless chosen.
    uint32_t addPort(const std::string& name, uint16_t slot, PortOpts opts = {});
    uint32_t addAggregate(const std::string& name, uint32_t ifIndex = 0);
    // A port joins an aggregate (leaving another one first).
    void joinAggregate(uint32_t aggIfIndex, uint32_t portIfIndex);
    void leaveAggregate(uint32_t portIfIndex);
    void setLink(uint32_t portIfIndex, bool up);
    // The link goes down first; dataWord IF_INACTIVE_PARK parks the
    // configuration, anything else discards it.
    void deactivate(uint32_t ifIndex, uint32_t dataWord = IF_INACTIVE_PARK);
    void activate(uint32_t ifIndex);
    // Members leave, the interface goes inactive (discarding), then it is
    // deleted.
    void deleteInterface(uint32_t ifIndex);

    // VLAN membership: changes produce a deleted event for the VLANs lost,
    // then an added event for those gained (one VLAN, or a set).
    void setMaxVlanId(uint16_t maxVlanId);
    void setAccess(uint32_t ifIndex, uint16_t pvid);
    void setVlans(uint32_t ifIndex, const std::set<uint16_t>& vlans);
    void setStpState(uint32_t ifIndex, uint16_t vlan, uint16_t state);
    // nullopt: all VLANs / all interfaces.
    void topologyChange(std::optional<std::vector<uint16_t>> vlans, std::optional<std::vector<uint32_t>> ifIndexes);

    // L2VPN module. Adding an existing index re-announces it.
    void setMaxVsiNum(uint32_t count);
    void setFibSpec(const FibSpec& spec) { spec_ = spec; }
    void addVsi(uint32_t index, const std::string& name, uint32_t isid, bool down = false);
    void setVsiIsid(uint32_t index, uint32_t isid);
    void setVsiDown(uint32_t index, bool down);
    // The VSI and its forwarding state go; the module acknowledges nothing.
    void deleteVsi(uint32_t index);
    // Every VSI and its forwarding state go; one disable event.
    void disableL2vpn();
    const Vsi* findVsi(uint32_t index) const;

    // Everything the switch holds, in ascending order of its key, for
    // listings and for copying the queryable state elsewhere.
    const std::map<uint16_t, Slot>& slots() const { return slots_; }
    const std::map<uint32_t, Interface>& interfaces() const { return ifs_; }
    const std::map<uint32_t, Vsi>& vsis() const { return vsis_; }

    // Forwarding state.
    const Fib& fib() const { return fib_; }
    const UcEntry* unicast(uint32_t vsi, const Mac& bmac) const;   // committed
    const McEntry* multicast(uint32_t vsi) const;                  // committed
    bool pbbMode(uint32_t ifIndex) const { return fib_.pbbPort(ifIndex); }
    uint32_t encapType(uint32_t vsi) const { return fib_.encap(vsi); }
    // The programming calls served, with their records and results.
    const ProgramLog& programCalls() const { return calls_; }

    // The switch as a backbone edge bridge (pbb-sim's data plane).
    BridgeConfig& bridge() { return bridge_; }
    const BridgeConfig& bridge() const { return bridge_; }

    // Services.
    void setServiceUp(Service service, bool up);
    const std::vector<Ack>& acks() const { return acks_; }

    // A frame arriving on a port. It is copied to the CPU when the port is
    // present, active, up and in PBB mode and the frame is a well-formed
    // I-tagged frame; the copy carries the aggregate's ifIndex for a member
    // port. Returns whether it was copied.
    bool receiveFrame(uint32_t portIfIndex, std::span<const uint8_t> frame);
    bool receiveFrame(uint32_t portIfIndex, const PbbFrame& frame);
    // A packet-socket datagram ([PKT_SOCKADDR_S][PKT_CTRL_S][data]) handed
    // to the packet sockets as it is, whatever it holds, so that malformed
    // deliveries can be made. False while the packet service is down.
    bool deliverDatagram(const std::vector<uint8_t>& datagram);
    // One report message from the line cards.
    void sendReport(const std::vector<ReportTlv>& tlvs);

    // SwitchServices.
    const Interface* findIf(uint32_t ifIndex) const override;
    uint32_t ifIndexByName(std::string_view name) const override;
    uint16_t maxVlanId() const override { return maxVlanId_; }
    SlotRange slotRange() const override { return range_; }
    const Slot* findSlot(uint16_t slot) const override;
    uint32_t maxVsiNum() const override { return maxVsiNum_; }
    uint32_t vsiCount() const override { return static_cast<uint32_t>(vsis_.size()); }
    const Vsi* findVsiByName(std::string_view name) const override;
    FibSpec fibSpec() const override { return spec_; }
    uint32_t program(const MinMRequest& req) override;
    uint32_t flush() override;
    uint32_t setPbbMode(uint32_t ifIndex, uint32_t mode) override;
    uint32_t setVsiAttr(uint32_t vsiIndex, uint32_t attr, uint32_t value) override;
    uint32_t refreshWindow(uint32_t client, uint32_t phase) override;
    uint32_t requestBatch(uint32_t selector) override;
    bool serviceUp(Service service) const override;
    uint32_t subscribe(const Subscription& sub) override;
    uint32_t unsubscribe(uint32_t handle, uint32_t mask) override;
    void acknowledge(const Ack& ack) override { acks_.push_back(ack); }

private:
    Interface& iface(uint32_t ifIndex);
    Slot& slotRef(uint16_t slot);
    Vsi& vsiRef(uint32_t index);
    void emit(Event ev);
    // One interface or link event listing the interfaces.
    void emitList(EventKind kind, uint32_t code, const std::vector<uint32_t>& ifIndexes, uint32_t data = 0);
    void emitVsi(uint32_t type, const Vsi& vsi);
    void emitVlanChange(uint32_t ifIndex, const std::set<uint16_t>& before, const std::set<uint16_t>& after);
    void updateAggregateLink(uint32_t aggIfIndex);
    // Links go down (one event), then the interfaces go inactive (one event).
    void takeDown(const std::vector<uint32_t>& ifIndexes, uint32_t dataWord);
    const Subscription* l2vpnClient() const;
    uint32_t programEntry(const MinMRequest& req);
    uint32_t applyPbbMode(uint32_t ifIndex, uint32_t mode);
    uint32_t logged(std::string_view call, uint32_t result, std::initializer_list<uint32_t> args);
    uint32_t checkPorts(const std::vector<uint32_t>& ports) const;

    EventSink* sink_ = nullptr;
    SlotRange range_;
    std::map<uint16_t, Slot> slots_;
    std::map<uint32_t, Interface> ifs_;
    // The interface found last: learning asks for a frame's port several
    // times (its state, its name, the entry's port). A node of ifs_ stays
    // where it is until erased, and deleteInterface forgets it first (the
    // model is neither copied nor moved).
    struct LastIf {
        uint32_t ifIndex = 0;
        const Interface* ifc = nullptr;
    };
    mutable LastIf lastIf_;
    uint32_t nextIfIndex_ = 1;
    uint16_t maxVlanId_ = 4094;
    uint32_t maxVsiNum_ = 1024;
    std::map<uint32_t, Vsi> vsis_;
    FibSpec spec_;
    Fib fib_;
    ProgramLog calls_;
    std::set<Service> down_;
    std::map<uint32_t, Subscription> subs_;
    uint32_t nextHandle_ = 1;
    uint32_t nextContext_ = 1;
    std::vector<Ack> acks_;
    BridgeConfig bridge_;
};

}  // namespace sim
