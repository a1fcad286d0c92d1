// The records of the wire protocol: a message cut short or framed wrongly
// is refused, never read past. That every field survives encoding is what
// the mirror, event and request tests see, comparing the switch over the
// transport with the same switch in process.
#include <array>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/transport/wire.h"

namespace {

using namespace plat::wire;

template <class T>
std::vector<uint8_t> bytesOf(const T& v)
{
    Writer w;
    put(w, v);
    return w.take();
}

TEST(Wire, ShortenedRecordsAndBadHeadersAreRefusedAndMessagesComeApartWhateverTheReads)
{
    // Records with something in every list and string, so that each count
    // is read before what it counts.
    std::vector<std::pair<std::string, std::pair<std::vector<uint8_t>, std::function<void(Reader&)>>>> cases = {
        {"interface",
         {bytesOf(sim::Interface{.name = "eth-12/0/47", .members = {9, 8, 7}, .vlans = {1, 7, 4094}, .stp = {{7, 1}, {4094, 2}}}),
          [](Reader& r) { getInterface(r); }}},
        {"event",
         {encodeEvent(sim::Event{.items = {1, 2, 3}, .infos = {19, 21, 56}, .vlans = {10, 20, 4094}, .vsi = {.name = "vsi-x"}}),
          [](Reader& r) { getEvent(r); }}},
        {"request", {bytesOf(sim::MinMRequest{.ports = {11, 12}}), [](Reader& r) { getMinMRequest(r); }}},
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

    // Messages come apart whatever the reads; bad headers are refused.
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
