// Frames received on a real Linux interface (a veth end, say), for a
// simulated port. A packet socket hands a frame over with its outer VLAN tag
// already stripped: the tag comes back from the auxiliary data
// (PACKET_AUXDATA) and is put in front of the EtherType again, so that the
// frame is as it was on the wire.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/model/unique_fd.h"
#include "tools/simcmd/frames.h"

namespace simcmd {

// The outer tag as the auxiliary data reports it.
struct StrippedTag {
    bool present = false;   // the kernel took a tag off
    uint16_t tpid = 0x8100;
    uint16_t tci = 0;
};

// The frame with its stripped tag put back after the source MAC; as it is
// when no tag was stripped (or the frame is shorter than two MACs).
Frame restoreTag(std::span<const uint8_t> bytes, const StrippedTag& tag);

class LinkCapture {
public:
    // Opens a raw packet socket on linuxIf; with netns non-empty the socket
    // is made inside /var/run/netns/<netns> (this thread enters it for the
    // creation only). Throws std::runtime_error naming the interface or
    // namespace on failure.
    LinkCapture(const std::string& linuxIf, const std::string& netns = "");

    // Non-blocking; readable when frames wait.
    int fd() const { return fd_.get(); }
    const std::string& ifName() const { return ifName_; }
    const std::string& netns() const { return netns_; }

    // The frames waiting (at most max): I-tagged frames only (every frame
    // with `everything`), with the B-Tag restored; frames this interface
    // sent are left out.
    std::vector<Frame> readFrames(size_t max = 256, bool everything = false);

private:
    std::string ifName_;
    std::string netns_;
    plat::UniqueFd fd_;
};

}  // namespace simcmd
