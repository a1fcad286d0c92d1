// Frames received on a real Linux interface (a veth end, say), for a
// simulated port. A packet socket hands a frame over with its outer VLAN tag
// already stripped: the tag (TCI, and the TPID the kernel reports, 0x8100
// when it reports none) comes back from the auxiliary data (PACKET_AUXDATA)
// and is put in front of the EtherType again, so that the frame is as it
// was on the wire; a frame whose tag was not taken off stays as it is.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/model/unique_fd.h"
#include "tools/simcmd/frames.h"

namespace simcmd {

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

    // The frames waiting (at most max): I-tagged frames only, with the B-Tag
    // restored; frames this interface sent are left out.
    std::vector<Frame> readFrames(size_t max = 256);
    // Every frame waiting (at most max), tag restored, handed to `each`
    // (the bytes are valid during the call only); read kBatch at a time.
    // Frames longer than kFrameMax are left out. Returns the frames read.
    size_t readEach(size_t max, const std::function<void(std::span<const uint8_t>)>& each);

    static constexpr size_t kBatch = 32;
    static constexpr size_t kFrameMax = 16384;

private:
    std::string ifName_;
    std::string netns_;
    plat::UniqueFd fd_;
    std::vector<uint8_t> buffers_;   // kBatch slots of 4 + kFrameMax bytes: room for a tag put back
};

}  // namespace simcmd
