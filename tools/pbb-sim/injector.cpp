#include "tools/pbb-sim/injector.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace pbbsim {

namespace {

int64_t nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void Injector::add(uint32_t port, std::vector<std::vector<uint8_t>> frames, double rate)
{
    if (frames.empty()) return;
    size_t bytes = 0;
    for (const auto& f : frames) bytes += f.size();
    frames_ += frames.size();
    bytes_ += bytes;
    jobs_.push_back(Job{port, std::move(frames), rate > 0 ? rate : 0.0, bytes});
}

void Injector::pop()
{
    frames_ -= jobs_.front().frames.size();
    bytes_ -= jobs_.front().bytes;
    jobs_.pop_front();
}

size_t Injector::waiting() const
{
    size_t n = 0;
    for (const auto& j : jobs_) n += j.frames.size() - j.next;
    return n;
}

int Injector::step(sim::SwitchModel& model, Stats& stats, const std::function<bool()>& blocked)
{
    size_t budget = kStepMax;
    while (!jobs_.empty()) {
        // Waiting for the daemon to read: the socket's writability wakes the loop.
        if (blocked && blocked()) return -1;
        Job& j = jobs_.front();
        int64_t now = nowUs();
        if (j.startUs < 0) j.startUs = now;
        size_t due = j.frames.size();
        if (j.rate > 0) {
            double elapsed = static_cast<double>(now - j.startUs) / 1e6;
            due = std::min(j.frames.size(), static_cast<size_t>(std::floor(elapsed * j.rate)) + 1);
        }
        if (j.next >= due) {
            // The next frame of a paced job is due in (next / rate) seconds.
            double at = static_cast<double>(j.next) / j.rate * 1e6 + static_cast<double>(j.startUs);
            int64_t waitUs = static_cast<int64_t>(at) - now;
            return static_cast<int>(std::max<int64_t>(1, (waitUs + 999) / 1000));
        }
        while (j.next < due && budget > 0) {
            ++stats.framesInjected;
            if (model.receiveFrame(j.port, j.frames[j.next])) ++stats.framesToCpu;
            ++j.next;
            --budget;
            if (blocked && blocked()) break;
        }
        if (j.next >= j.frames.size()) {
            pop();
            continue;
        }
        if (budget == 0) return 0;
    }
    return -1;
}

}  // namespace pbbsim
