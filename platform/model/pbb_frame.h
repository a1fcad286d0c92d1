// IEEE 802.1ah frames and the packet socket's datagram.
//
// An I-tagged backbone frame on the wire: B-DA, B-SA, the B-Tag (TPID
// 0x88A8, or 0x8100 on receive, and a TCI with the B-VID), the I-Tag
// EtherType 0x88E7, the I-Tag's flags byte and 24-bit I-SID, C-DA, C-SA,
// then the rest of the customer frame.
//
// A frame copied to the CPU travels to a packet socket as one datagram:
// [PKT_SOCKADDR_S][PKT_CTRL_S][the frame from the byte after 0x88E7 on].
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/model/records.h"
#include "platform/pktsock.h"

namespace sim {

constexpr uint16_t kBTagTpid = 0x88A8;
constexpr uint16_t kCTagTpid = 0x8100;
constexpr size_t kPbbHeaderLen = 18;    // B-DA, B-SA, B-Tag, I-Tag EtherType
constexpr size_t kITagDataMin = 16;     // flags, I-SID, C-DA, C-SA

struct PbbFrame {
    Mac bda{};
    Mac bsa{};
    uint16_t bvid = 0;
    uint8_t bpcp = 0;
    uint8_t itagFlags = 0;
    uint32_t isid = 0;
    Mac cda{};
    Mac csa{};
    std::vector<uint8_t> rest{};        // customer EtherType and payload
};

std::vector<uint8_t> encodeFrame(const PbbFrame& f);
// nullopt unless the bytes are an I-tagged frame with at least C-DA and C-SA.
std::optional<PbbFrame> decodeFrame(std::span<const uint8_t> bytes);

// The Backbone Service Instance Group address of an I-SID: 01-1E-83 and the
// I-SID's three bytes.
Mac groupAddress(uint32_t isid);

struct Datagram {
    PKT_SOCKADDR_S addr{};
    PKT_CTRL_S ctrl{};
    std::vector<uint8_t> data;
};

// A datagram's records, and its data as a view into the bytes it was read from.
struct DatagramView {
    PKT_SOCKADDR_S addr{};
    PKT_CTRL_S ctrl{};
    std::span<const uint8_t> data;
};

std::vector<uint8_t> packDatagram(const Datagram& d);
// The datagram packDatagram made, as a view into its bytes; nullopt when
// they are too short for the records.
std::optional<DatagramView> viewDatagram(std::span<const uint8_t> bytes);
// The datagram of a frame copied to the CPU from ingress ifIndex; nullopt
// for a frame that is not a well-formed I-tagged frame.
std::optional<Datagram> cpuCopy(uint32_t ingressIfIndex, std::span<const uint8_t> frame);

}  // namespace sim
