// Backbone frames for the simulator: built from fields, bursts with distinct
// B-MACs, and classic pcap files (LINKTYPE_ETHERNET) to keep and replay them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/model/records.h"

namespace simcmd {

using Frame = std::vector<uint8_t>;

struct FrameFields {
    sim::Mac bda{};
    sim::Mac bsa{};
    uint16_t tpid = 0x88A8;             // B-Tag TPID: 0x88A8, or 0x8100
    uint16_t bvid = 0;
    uint8_t bpcp = 0;
    uint8_t itagFlags = 0;              // I-Tag priority, drop eligibility, UCA, reserved bits
    uint32_t isid = 0;
    sim::Mac cda{};
    sim::Mac csa{};
    std::vector<uint8_t> payload{};     // customer EtherType and data after C-SA
};

// One I-tagged frame on the wire.
Frame buildFrame(const FrameFields& f);
// count frames of these fields whose B-SAs are bsa, bsa+1, ... (the MAC
// read as a 48-bit number); throws std::invalid_argument when the range
// would wrap past ff:ff:ff:ff:ff:ff.
std::vector<Frame> buildBurst(const FrameFields& base, uint32_t count);

// True for an I-tagged frame: B-Tag (0x88A8 or 0x8100), then 0x88E7, with
// at least the I-SID, C-DA and C-SA.
bool isPbbFrame(std::span<const uint8_t> frame);

// "00:11:22:33:44:55" (also '-' separated); nullopt when malformed.
std::optional<sim::Mac> parseMac(std::string_view text);
std::string formatMac(const sim::Mac& mac);
sim::Mac macAdd(const sim::Mac& mac, uint64_t n);

// The most a pcap file read may hold: its size, and its frames.
constexpr size_t kPcapBytesMax = 128u << 20;
constexpr size_t kPcapFramesMax = 1000000;

// Classic pcap files, microsecond timestamps, link type Ethernet. All throw
// std::runtime_error naming the file on failure; the readers also when the
// file is not a regular file, is larger than kPcapBytesMax, holds more than
// kPcapFramesMax frames or is not a pcap of Ethernet frames. Either byte
// order is read.
std::vector<Frame> readPcap(const std::string& path);
// From an open descriptor (read from its start); name is for messages.
std::vector<Frame> readPcap(int fd, const std::string& name);
// Written to path.tmp, made anew (a file or link left there is removed
// first, never followed), then renamed to path.
void writePcap(const std::string& path, const std::vector<Frame>& frames);
// Written over the regular file open for writing at fd (cut to its length).
void writePcap(int fd, const std::string& name, const std::vector<Frame>& frames);

}  // namespace simcmd
