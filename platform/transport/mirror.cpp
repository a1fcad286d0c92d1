#include "platform/transport/mirror.h"

namespace plat::transport {

using wire::Msg;

bool Mirror::apply(Msg type, std::span<const uint8_t> payload)
{
    wire::Reader r(payload);
    switch (type) {
    case Msg::Scalars: scalars_ = wire::getScalars(r); break;
    case Msg::PutSlot: {
        sim::Slot s = wire::getSlot(r);
        slots_[s.number] = s;
        break;
    }
    case Msg::DelSlot: slots_.erase(r.u16()); break;
    case Msg::PutIf: {
        sim::Interface i = wire::getInterface(r);
        auto old = ifs_.find(i.ifIndex);
        if (old != ifs_.end()) forgetName(old->second);
        ifNames_[i.name] = i.ifIndex;
        ifs_[i.ifIndex] = std::move(i);
        break;
    }
    case Msg::DelIf: {
        auto it = ifs_.find(r.u32());
        if (it != ifs_.end()) {
            forgetName(it->second);
            ifs_.erase(it);
        }
        break;
    }
    case Msg::PutVsi: {
        sim::Vsi v = wire::getVsi(r);
        vsis_[v.index] = std::move(v);
        break;
    }
    case Msg::DelVsi: vsis_.erase(r.u32()); break;
    case Msg::Services: down_ = r.u32() & kAllServices; break;
    default: return false;
    }
    r.end();
    return true;
}

// A name moves to another interface only with the simulator's deletion of
// the first; until then the name keeps pointing where it was put last.
void Mirror::forgetName(const sim::Interface& i)
{
    auto it = ifNames_.find(i.name);
    if (it != ifNames_.end() && it->second == i.ifIndex) ifNames_.erase(it);
}

void Mirror::clear()
{
    scalars_ = wire::Scalars{};
    slots_.clear();
    ifs_.clear();
    ifNames_.clear();
    vsis_.clear();
    down_ = kAllServices;
}

const sim::Interface* Mirror::findIf(uint32_t ifIndex) const
{
    auto it = ifs_.find(ifIndex);
    return it == ifs_.end() ? nullptr : &it->second;
}

uint32_t Mirror::ifIndexByName(std::string_view name) const
{
    auto it = ifNames_.find(name);
    return it == ifNames_.end() ? 0 : it->second;
}

const sim::Slot* Mirror::findSlot(uint16_t slot) const
{
    auto it = slots_.find(slot);
    return it == slots_.end() ? nullptr : &it->second;
}

const sim::Vsi* Mirror::findVsiByName(std::string_view name) const
{
    for (const auto& [index, v] : vsis_)
        if (v.name == name) return &v;
    return nullptr;
}

}  // namespace plat::transport
