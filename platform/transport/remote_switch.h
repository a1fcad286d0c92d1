// The simulated switch as the platform calls see it from a daemon's
// process: queries answered from the library's copy of the switch's state,
// forwarding records answered from the copy of its working tables and sent
// without waiting (flushes too), other commands and registrations sent as
// requests.
#pragma once

#include "platform/model/services.h"
#include "platform/transport/link.h"

namespace plat::transport {

class RemoteSwitch final : public sim::SwitchServices {
public:
    explicit RemoteSwitch(Link& link) : link_(link) {}

    const sim::Interface* findIf(uint32_t ifIndex) const override { return link_.mirror().findIf(ifIndex); }
    uint32_t ifIndexByName(std::string_view name) const override { return link_.mirror().ifIndexByName(name); }
    uint16_t maxVlanId() const override { return link_.mirror().scalars().maxVlanId; }
    sim::SlotRange slotRange() const override { return link_.mirror().scalars().slotRange; }
    const sim::Slot* findSlot(uint16_t slot) const override { return link_.mirror().findSlot(slot); }
    uint32_t maxVsiNum() const override { return link_.mirror().scalars().maxVsiNum; }
    uint32_t vsiCount() const override { return link_.mirror().vsiCount(); }
    const sim::Vsi* findVsiByName(std::string_view name) const override { return link_.mirror().findVsiByName(name); }
    sim::FibSpec fibSpec() const override { return link_.mirror().scalars().fibSpec; }

    uint32_t program(const sim::MinMRequest& req) override;
    uint32_t flush() override;
    uint32_t setPbbMode(uint32_t ifIndex, uint32_t mode) override;
    uint32_t setVsiAttr(uint32_t vsiIndex, uint32_t attr, uint32_t value) override;
    uint32_t refreshWindow(uint32_t client, uint32_t phase) override;
    uint32_t requestBatch(uint32_t selector) override;

    // Asking whether a service is there (re)connects when needed.
    bool serviceUp(sim::Service service) const override;
    uint32_t subscribe(const sim::Subscription& sub) override;
    uint32_t unsubscribe(uint32_t handle, uint32_t mask) override;
    void acknowledge(const sim::Ack& ack) override;

private:
    uint32_t command(wire::Msg type, const wire::Writer& body);

    Link& link_;
};

}  // namespace plat::transport
