#include "platform/transport/wire.h"

#include <cstring>

namespace plat::wire {

const char* msgName(Msg m)
{
    switch (m) {
    case Msg::Subscribe: return "Subscribe";
    case Msg::Unsubscribe: return "Unsubscribe";
    case Msg::Acknowledge: return "Acknowledge";
    case Msg::SetPbbMode: return "SetPbbMode";
    case Msg::SetVsiAttr: return "SetVsiAttr";
    case Msg::RefreshWindow: return "RefreshWindow";
    case Msg::RequestBatch: return "RequestBatch";
    case Msg::OpenChannel: return "OpenChannel";
    case Msg::OpenPacket: return "OpenPacket";
    case Msg::PacketBind: return "PacketBind";
    case Msg::PacketRecvAll: return "PacketRecvAll";
    case Msg::Ping: return "Ping";
    case Msg::Records: return "Records";
    case Msg::RingBell: return "RingBell";
    case Msg::Hello: return "Hello";
    case Msg::Refused: return "Refused";
    case Msg::Reply: return "Reply";
    case Msg::SnapshotEnd: return "SnapshotEnd";
    case Msg::Scalars: return "Scalars";
    case Msg::PutSlot: return "PutSlot";
    case Msg::DelSlot: return "DelSlot";
    case Msg::PutIf: return "PutIf";
    case Msg::DelIf: return "DelIf";
    case Msg::PutVsi: return "PutVsi";
    case Msg::DelVsi: return "DelVsi";
    case Msg::Services: return "Services";
    case Msg::Fault: return "Fault";
    case Msg::ClearFaults: return "ClearFaults";
    case Msg::FibUnicast: return "FibUnicast";
    case Msg::FibMulticast: return "FibMulticast";
    case Msg::FibMarks: return "FibMarks";
    }
    return "unknown";
}

Writer& Writer::raw(const void* p, size_t n)
{
    const auto* b = static_cast<const uint8_t*>(p);
    buf_.insert(buf_.end(), b, b + n);
    return *this;
}

Writer& Writer::str(std::string_view s)
{
    u32(static_cast<uint32_t>(s.size()));
    return raw(s.data(), s.size());
}

Writer& Writer::list32(std::span<const uint32_t> v)
{
    u32(static_cast<uint32_t>(v.size()));
    return raw(v.data(), v.size_bytes());
}

Writer& Writer::list16(std::span<const uint16_t> v)
{
    u32(static_cast<uint32_t>(v.size()));
    return raw(v.data(), v.size_bytes());
}

void Reader::raw(void* out, size_t n)
{
    if (n > p_.size() - pos_) throw WireError("message ends early");
    if (n != 0) std::memcpy(out, p_.data() + pos_, n);
    pos_ += n;
}

uint8_t Reader::u8()
{
    uint8_t v;
    raw(&v, sizeof v);
    return v;
}

uint16_t Reader::u16()
{
    uint16_t v;
    raw(&v, sizeof v);
    return v;
}

uint32_t Reader::u32()
{
    uint32_t v;
    raw(&v, sizeof v);
    return v;
}

uint64_t Reader::u64()
{
    uint64_t v;
    raw(&v, sizeof v);
    return v;
}

int64_t Reader::i64()
{
    int64_t v;
    raw(&v, sizeof v);
    return v;
}

std::string Reader::str()
{
    uint32_t n = u32();
    if (n > p_.size() - pos_) throw WireError("string longer than its message");
    std::string s(reinterpret_cast<const char*>(p_.data() + pos_), n);
    pos_ += n;
    return s;
}

sim::Mac Reader::mac()
{
    sim::Mac m;
    raw(m.data(), m.size());
    return m;
}

std::vector<uint32_t> Reader::list32()
{
    uint32_t n = u32();
    if (n > (p_.size() - pos_) / sizeof(uint32_t)) throw WireError("list longer than its message");
    std::vector<uint32_t> v(n);
    raw(v.data(), n * sizeof(uint32_t));
    return v;
}

std::vector<uint16_t> Reader::list16()
{
    uint32_t n = u32();
    if (n > (p_.size() - pos_) / sizeof(uint16_t)) throw WireError("list longer than its message");
    std::vector<uint16_t> v(n);
    raw(v.data(), n * sizeof(uint16_t));
    return v;
}

void Reader::end() const
{
    if (!done()) throw WireError("message longer than its content");
}

std::vector<uint8_t> frame(Msg type, std::span<const uint8_t> payload)
{
    Writer w;
    w.u32(static_cast<uint32_t>(payload.size())).u16(static_cast<uint16_t>(type)).u16(0);
    w.raw(payload.data(), payload.size());
    return w.take();
}

void Deframer::feed(std::span<const uint8_t> bytes)
{
    if (off_ != 0 && off_ == buf_.size()) {
        buf_.clear();
        off_ = 0;
    }
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
}

bool Deframer::next(Msg& type, std::vector<uint8_t>& payload)
{
    if (buffered() < kHeaderLen) return false;
    uint32_t len;
    uint16_t t, zero;
    std::memcpy(&len, buf_.data() + off_, 4);
    std::memcpy(&t, buf_.data() + off_ + 4, 2);
    std::memcpy(&zero, buf_.data() + off_ + 6, 2);
    if (len > kMaxPayload || zero != 0) throw WireError("bad message header");
    if (buffered() < kHeaderLen + len) return false;
    type = static_cast<Msg>(t);
    const uint8_t* p = buf_.data() + off_ + kHeaderLen;
    payload.assign(p, p + len);
    off_ += kHeaderLen + len;
    if (off_ > 65536 && off_ * 2 > buf_.size()) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(off_));
        off_ = 0;
    }
    return true;
}

