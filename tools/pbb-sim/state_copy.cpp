#include "tools/pbb-sim/state_copy.h"

namespace pbbsim {

using plat::wire::Msg;
using plat::wire::Writer;

namespace {

template <class Key, class Record>
void compare(const std::map<Key, Record>& now, std::map<Key, std::vector<uint8_t>>& sent, Msg put, Msg del,
             std::vector<Message>& dels, std::vector<Message>& puts)
{
    for (auto it = sent.begin(); it != sent.end();) {
        if (now.count(it->first) != 0) {
            ++it;
            continue;
        }
        Writer w;
        if constexpr (sizeof(Key) == 2)
            w.u16(it->first);
        else
            w.u32(it->first);
        dels.emplace_back(del, w.take());
        it = sent.erase(it);
    }
    for (const auto& [key, record] : now) {
        Writer w;
        plat::wire::put(w, record);
        auto& last = sent[key];
        if (last == w.bytes()) continue;
        last = w.bytes();
        puts.emplace_back(put, w.take());
    }
}

}  // namespace

std::vector<Message> StateCopy::changes(const sim::SwitchModel& model)
{
    std::vector<Message> out;
    plat::wire::Scalars sc{model.slotRange(), model.maxVlanId(), model.maxVsiNum(), model.fibSpec()};
    Writer ws;
    plat::wire::put(ws, sc);
    if (!scalars_ || *scalars_ != ws.bytes()) {
        scalars_ = ws.bytes();
        out.emplace_back(Msg::Scalars, ws.take());
    }
    uint32_t down = 0;
    for (size_t s = 0; s < sim::kServiceCount; ++s)
        if (!model.serviceUp(static_cast<sim::Service>(s))) down |= 1u << s;
    if (!down_ || *down_ != down) {
        down_ = down;
        Writer w;
        w.u32(down);
        out.emplace_back(Msg::Services, w.take());
    }
    std::vector<Message> dels, puts;
    compare(model.vsis(), vsis_, Msg::PutVsi, Msg::DelVsi, dels, puts);
    compare(model.interfaces(), ifs_, Msg::PutIf, Msg::DelIf, dels, puts);
    compare(model.slots(), slots_, Msg::PutSlot, Msg::DelSlot, dels, puts);
    for (auto& m : dels) out.push_back(std::move(m));
    for (auto& m : puts) out.push_back(std::move(m));
    return out;
}

}  // namespace pbbsim
