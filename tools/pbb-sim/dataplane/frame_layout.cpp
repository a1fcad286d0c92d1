#include "tools/pbb-sim/dataplane/frame_layout.h"

#include <cstring>

namespace dp {

namespace {

constexpr uint16_t kTpidC = 0x8100;
constexpr uint16_t kTpidS = 0x88A8;
constexpr uint16_t kTpidOld = 0x9100;   // pre-standard stacking TPID
constexpr uint16_t kEtherITag = 0x88E7;

uint16_t be16(std::span<const uint8_t> b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

bool isTpid(uint16_t t) { return t == kTpidC || t == kTpidS || t == kTpidOld; }

sim::Mac mac(std::span<const uint8_t> b, size_t at)
{
    sim::Mac m;
    std::memcpy(m.data(), b.data() + at, m.size());
    return m;
}

void put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

}  // namespace

Drop readCustomer(std::span<const uint8_t> frame, CustomerHeader& out)
{
    if (frame.size() < kEthHeaderLen) return Drop::Runt;
    if (isTpid(be16(frame, 12)))
        return frame.size() >= kEthHeaderLen + 4 && isTpid(be16(frame, 16)) ? Drop::StackedTags : Drop::Tagged;
    out.da = mac(frame, 0);
    out.sa = mac(frame, 6);
    return Drop::None;
}

Drop readBackbone(std::span<const uint8_t> frame, BackboneHeader& out)
{
    if (frame.size() < kEthHeaderLen) return Drop::Runt;
    uint16_t type = be16(frame, 12);
    if (type == kEtherITag || type == kTpidOld) return Drop::BadTag;
    if (type != kTpidS && type != kTpidC) return Drop::NotItagged;
    if (frame.size() < 18) return Drop::Runt;
    uint16_t inner = be16(frame, 16);
    if (isTpid(inner)) return Drop::StackedTags;
    if (inner != kEtherITag) return Drop::NotItagged;
    if (frame.size() < kBackboneMinLen) return Drop::Runt;
    uint16_t vid = be16(frame, 14) & 0x0FFF;
    if (vid == 0 || vid == 0x0FFF) return Drop::BadTag;
    out.bda = mac(frame, 0);
    out.bsa = mac(frame, 6);
    out.bvid = vid;
    out.isid = static_cast<uint32_t>(frame[19]) << 16 | static_cast<uint32_t>(frame[20]) << 8 | frame[21];
    out.cda = mac(frame, kBackboneHeaderLen);
    out.csa = mac(frame, kBackboneHeaderLen + 6);
    return Drop::None;
}

void encapsulate(std::vector<uint8_t>& out, const sim::Mac& bda, const sim::Mac& bsa, uint16_t bvid, uint32_t isid,
                 std::span<const uint8_t> customer)
{
    out.resize(kBackboneHeaderLen + customer.size());
    uint8_t* p = out.data();
    std::memcpy(p, bda.data(), 6);
    std::memcpy(p + 6, bsa.data(), 6);
    put16(p + 12, kTpidS);
    put16(p + 14, bvid & 0x0FFF);
    put16(p + 16, kEtherITag);
    p[18] = 0;
    p[19] = static_cast<uint8_t>(isid >> 16);
    p[20] = static_cast<uint8_t>(isid >> 8);
    p[21] = static_cast<uint8_t>(isid);
    if (!customer.empty()) std::memcpy(p + kBackboneHeaderLen, customer.data(), customer.size());
}

}  // namespace dp
