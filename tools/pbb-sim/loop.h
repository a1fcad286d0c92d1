// pbb-sim's one event loop: descriptors with their handlers on one epoll
// instance, and an idle step between rounds for work that is not tied to a
// descriptor (frames being injected at a rate).
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "platform/model/unique_fd.h"

namespace pbbsim {

class Loop {
public:
    using Handler = std::function<void(uint32_t events)>;

    Loop();  // throws std::system_error
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    // Watches fd for events (EPOLL* bits); the returned id names the watch.
    // The descriptor must stay open until remove().
    uint64_t add(int fd, uint32_t events, Handler handler);
    void modify(uint64_t id, uint32_t events);
    void remove(uint64_t id);

    // Runs rounds until stop(). After every round idle() says how long the
    // next wait may last in milliseconds (-1: until a descriptor is ready).
    void run(const std::function<int()>& idle);
    void stop() { stop_ = true; }

private:
    struct Watch {
        int fd;
        Handler handler;
    };
    plat::UniqueFd ep_;
    std::map<uint64_t, Watch> watches_;
    uint64_t next_ = 1;
    bool stop_ = false;
};

}  // namespace pbbsim
