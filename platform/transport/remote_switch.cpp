#include "platform/transport/remote_switch.h"

#include "platform/result.h"

namespace plat::transport {

using wire::Msg;

uint32_t RemoteSwitch::command(Msg type, const wire::Writer& body)
{
    return link_.call(type, body).value_or(PLAT_ERR_UNAVAILABLE);
}

uint32_t RemoteSwitch::program(const sim::MinMRequest& req)
{
    if (!link_.connected()) return PLAT_ERR_UNAVAILABLE;
    uint32_t rc = link_.shadow().program(req, link_.mirror());
    link_.stage(req, rc);
    return rc;
}

uint32_t RemoteSwitch::flush()
{
    if (!link_.connected()) return PLAT_ERR_UNAVAILABLE;
    uint32_t rc = link_.shadow().flush();
    return link_.commit(rc) ? rc : PLAT_ERR_UNAVAILABLE;
}

uint32_t RemoteSwitch::setPbbMode(uint32_t ifIndex, uint32_t mode)
{
    wire::Writer w;
    w.u32(ifIndex).u32(mode);
    uint32_t rc = command(Msg::SetPbbMode, w);
    if (rc == PLAT_OK) link_.shadow().portOrVsiSet();
    return rc;
}

uint32_t RemoteSwitch::setVsiAttr(uint32_t vsiIndex, uint32_t attr, uint32_t value)
{
    wire::Writer w;
    w.u32(vsiIndex).u32(attr).u32(value);
    uint32_t rc = command(Msg::SetVsiAttr, w);
    if (rc == PLAT_OK) link_.shadow().portOrVsiSet();
    return rc;
}

uint32_t RemoteSwitch::refreshWindow(uint32_t client, uint32_t phase)
{
    wire::Writer w;
    w.u32(client).u32(phase);
    uint32_t rc = command(Msg::RefreshWindow, w);
    if (rc == PLAT_OK) link_.shadow().window(phase);
    return rc;
}

uint32_t RemoteSwitch::requestBatch(uint32_t selector)
{
    wire::Writer w;
    w.u32(selector);
    return command(Msg::RequestBatch, w);
}

bool RemoteSwitch::serviceUp(sim::Service service) const
{
    link_.poll();
    return link_.ensure() && link_.mirror().serviceUp(service);
}

uint32_t RemoteSwitch::subscribe(const sim::Subscription& sub)
{
    if (!link_.ensure()) return 0;
    wire::Writer w;
    wire::put(w, sub);
    uint32_t handle = link_.call(Msg::Subscribe, w).value_or(0);
    if (handle != 0 && sub.kind == sim::EventKind::L2vpn) link_.shadow().registered(sub.client);
    return handle;
}

uint32_t RemoteSwitch::unsubscribe(uint32_t handle, uint32_t mask)
{
    wire::Writer w;
    w.u32(handle).u32(mask);
    // Without the switch the registration is gone with the connection.
    return link_.call(Msg::Unsubscribe, w).value_or(PLAT_ERR_NOT_FOUND);
}

void RemoteSwitch::acknowledge(const sim::Ack& ack)
{
    wire::Writer w;
    wire::put(w, ack);
    (void)link_.call(Msg::Acknowledge, w);
}

}  // namespace plat::transport
