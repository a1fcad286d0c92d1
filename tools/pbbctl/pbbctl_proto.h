// The daemon's management messages as pbbctl speaks them: the request and
// reply types, the result codes, and the byte layout of every value.
//
// A message is one TLV of the platform's codec (platform/stlv.h). Every
// integer inside a value is big-endian; names are NUL-terminated within
// their 32 bytes (at most 31 characters).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace pbbctl::proto {

using Bytes = std::vector<uint8_t>;
using Mac = std::array<uint8_t, 6>;

// Request types.
enum Request : uint16_t {
    kSetDebug = 0,
    kSetBvlan = 1,
    kSetEncap = 2,
    kUplinkAll = 3,
    kUplinkVsi = 4,
    kResetLearned = 5,
    kGetDebug = 6,
    kGetMc = 7,
    kGetFirstMc = 8,
    kGetNextMc = 9,
    kGetFirstUc = 10,
    kGetNextUc = 11,
};

// Reply types.
enum Reply : uint16_t {
    kDebugReply = 6,
    kMcReply = 12,
    kUcReply = 13,
    kResultReply = 15,
};

// Result codes.
constexpr uint32_t kOk = 0;
constexpr uint32_t kFailed = 0x40010001;
constexpr uint32_t kAlreadyListed = 0x40010006;
constexpr uint32_t kPbbNotSupported = 0x40010008;
constexpr uint32_t kNotSaved = 0x4001000C;  // in effect, but the configuration database refused it
constexpr uint32_t kNoMoreUc = 0x60010023;
constexpr uint32_t kUplinkOfAll = 0x60010025;
constexpr uint32_t kMcEnd = 0x00010024;

// Sizes of the fixed layouts.
constexpr size_t kNameLen = 32;
constexpr size_t kNameMax = kNameLen - 1;
constexpr size_t kDebugReqLen = 8;
constexpr size_t kSetReqLen = 44;
constexpr size_t kUplinkAllReqLen = 8;
constexpr size_t kUplinkReqHeadLen = 12;
constexpr size_t kResetReqLen = 1108;
constexpr size_t kResetBitmapLen = 560;
constexpr size_t kResetIfMax = 128;
constexpr size_t kUcMsgLen = 52;
constexpr size_t kUcBmacAt = 10;  // the B-MAC's offset in a unicast message
constexpr size_t kMcMsgLen = 2100;
constexpr size_t kMcPortsMax = 512;
// The daemon decodes each read of at most this many bytes on its own.
constexpr size_t kDaemonReadLen = 4096;
// The highest VLAN ID a B-VLAN set carries.
constexpr uint16_t kVlanMax = 4094;

// Operations of the requests that take one.
constexpr uint16_t kDebugSet = 0, kDebugClear = 1;
constexpr uint16_t kValueSet = 0, kValueReset = 1;
constexpr uint16_t kUplinkAdd = 0, kUplinkDelete = 1;

// A learned unicast entry (request types 10 and 11, reply type 13).
struct UcMsg {
    uint32_t vsiIndex = 0;
    uint32_t isid = 0;
    uint16_t bvlan = 0;
    Mac bmac{};
    uint32_t ifIndex = 0;
    std::string vsiName;

    bool operator==(const UcMsg&) const = default;
};

// One multicast reply (type 12): part of a VSI's multicast entry.
struct McMsg {
    uint32_t vsiIndex = 0;
    uint32_t isid = 0;
    uint16_t bvlan = 0;
    Mac group{};
    std::string vsiName;
    std::vector<uint32_t> ports;

    bool operator==(const McMsg&) const = default;
};

// Values of the requests. Names longer than 31 characters are cut by the
// encoders; callers check them first (nameFits).
bool nameFits(const std::string& name);
Bytes debugReq(uint16_t op, uint32_t mask);
Bytes setReq(uint16_t op, uint32_t value, uint32_t isid, const std::string& vsiName);
Bytes uplinkAllReq(uint16_t op, uint32_t ifIndex);
Bytes uplinkReq(uint16_t op, uint32_t ifIndex, const std::vector<std::string>& vsiNames);
// bvlans: the B-VLANs (1 to kVlanMax; others are dropped); ifIndexes: at
// most kResetIfMax (the rest are dropped); vsiName empty: every VSI.
Bytes resetReq(const std::set<uint16_t>& bvlans, const std::vector<uint32_t>& ifIndexes, const std::string& vsiName);
Bytes nameValue(const std::string& vsiName);
Bytes indexValue(uint32_t vsiIndex);
Bytes ucMsg(const UcMsg& m);
Bytes mcMsg(const McMsg& m);

// Values of the replies; nullopt when the value is too short.
std::optional<uint32_t> word(const uint8_t* value, size_t len);
std::optional<UcMsg> parseUc(const uint8_t* value, size_t len);
// The number of ports must be 1 to 512.
std::optional<McMsg> parseMc(const uint8_t* value, size_t len);

// One TLV: header and value.
Bytes tlv(uint16_t type, const Bytes& value);

// Splits received bytes into whole TLVs; the bytes of an incomplete one at
// the end stay for the next call.
struct Tlv {
    uint16_t type = 0;
    Bytes value;
};
// A TLV inside the reader's buffer: valid until the reader is fed again.
struct TlvView {
    uint16_t type = 0;
    const uint8_t* value = nullptr;
    uint16_t len = 0;
};
class TlvReader {
public:
    void feed(const uint8_t* data, size_t len);
    // Room for up to `len` bytes to be read into directly, then taken with
    // commit(the bytes read).
    uint8_t* room(size_t len);
    void commit(size_t len) { end_ += len; }
    std::optional<Tlv> next();
    std::optional<TlvView> nextView();
    size_t pending() const { return end_ - pos_; }

private:
    Bytes buf_;
    size_t pos_ = 0;
    size_t end_ = 0;
};

std::string formatMac(const Mac& mac);
// A result code as "0x40010001".
std::string codeHex(uint32_t code);

}  // namespace pbbctl::proto
