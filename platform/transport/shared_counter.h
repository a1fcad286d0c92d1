// A byte counter in memory shared between the simulator and one daemon.
//
// The simulator adds every byte it has written on the daemon's connection;
// the daemon's platform library compares it with the bytes it has read and
// reads its connection only when they differ. A query answered from the
// library's copy of the switch's state thus costs one memory load, and
// every state change the simulator sent before an event or a frame is
// known to the library by the time it handles that event or frame.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/model/unique_fd.h"

namespace plat::transport {

// The simulator's side: owns the memory and its descriptor.
class SharedCounter {
public:
    // Throws std::system_error when the memory cannot be made.
    SharedCounter();
    ~SharedCounter();
    SharedCounter(const SharedCounter&) = delete;
    SharedCounter& operator=(const SharedCounter&) = delete;

    // The descriptor to pass to the daemon.
    int fd() const { return fd_.get(); }
    void add(uint64_t n) { std::atomic_ref<uint64_t>(*value_).fetch_add(n, std::memory_order_release); }
    uint64_t load() const { return std::atomic_ref<uint64_t>(*value_).load(std::memory_order_acquire); }

private:
    UniqueFd fd_;
    uint64_t* value_ = nullptr;
};

// The daemon's side: a read-only view.
class CounterView {
public:
    CounterView() = default;
    // False when the descriptor is not a counter.
    bool attach(UniqueFd fd);
    void detach();
    ~CounterView() { detach(); }
    CounterView(const CounterView&) = delete;
    CounterView& operator=(const CounterView&) = delete;

    bool attached() const { return value_ != nullptr; }
    uint64_t load() const
    {
        return std::atomic_ref<uint64_t>(*const_cast<uint64_t*>(value_)).load(std::memory_order_acquire);
    }

private:
    const uint64_t* value_ = nullptr;
};

}  // namespace plat::transport