void put(Writer& w, const sim::Slot& s)
{
    w.u16(s.number).boolean(s.present).boolean(s.normal).boolean(s.minm);
}

sim::Slot getSlot(Reader& r)
{
    sim::Slot s;
    s.number = r.u16();
    s.present = r.boolean();
    s.normal = r.boolean();
    s.minm = r.boolean();
    return s;
}

void put(Writer& w, const sim::Interface& i)
{
    w.u32(i.ifIndex).str(i.name).u32(i.type).u16(i.slot);
    w.boolean(i.present).boolean(i.active).boolean(i.linkUp);
    w.u32(i.aggregate).list32(i.members).u8(i.linkType).u16(i.pvid);
    std::vector<uint16_t> vlans(i.vlans.begin(), i.vlans.end());
    w.list16(vlans);
    w.u32(static_cast<uint32_t>(i.stp.size()));
    for (auto [vlan, state] : i.stp) w.u16(vlan).u16(state);
}

sim::Interface getInterface(Reader& r)
{
    sim::Interface i;
    i.ifIndex = r.u32();
    i.name = r.str();
    i.type = r.u32();
    i.slot = r.u16();
    i.present = r.boolean();
    i.active = r.boolean();
    i.linkUp = r.boolean();
    i.aggregate = r.u32();
    i.members = r.list32();
    i.linkType = r.u8();
    i.pvid = r.u16();
    auto vlans = r.list16();
    i.vlans = std::set<uint16_t>(vlans.begin(), vlans.end());
    uint32_t n = r.u32();
    for (uint32_t k = 0; k < n; ++k) {
        uint16_t vlan = r.u16();
        i.stp[vlan] = r.u16();
    }
    return i;
}

void put(Writer& w, const sim::Vsi& v) { w.u32(v.index).str(v.name).u32(v.isid).boolean(v.down); }

sim::Vsi getVsi(Reader& r)
{
    sim::Vsi v;
    v.index = r.u32();
    v.name = r.str();
    v.isid = r.u32();
    v.down = r.boolean();
    return v;
}

void put(Writer& w, const sim::Event& e)
{
    w.u8(static_cast<uint8_t>(e.kind)).u32(e.handle).u32(e.context).u32(e.code);
    w.list32(e.items).list32(e.infos).u32(e.data).boolean(e.hasItems);
    w.list16(e.vlans).boolean(e.vlanSet);
    w.u32(e.vsi.index).u32(e.vsi.flags).u32(e.vsi.isid).str(e.vsi.name);
}

namespace {

sim::EventKind eventKind(uint8_t v)
{
    if (v > static_cast<uint8_t>(sim::EventKind::Tc)) throw WireError("unknown event kind");
    return static_cast<sim::EventKind>(v);
}

sim::Service service(uint8_t v)
{
    if (v >= sim::kServiceCount) throw WireError("unknown service");
    return static_cast<sim::Service>(v);
}

}  // namespace

sim::Event getEvent(Reader& r)
{
    sim::Event e;
    e.kind = eventKind(r.u8());
    e.handle = r.u32();
    e.context = r.u32();
    e.code = r.u32();
    e.items = r.list32();
    e.infos = r.list32();
    e.data = r.u32();
    e.hasItems = r.boolean();
    e.vlans = r.list16();
    e.vlanSet = r.boolean();
    e.vsi.index = r.u32();
    e.vsi.flags = r.u32();
    e.vsi.isid = r.u32();
    e.vsi.name = r.str();
    return e;
}

