// Frames waiting to be handed to the switch model on a port: bursts, pcap
// contents, single frames. Jobs run one after the other, each as fast as
// possible or at its rate in frames per second. Injection pauses while the
// daemon's packet socket has frames waiting, so that a burst reaches the
// daemon whole when the daemon keeps reading.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "platform/model/switch_model.h"
#include "tools/pbb-sim/stats.h"

namespace pbbsim {

class Injector {
public:
    // Frames handed to the model in one step at most, so that the loop
    // stays responsive.
    static constexpr size_t kStepMax = 512;

    void add(uint32_t port, std::vector<std::vector<uint8_t>> frames, double rate);
    // Injects what is due now unless blocked() says to wait. Returns how
    // long the loop may wait before the next step (ms; -1: nothing left).
    int step(sim::SwitchModel& model, Stats& stats, const std::function<bool()>& blocked);
    size_t waiting() const;
    // Frames held (a job's frames stay until its last is injected) and their bytes.
    size_t frames() const { return frames_; }
    size_t bytes() const { return bytes_; }
    void clear()
    {
        jobs_.clear();
        frames_ = bytes_ = 0;
    }

private:
    struct Job {
        uint32_t port;
        std::vector<std::vector<uint8_t>> frames;
        double rate;
        size_t bytes = 0;
        size_t next = 0;
        int64_t startUs = -1;  // when its first frame went
    };
    void pop();

    std::deque<Job> jobs_;
    size_t frames_ = 0;
    size_t bytes_ = 0;
};

}  // namespace pbbsim
