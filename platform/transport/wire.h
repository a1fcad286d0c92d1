// The wire protocol between a daemon's platform library and the simulated
// switch (pbb-sim).
//
// One stream connection per daemon at <run dir>/sim.sock carries framed
// messages: an 8-byte header (payload length, message type, zero) and the
// payload. Numbers are in the host's byte order: both ends run on one
// machine. The simulator speaks first: Hello (with two shared-memory
// descriptors, shared_counter.h and record_ring.h) and the snapshot of the switch's
// queryable state and forwarding working tables, closed by SnapshotEnd; or
// Refused with a reason. After that the simulator sends state changes,
// faults to arm and replies; the library sends requests, each answered by
// one Reply carrying the request's sequence number, and forwarding records,
// which are not answered: Records messages in the shared record ring, which
// pbb-sim takes before anything the connection brings (RingBell tells a
// sleeping pbb-sim that there are some), or on the connection. Everything
// the library sends is served in the order sent, so a reply also tells that
// every record sent before its request has been applied, and that every
// state change sent before it has arrived.
//
// Events travel on their own sequenced-packet descriptors, one per service
// (OpenChannel passes one end), one event per packet. Frames for the packet
// sockets travel on one sequenced-packet descriptor per socket (OpenPacket),
// one datagram [PKT_SOCKADDR_S][PKT_CTRL_S][data] per frame.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/model/fib.h"
#include "platform/model/records.h"

namespace plat::wire {

constexpr uint32_t kVersion = 3;
constexpr size_t kHeaderLen = 8;
constexpr uint32_t kMaxPayload = 16u << 20;

enum class Msg : uint16_t {
    // Library to simulator: requests. Every payload starts with the sequence number.
    Subscribe = 1,       // Subscription -> handle (0: refused)
    Unsubscribe = 2,     // handle, mask -> result
    Acknowledge = 3,     // Ack -> 0
    // 4 and 5 were the answered forms of Records.
    SetPbbMode = 6,      // ifIndex, mode -> result
    SetVsiAttr = 7,      // VSI index, attribute, value -> result
    RefreshWindow = 8,   // client, phase -> result
    RequestBatch = 9,    // selector -> result
    OpenChannel = 10,    // service, with one descriptor -> 0, or 1 when the service is away
    OpenPacket = 11,     // socket id, with one descriptor -> 0, or 1 when the packet service is away
    PacketBind = 12,     // socket id, EtherType -> 0
    PacketRecvAll = 13,  // socket id, 0/1 -> 0
    Ping = 14,           // -> 0
    // Not answered: sequence number 0, the count, per record the result the
    // library gave the caller and the MinMRequest, then whether a flush
    // follows them and the flush's result as given.
    Records = 15,
    // Not answered, sequence number 0 and nothing else: records wait in the
    // shared ring (record_ring.h) and pbb-sim asked to be told.
    RingBell = 16,

    // Simulator to library.
    Hello = 100,         // version, simulator pid, session number; with the shared counter's and the record ring's descriptors
    Refused = 101,       // reason
    Reply = 102,         // sequence number, result
    SnapshotEnd = 103,
    Scalars = 110,       // slot range, highest VLAN, VSI maximum, forwarding capabilities
    PutSlot = 111,
    DelSlot = 112,
    PutIf = 113,
    DelIf = 114,
    PutVsi = 115,
    DelVsi = 116,
    Services = 117,      // the services that are away, one bit per service
    Fault = 118,         // call name, result, times: armed in the library's process
    ClearFaults = 119,
    // Snapshot only, before SnapshotEnd: the forwarding working tables.
    FibUnicast = 120,    // count, UcEntry each
    FibMulticast = 121,  // count, McEntry each
    FibMarks = 122,      // window open, its marks (unicast keys, multicast VSIs), the open multicast chunk; last
};

const char* msgName(Msg m);

// A malformed or truncated message.
struct WireError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Writer {
public:
    Writer& u8(uint8_t v) { return raw(&v, 1); }
    Writer& u16(uint16_t v) { return raw(&v, sizeof v); }
    Writer& u32(uint32_t v) { return raw(&v, sizeof v); }
    Writer& u64(uint64_t v) { return raw(&v, sizeof v); }
    Writer& i64(int64_t v) { return raw(&v, sizeof v); }
    Writer& boolean(bool v) { return u8(v ? 1 : 0); }
    Writer& str(std::string_view s);
    Writer& mac(const sim::Mac& m) { return raw(m.data(), m.size()); }
    Writer& list32(std::span<const uint32_t> v);
    Writer& list16(std::span<const uint16_t> v);
    Writer& raw(const void* p, size_t n);

    const std::vector<uint8_t>& bytes() const { return buf_; }
    std::vector<uint8_t> take() { return std::move(buf_); }
    // Empties the writer and keeps its room.
    void clear() { buf_.clear(); }

private:
    std::vector<uint8_t> buf_;
};

class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : p_(bytes) {}
    // The bytes must outlive the reader.
    explicit Reader(std::vector<uint8_t>&&) = delete;
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    uint64_t u64();
    int64_t i64();
    bool boolean() { return u8() != 0; }
    std::string str();
    sim::Mac mac();
    std::vector<uint32_t> list32();
    std::vector<uint16_t> list16();
    void raw(void* out, size_t n);
    bool done() const { return pos_ == p_.size(); }
    // Throws unless every byte was read.
    void end() const;

private:
    std::span<const uint8_t> p_;
    size_t pos_ = 0;
};

// One framed message: header and payload.
std::vector<uint8_t> frame(Msg type, std::span<const uint8_t> payload);

// Splits framed messages off the front of a byte stream.
class Deframer {
public:
    void feed(std::span<const uint8_t> bytes);
    // The next whole message (type and payload), or false while it is still
    // incomplete. Throws WireError on a header that cannot be right.
    bool next(Msg& type, std::vector<uint8_t>& payload);
    size_t buffered() const { return buf_.size() - off_; }

private:
    std::vector<uint8_t> buf_;
    size_t off_ = 0;
};

// The records.
void put(Writer& w, const sim::Slot& s);
void put(Writer& w, const sim::Interface& i);
void put(Writer& w, const sim::Vsi& v);
void put(Writer& w, const sim::Event& e);
void put(Writer& w, const sim::Subscription& s);
void put(Writer& w, const sim::Ack& a);
void put(Writer& w, const sim::MinMRequest& r);
void put(Writer& w, const sim::UcEntry& e);
void put(Writer& w, const sim::McEntry& e);

sim::Slot getSlot(Reader& r);
sim::Interface getInterface(Reader& r);
sim::Vsi getVsi(Reader& r);
sim::Event getEvent(Reader& r);
sim::Subscription getSubscription(Reader& r);
sim::Ack getAck(Reader& r);
sim::MinMRequest getMinMRequest(Reader& r);
sim::UcEntry getUcEntry(Reader& r);
sim::McEntry getMcEntry(Reader& r);

// The simulator's scalars.
struct Scalars {
    sim::SlotRange slotRange{};
    uint16_t maxVlanId = 4094;
    uint32_t maxVsiNum = 1024;
    sim::FibSpec fibSpec{};
};
void put(Writer& w, const Scalars& s);
Scalars getScalars(Reader& r);

// One event as one packet of an event channel.
std::vector<uint8_t> encodeEvent(const sim::Event& e);
sim::Event decodeEvent(std::span<const uint8_t> packet);

}  // namespace plat::wire
