// pbb-sim as a backbone edge bridge: frames read from the Linux interfaces
// bound to ports go through the data plane, which is run here on the loop.
// What it forwards leaves on the Linux interfaces bound to the egress ports
// (the bound packet sockets; a B-tag goes out in the frame's bytes), what
// it copies to the CPU goes to the model's CPU path (the daemon's packet
// socket), and its ageing runs on a timer of the loop, sending the line
// cards' ageing reports through the model.
#pragma once

#include <cstdint>
#include <map>
#include <span>

#include <nlohmann/json.hpp>

#include "platform/model/switch_model.h"
#include "platform/model/unique_fd.h"
#include "tools/pbb-sim/dataplane/dataplane.h"
#include "tools/pbb-sim/loop.h"
#include "tools/pbb-sim/stats.h"

namespace pbbsim {

class Forwarder {
public:
    Forwarder(Loop& loop, sim::SwitchModel& model, Stats& stats);
    ~Forwarder();
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    // A bound Linux interface's socket sends the port's frames, until detached.
    void attach(uint32_t port, int fd) { tx_.emplace(port, fd); }
    void detach(int fd);

    // One frame read on a port. False when the port does not take it: a
    // port that is not a circuit takes I-tagged frames only (the others are
    // counted, and left, as link capture always left them). What it sends
    // waits for flush().
    bool receive(uint32_t port, std::span<const uint8_t> frame);
    // After a batch of frames: sends what they left waiting, many frames
    // per system call, and reports the backbone addresses whose traffic
    // resumed.
    void flush();

    nlohmann::json show() const;

private:
    void tick();
    void arm();
    void send(const std::vector<sim::AgeReport>& reports);

    Loop& loop_;
    sim::SwitchModel& model_;
    Stats& stats_;
    dp::DataPlane dp_;
    // Frames waiting for one socket, in order: their bytes end to end.
    struct TxQueue {
        uint32_t port = 0;
        std::vector<uint8_t> bytes;
        std::vector<size_t> ends;
    };
    std::multimap<uint32_t, int> tx_;   // port -> packet socket of a Linux interface bound to it
    std::map<int, TxQueue> queued_;
    plat::UniqueFd timer_;
    uint64_t watch_ = 0;
    uint32_t periodMs_ = 0;
};

}  // namespace pbbsim
