// A service's event descriptor in the client process.
//
// The client's descriptor is one end of a local stream pair; the service
// keeps the other. Events wait in a queue; while the queue is not empty one
// byte waits on the client's end, so that the descriptor is readable
// exactly while events wait. Hanging up closes the service's end: the
// client's descriptor then reports hang-up (and stays open until the client
// releases it).
#pragma once

#include <cstddef>
#include <deque>
#include <optional>

#include "platform/model/records.h"
#include "platform/model/unique_fd.h"

namespace plat {

class EventChannel {
public:
    // The client's descriptor, or -1 when the channel is already open or the
    // pair cannot be made.
    int open();
    // The client released its descriptor.
    void close();
    // The service went away: queued events are dropped.
    void hangUp();

    bool owns(int fd) const { return fd >= 0 && fd == client_.get(); }
    int fd() const { return client_.get(); }
    bool connected() const { return service_.valid(); }

    void push(const sim::Event& ev);
    std::optional<sim::Event> pop();
    size_t pending() const { return queue_.size(); }

private:
    UniqueFd client_;
    UniqueFd service_;
    std::deque<sim::Event> queue_;
};

}  // namespace plat
