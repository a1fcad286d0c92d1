// A service's event descriptor in the client process.
//
// EventChannel is what the platform calls need of it; how events reach the
// descriptor depends on where the switch is. LocalEventChannel serves a
// switch in this process: the client's descriptor is one end of a local
// stream pair and the service keeps the other. Events wait in a queue;
// while the queue is not empty one byte waits on the client's end, so that
// the descriptor is readable exactly while events wait. Hanging up closes
// the service's end: the client's descriptor then reports hang-up (and stays
// open until the client releases it).
#pragma once

#include <cstddef>
#include <deque>
#include <optional>

#include "platform/model/records.h"
#include "platform/model/unique_fd.h"

namespace plat {

class EventChannel {
public:
    virtual ~EventChannel() = default;
    // The client's descriptor, or -1 when the channel is already open or
    // cannot be opened.
    virtual int open() = 0;
    // The client released its descriptor.
    virtual void close() = 0;
    // The service went away: queued events are dropped.
    virtual void hangUp() = 0;

    virtual bool owns(int fd) const = 0;
    virtual int fd() const = 0;
    // Open and the service is still there.
    virtual bool connected() const = 0;

    // An event for the client (a switch in this process hands them over here).
    virtual void push(const sim::Event& ev) = 0;
    // The next event waiting, without blocking.
    virtual std::optional<sim::Event> pop() = 0;
    virtual size_t pending() const = 0;
};

class LocalEventChannel final : public EventChannel {
public:
    int open() override;
    void close() override;
    void hangUp() override;

    bool owns(int fd) const override { return fd >= 0 && fd == client_.get(); }
    int fd() const override { return client_.get(); }
    bool connected() const override { return service_.valid(); }

    void push(const sim::Event& ev) override;
    std::optional<sim::Event> pop() override;
    size_t pending() const override { return queue_.size(); }

private:
    UniqueFd client_;
    UniqueFd service_;
    std::deque<sim::Event> queue_;
};

}  // namespace plat
