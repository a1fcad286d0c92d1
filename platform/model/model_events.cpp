// Registrations, service availability and event emission.
#include <algorithm>

#include "platform/model/switch_model.h"
#include "platform/result.h"

namespace sim {

namespace {

bool wants(const Subscription& sub, const Event& ev)
{
    switch (ev.kind) {
    case EventKind::Interface:
    case EventKind::Link:
    case EventKind::Slot: return (ev.code & sub.mask) == ev.code;
    case EventKind::Vlan: return ev.code >= 1 && ev.code <= 32 && (sub.mask >> (ev.code - 1) & 1) != 0;
    case EventKind::L2vpn: return ev.code >= 32 || (sub.mask >> ev.code & 1) != 0;
    case EventKind::Tc: return true;
    }
    return false;
}

// The interface events of a selection keep only the interfaces of its types.
Event selectTypes(const Subscription& sub, const Event& ev)
{
    if (ev.kind != EventKind::Interface || sub.types.empty()) return ev;
    Event out = ev;
    out.items.clear();
    out.infos.clear();
    for (size_t i = 0; i < ev.items.size(); ++i) {
        if (std::find(sub.types.begin(), sub.types.end(), ev.infos[i]) == sub.types.end()) continue;
        out.items.push_back(ev.items[i]);
        out.infos.push_back(ev.infos[i]);
    }
    return out;
}

bool isList(EventKind kind)
{
    return kind == EventKind::Interface || kind == EventKind::Link || kind == EventKind::Slot;
}

}  // namespace

void SwitchModel::emit(Event ev)
{
    if (sink_ == nullptr) return;
    for (const auto& [handle, sub] : subs_) {
        if (sub.kind != ev.kind || !wants(sub, ev)) continue;
        Event mine = selectTypes(sub, ev);
        if (isList(mine.kind) && mine.items.empty()) continue;
        size_t batch = isList(mine.kind) && sub.batch != 0 ? sub.batch : std::max<size_t>(mine.items.size(), 1);
        size_t from = 0;
        do {
            Event part = mine;
            if (isList(mine.kind)) {
                size_t to = std::min(mine.items.size(), from + batch);
                part.items.assign(mine.items.begin() + static_cast<std::ptrdiff_t>(from),
                                  mine.items.begin() + static_cast<std::ptrdiff_t>(to));
                if (!mine.infos.empty())
                    part.infos.assign(mine.infos.begin() + static_cast<std::ptrdiff_t>(from),
                                      mine.infos.begin() + static_cast<std::ptrdiff_t>(to));
                from = to;
            }
            part.handle = handle;
            part.context = nextContext_++;
            sink_->deliver(part);
        } while (isList(mine.kind) && from < mine.items.size());
    }
}

void SwitchModel::emitList(EventKind kind, uint32_t code, const std::vector<uint32_t>& ifIndexes, uint32_t data)
{
    if (ifIndexes.empty()) return;
    Event ev{.kind = kind, .code = code, .items = ifIndexes, .data = data};
    for (uint32_t i : ifIndexes) ev.infos.push_back(iface(i).type);
    emit(std::move(ev));
}

void SwitchModel::emitVsi(uint32_t type, const Vsi& v)
{
    emit(Event{.kind = EventKind::L2vpn,
               .code = type,
               .vsi = VsiRecord{v.index, v.down ? L2VPN_VSI_FLAG_DOWN : 0u, v.isid, v.name}});
}

bool SwitchModel::serviceUp(Service service) const { return down_.count(service) == 0; }

void SwitchModel::setServiceUp(Service service, bool up)
{
    if (up) {
        down_.erase(service);
        return;
    }
    if (!down_.insert(service).second) return;
    std::erase_if(subs_, [service](const auto& kv) { return serviceOf(kv.second.kind) == service; });
    if (sink_ != nullptr) sink_->serviceDown(service);
}

uint32_t SwitchModel::subscribe(const Subscription& sub)
{
    if (!serviceUp(serviceOf(sub.kind))) return 0;
    if (isList(sub.kind)) {
        uint32_t cls = sub.kind == EventKind::Interface ? 0x20000000u : sub.kind == EventKind::Link ? 0x40000000u : 0x60000000u;
        if ((sub.mask & IF_EVT_CLASS_MASK) != cls || (sub.mask & ~IF_EVT_CLASS_MASK) == 0) return 0;
    }
    if (sub.kind == EventKind::L2vpn && l2vpnClient() != nullptr) return 0;
    uint32_t handle = nextHandle_++;
    subs_[handle] = sub;
    return handle;
}

uint32_t SwitchModel::unsubscribe(uint32_t handle, uint32_t mask)
{
    auto it = subs_.find(handle);
    if (it == subs_.end()) return PLAT_ERR_NOT_FOUND;
    if (it->second.mask != mask) return PLAT_ERR_PARAM;
    subs_.erase(it);
    return PLAT_OK;
}

}  // namespace sim
