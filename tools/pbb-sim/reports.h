// Line-card reports on their way to the daemon's report socket, a datagram
// socket at <run dir>/lipc.<port> whose queue the kernel keeps short (a few
// reports). pbb-sim never waits for that socket: a daemon that falls behind
// may at that moment be waiting for pbb-sim's answer to one of its calls.
// A report that finds the queue full waits here, in order behind any
// others, until the socket takes reports again (the loop wakes pbb-sim
// then). Reports are for the receiver that was there when they were made:
// when it goes away (the daemon ended or opened its report socket anew),
// those waiting are lost, as are reports nobody listens for, as on the
// switch.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "platform/model/unique_fd.h"
#include "tools/pbb-sim/loop.h"
#include "tools/pbb-sim/stats.h"

namespace pbbsim {

class ReportSender {
public:
    // Reports that may wait for one receiver; past this a report is lost.
    static constexpr size_t kWaitingMax = 4096;

    ReportSender(Loop& loop, Stats& stats, uint16_t port) : loop_(loop), stats_(stats), port_(port) {}
    ~ReportSender();
    ReportSender(const ReportSender&) = delete;
    ReportSender& operator=(const ReportSender&) = delete;

    void send(std::vector<uint8_t> report);
    size_t waiting() const { return waiting_.size(); }

private:
    enum class Sent { Done, Full, Gone, Failed };
    Sent attempt(const std::vector<uint8_t>& report);
    // Writes what waits, as far as the receiver takes it.
    void drain();
    void watch(bool on);
    void close();

    Loop& loop_;
    Stats& stats_;
    uint16_t port_;
    plat::UniqueFd sock_;  // connected to the receiver; opened at the first report
    uint64_t watch_ = 0;   // set while reports wait for room
    std::deque<std::vector<uint8_t>> waiting_;
};

}  // namespace pbbsim
