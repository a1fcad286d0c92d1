#include "platform/model/pbb_frame.h"

#include <cstring>

namespace sim {

namespace {

void put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

Mac getMac(const uint8_t* p)
{
    Mac m;
    std::memcpy(m.data(), p, m.size());
    return m;
}

// Offset of the I-Tag's flags byte, or 0 when the header is not a backbone
// header with an I-Tag.
size_t itagOffset(std::span<const uint8_t> b)
{
    if (b.size() < kPbbHeaderLen) return 0;
    uint16_t tpid = get16(&b[12]);
    if (tpid != kBTagTpid && tpid != kCTagTpid) return 0;
    if (get16(&b[16]) != PKT_ETHERTYPE_ITAG) return 0;
    return kPbbHeaderLen;
}

}  // namespace

std::vector<uint8_t> encodeFrame(const PbbFrame& f)
{
    std::vector<uint8_t> out(f.bda.begin(), f.bda.end());
    out.insert(out.end(), f.bsa.begin(), f.bsa.end());
    put16(out, kBTagTpid);
    put16(out, static_cast<uint16_t>((f.bpcp & 0x7) << 13 | (f.bvid & 0x0FFF)));
    put16(out, PKT_ETHERTYPE_ITAG);
    out.push_back(f.itagFlags);
    out.push_back(static_cast<uint8_t>(f.isid >> 16));
    out.push_back(static_cast<uint8_t>(f.isid >> 8));
    out.push_back(static_cast<uint8_t>(f.isid));
    out.insert(out.end(), f.cda.begin(), f.cda.end());
    out.insert(out.end(), f.csa.begin(), f.csa.end());
    out.insert(out.end(), f.rest.begin(), f.rest.end());
    return out;
}

std::optional<PbbFrame> decodeFrame(std::span<const uint8_t> b)
{
    size_t i = itagOffset(b);
    if (i == 0 || b.size() < i + kITagDataMin) return std::nullopt;
    PbbFrame f;
    f.bda = getMac(&b[0]);
    f.bsa = getMac(&b[6]);
    uint16_t tci = get16(&b[14]);
    f.bpcp = static_cast<uint8_t>(tci >> 13);
    f.bvid = tci & 0x0FFF;
    f.itagFlags = b[i];
    f.isid = static_cast<uint32_t>(b[i + 1]) << 16 | static_cast<uint32_t>(b[i + 2]) << 8 | b[i + 3];
    f.cda = getMac(&b[i + 4]);
    f.csa = getMac(&b[i + 10]);
    f.rest.assign(b.begin() + static_cast<std::ptrdiff_t>(i + kITagDataMin), b.end());
    return f;
}

Mac groupAddress(uint32_t isid)
{
    return Mac{0x01, 0x1E, 0x83, static_cast<uint8_t>(isid >> 16), static_cast<uint8_t>(isid >> 8),
               static_cast<uint8_t>(isid)};
}

std::vector<uint8_t> packDatagram(const Datagram& d)
{
    std::vector<uint8_t> out(sizeof d.addr + sizeof d.ctrl + d.data.size());
    std::memcpy(out.data(), &d.addr, sizeof d.addr);
    std::memcpy(out.data() + sizeof d.addr, &d.ctrl, sizeof d.ctrl);
    if (!d.data.empty()) std::memcpy(out.data() + sizeof d.addr + sizeof d.ctrl, d.data.data(), d.data.size());
    return out;
}

std::optional<DatagramView> viewDatagram(std::span<const uint8_t> b)
{
    DatagramView v;
    if (b.size() < sizeof v.addr + sizeof v.ctrl) return std::nullopt;
    std::memcpy(&v.addr, b.data(), sizeof v.addr);
    std::memcpy(&v.ctrl, b.data() + sizeof v.addr, sizeof v.ctrl);
    v.data = b.subspan(sizeof v.addr + sizeof v.ctrl);
    return v;
}

std::optional<Datagram> cpuCopy(uint32_t ingressIfIndex, std::span<const uint8_t> frame)
{
    size_t i = itagOffset(frame);
    if (i == 0 || frame.size() < i + kITagDataMin) return std::nullopt;
    Datagram d;
    d.addr.ucLen = sizeof d.addr;
    d.addr.ucFamily = PKT_AF_PACKET;
    d.addr.usEtherType = PKT_ETHERTYPE_ITAG;
    std::memcpy(d.addr.aucSrcMac, &frame[6], 6);
    std::memcpy(d.addr.aucDstMac, &frame[0], 6);
    d.addr.usVlanId = get16(&frame[14]) & 0x0FFF;
    d.ctrl = PKT_CTRL_S{sizeof(PKT_CTRL_S), PKT_SOL_PACKET, PKT_CTRL_IFINDEX, ingressIfIndex};
    d.data.assign(frame.begin() + static_cast<std::ptrdiff_t>(i), frame.end());
    return d;
}

}  // namespace sim
