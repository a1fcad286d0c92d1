// The records of the wire protocol: a message cut short or framed wrongly
// is refused, never read past. That every field survives encoding is what
// the mirror, event and request tests see, comparing the switch over the
// transport with the same switch in process.
#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/transport/wire.h"

namespace {

using namespace plat::wire;

sim::Interface anInterface()
{
    return {.ifIndex = 70001, .name = "eth-12/0/47", .type = IF_TYPE_25GE, .slot = 12, .present = false, .active = false,
            .linkUp = true, .aggregate = 4242, .members = {9, 8, 7}, .linkType = VLAN_LINK_TRUNK, .pvid = 3001,
            .vlans = {1, 7, 4094}, .stp = {{7, 1}, {4094, 2}}};
}

sim::Event anEvent()
{
    return {.kind = sim::EventKind::Tc, .handle = 5, .context = 0xDEADBEEF, .code = IF_EVT_AGG_LEAVE, .items = {1, 2, 3},
            .infos = {19, 21, 56}, .data = 100, .hasItems = false, .vlans = {10, 20, 4094}, .vlanSet = true,
            .vsi = sim::VsiRecord{3, L2VPN_VSI_FLAG_DOWN, 0xABCDEF, "vsi-x"}};
}

sim::MinMRequest aRequest()
{
    sim::MinMRequest q;
    q.client = L2VPN_CLIENT_MINM;
    q.op = L2VPN_MINM_ADD_MC;
    q.entry.uiVsiIndex = 17;
    q.entry.uiISid = 0x123456;
    const uint8_t b[6] = {1, 2, 3, 4, 5, 6}, c[6] = {6, 5, 4, 3, 2, 1};
    std::memcpy(q.entry.aucBMac, b, 6);
    std::memcpy(q.entry.aucCMac, c, 6);
    q.entry.usZero = 0x0102;
    q.entry.uiAllOnes = 0xFFFFFFFE;
    q.entry.usAllOnes = 0xFFFD;
    q.entry.uiEntryFlags = 0x80000001;
    q.entry.uiBVlan = 4001;
    q.entry.uiPortNum = 2;
    q.entry.puiPortList = reinterpret_cast<uint32_t*>(uintptr_t{0x1000});
    q.entry.uiZero = 9;
    q.ports = {11, 12};
    return q;
}

template <class T>
std::vector<uint8_t> bytesOf(const T& v)
{
    Writer w;
    put(w, v);
    return w.take();
}

TEST(Wire, EveryShortenedRecordIsRefused)
{
    std::vector<std::pair<std::string, std::pair<std::vector<uint8_t>, std::function<void(Reader&)>>>> cases = {
        {"interface", {bytesOf(anInterface()), [](Reader& r) { getInterface(r); }}},
        {"event", {encodeEvent(anEvent()), [](Reader& r) { getEvent(r); }}},
        {"request", {bytesOf(aRequest()), [](Reader& r) { getMinMRequest(r); }}},
    };
    for (auto& [name, c] : cases) {
        auto& [bytes, read] = c;
        for (size_t n = 0; n < bytes.size(); ++n) {
            Reader r(std::span<const uint8_t>(bytes.data(), n));
            EXPECT_THROW(read(r), WireError) << name << " cut at " << n;
        }
        Reader whole(bytes);
        read(whole);
        EXPECT_TRUE(whole.done()) << name;
    }
    // A count larger than what follows is refused before anything is made of it.
    std::vector<uint8_t> huge = {0xFF, 0xFF, 0xFF, 0x7F, 1, 2};
    EXPECT_THROW(Reader(huge).list32(), WireError);
    EXPECT_THROW(Reader(huge).str(), WireError);
}

TEST(Wire, MessagesComeApartWhateverTheReadsAndBadHeadersAreRefused)
{
    std::vector<uint8_t> stream;
    for (uint32_t k = 0; k < 20; ++k) {
        Writer w;
        w.u32(k).str(std::string(k * 37, 'x'));
        auto f = frame(Msg::Reply, w.bytes());
        stream.insert(stream.end(), f.begin(), f.end());
    }
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{4096}}) {
        Deframer d;
        uint32_t seen = 0;
        for (size_t off = 0; off < stream.size(); off += chunk) {
            d.feed(std::span<const uint8_t>(stream).subspan(off, std::min(chunk, stream.size() - off)));
            Msg t;
            std::vector<uint8_t> payload;
            while (d.next(t, payload)) {
                EXPECT_EQ(t, Msg::Reply);
                Reader r(payload);
                EXPECT_EQ(r.u32(), seen);
                EXPECT_EQ(r.str().size(), seen * 37);
                ++seen;
            }
        }
        EXPECT_EQ(seen, 20u) << "chunks of " << chunk;
        EXPECT_EQ(d.buffered(), 0u);
    }
    for (std::array<uint8_t, 8> header : {std::array<uint8_t, 8>{0xFF, 0xFF, 0xFF, 0xFF, 102, 0, 0, 0},  // too long
                                          std::array<uint8_t, 8>{0, 0, 0, 0, 102, 0, 1, 0}}) {       // not zero
        Deframer bad;
        bad.feed(header);
        Msg t;
        std::vector<uint8_t> p;
        EXPECT_THROW(bad.next(t, p), WireError);
    }
}

}  // namespace
