// The byte stream a daemon's library reads from the simulated switch: cut
// into messages, requests and records decoded, state messages applied to
// the library's copy of the switch and of its forwarding working tables.
// Malformed input is refused with WireError and nothing else; a decoded
// record, encoded, decodes to a record that encodes to the same bytes
// again.
#include "fuzz/fuzz_check.h"
#include "platform/transport/fib_shadow.h"
#include "platform/transport/mirror.h"
#include "platform/transport/wire.h"

#include <cstdint>
#include <span>
#include <vector>

using namespace plat;

namespace {

// Decodes a record, encodes it, and expects the encoding to decode and
// encode to itself (the first decoding may normalise, e.g. a flag byte 2).
template <typename Get>
void roundTrip(std::span<const uint8_t> body, Get get)
{
    wire::Reader r(body);
    auto rec = get(r);
    r.end();
    wire::Writer w;
    wire::put(w, rec);
    wire::Reader r2(w.bytes());
    auto again = get(r2);
    r2.end();
    wire::Writer w2;
    wire::put(w2, again);
    FUZZ_CHECK(w2.bytes() == w.bytes());
}

// The records of a Records message, each round-tripped.
void records(std::span<const uint8_t> body)
{
    wire::Reader r(body);
    for (uint32_t n = r.u32(); n != 0; --n) {
        (void)r.u32();
        auto rec = wire::getMinMRequest(r);
        wire::Writer w;
        wire::put(w, rec);
        wire::Reader again(w.bytes());
        wire::Writer w2;
        wire::put(w2, wire::getMinMRequest(again));
        FUZZ_CHECK(w2.bytes() == w.bytes());
    }
    (void)r.boolean();
    (void)r.u32();
    r.end();
}

void decode(wire::Msg type, const std::vector<uint8_t>& payload, transport::Mirror& mirror,
            transport::FibShadow& shadow)
{
    std::span<const uint8_t> p(payload);
    // Requests start with their sequence number.
    std::span<const uint8_t> body = p.size() >= 4 ? p.subspan(4) : p.subspan(0, 0);
    switch (type) {
    case wire::Msg::Subscribe: roundTrip(body, wire::getSubscription); return;
    case wire::Msg::Acknowledge: roundTrip(body, wire::getAck); return;
    case wire::Msg::Records: records(body); return;
    default: break;
    }
    if (!shadow.apply(type, p)) (void)mirror.apply(type, p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::span<const uint8_t> in(data, size);
    // One event packet, as an event channel carries it.
    try {
        std::vector<uint8_t> once = wire::encodeEvent(wire::decodeEvent(in));
        FUZZ_CHECK(wire::encodeEvent(wire::decodeEvent(once)) == once);
    } catch (const wire::WireError&) {
    }

    // The stream, fed in pieces of the sizes the first bytes choose.
    wire::Deframer d;
    transport::Mirror mirror;
    mirror.clear();
    transport::FibShadow shadow;
    size_t pos = 0;
    try {
        while (pos < size) {
            size_t piece = 1 + (data[pos] % 64);
            ++pos;
            piece = std::min(piece, size - pos);
            d.feed(in.subspan(pos, piece));
            pos += piece;
            wire::Msg type;
            std::vector<uint8_t> payload;
            while (d.next(type, payload)) {
                try {
                    decode(type, payload, mirror, shadow);
                } catch (const wire::WireError&) {
                }
            }
        }
    } catch (const wire::WireError&) {
        // A header that cannot be right ends the connection.
    }
    return 0;
}