void put(Writer& w, const sim::Subscription& s)
{
    w.u8(static_cast<uint8_t>(s.kind)).u32(s.mask).u32(s.batch).list32(s.types).u32(s.client);
}

sim::Subscription getSubscription(Reader& r)
{
    sim::Subscription s;
    s.kind = eventKind(r.u8());
    s.mask = r.u32();
    s.batch = r.u32();
    s.types = r.list32();
    s.client = r.u32();
    return s;
}

void put(Writer& w, const sim::Ack& a)
{
    w.u8(static_cast<uint8_t>(a.service)).u32(a.handle).u32(a.code).u32(a.context).list32(a.items);
}

sim::Ack getAck(Reader& r)
{
    sim::Ack a;
    a.service = service(r.u8());
    a.handle = r.u32();
    a.code = r.u32();
    a.context = r.u32();
    a.items = r.list32();
    return a;
}

void put(Writer& w, const sim::MinMRequest& q)
{
    const L2VPN_MINM_ENTRY_S& e = q.entry;
    w.u32(q.client).u32(q.op);
    w.u32(e.uiVsiIndex).u32(e.uiISid).raw(e.aucBMac, 6).u16(e.usZero).u32(e.uiAllOnes).u16(e.usAllOnes);
    w.raw(e.aucCMac, 6).u32(e.uiEntryFlags).u32(e.uiBVlan).u32(e.uiPortNum);
    w.u64(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(e.puiPortList))).u32(e.uiZero);
    w.list32(q.ports);
}

sim::MinMRequest getMinMRequest(Reader& r)
{
    sim::MinMRequest q;
    L2VPN_MINM_ENTRY_S& e = q.entry;
    q.client = r.u32();
    q.op = r.u32();
    e.uiVsiIndex = r.u32();
    e.uiISid = r.u32();
    r.raw(e.aucBMac, 6);
    e.usZero = r.u16();
    e.uiAllOnes = r.u32();
    e.usAllOnes = r.u16();
    r.raw(e.aucCMac, 6);
    e.uiEntryFlags = r.u32();
    e.uiBVlan = r.u32();
    e.uiPortNum = r.u32();
    // The caller's pointer travels as a number only; it is never followed.
    e.puiPortList = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(r.u64()));
    e.uiZero = r.u32();
    q.ports = r.list32();
    return q;
}

void put(Writer& w, const sim::UcEntry& e)
{
    w.u32(e.vsi).u32(e.isid).mac(e.bmac).mac(e.cmac).u32(e.bvlan).u32(e.port).u32(e.flags);
}

sim::UcEntry getUcEntry(Reader& r)
{
    sim::UcEntry e;
    e.vsi = r.u32();
    e.isid = r.u32();
    e.bmac = r.mac();
    e.cmac = r.mac();
    e.bvlan = r.u32();
    e.port = r.u32();
    e.flags = r.u32();
    return e;
}

void put(Writer& w, const sim::McEntry& e)
{
    w.u32(e.vsi).u32(e.isid).mac(e.group).u32(e.bvlan).list32(e.ports);
}

sim::McEntry getMcEntry(Reader& r)
{
    sim::McEntry e;
    e.vsi = r.u32();
    e.isid = r.u32();
    e.group = r.mac();
    e.bvlan = r.u32();
    e.ports = r.list32();
    return e;
}

void put(Writer& w, const Scalars& s)
{
    w.u16(s.slotRange.min).u16(s.slotRange.max).u16(s.maxVlanId).u32(s.maxVsiNum);
    w.u32(s.fibSpec.maxPwNum).u32(s.fibSpec.maxPwPerVsi).boolean(s.fibSpec.shareVsi);
}

Scalars getScalars(Reader& r)
{
    Scalars s;
    s.slotRange.min = r.u16();
    s.slotRange.max = r.u16();
    s.maxVlanId = r.u16();
    s.maxVsiNum = r.u32();
    s.fibSpec.maxPwNum = r.u32();
    s.fibSpec.maxPwPerVsi = r.u32();
    s.fibSpec.shareVsi = r.boolean();
    return s;
}

std::vector<uint8_t> encodeEvent(const sim::Event& e)
{
    Writer w;
    put(w, e);
    return w.take();
}

sim::Event decodeEvent(std::span<const uint8_t> packet)
{
    Reader r(packet);
    sim::Event e = getEvent(r);
    r.end();
    return e;
}

}  // namespace plat::wire
