#include "tools/pbb-sim/loop.h"

#include <sys/epoll.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace pbbsim {

Loop::Loop() : ep_(::epoll_create1(EPOLL_CLOEXEC))
{
    if (!ep_.valid()) throw std::system_error(errno, std::generic_category(), "epoll");
}

uint64_t Loop::add(int fd, uint32_t events, Handler handler)
{
    uint64_t id = next_++;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = id;
    if (::epoll_ctl(ep_.get(), EPOLL_CTL_ADD, fd, &ev) != 0)
        throw std::system_error(errno, std::generic_category(), "epoll add");
    watches_[id] = Watch{fd, std::move(handler)};
    return id;
}

void Loop::modify(uint64_t id, uint32_t events)
{
    auto it = watches_.find(id);
    if (it == watches_.end()) return;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = id;
    (void)::epoll_ctl(ep_.get(), EPOLL_CTL_MOD, it->second.fd, &ev);
}

void Loop::remove(uint64_t id)
{
    auto it = watches_.find(id);
    if (it == watches_.end()) return;
    (void)::epoll_ctl(ep_.get(), EPOLL_CTL_DEL, it->second.fd, nullptr);
    watches_.erase(it);
}

void Loop::run(const std::function<int()>& idle)
{
    stop_ = false;
    std::array<epoll_event, 64> events{};
    int wait = 0;
    while (!stop_) {
        int n = ::epoll_wait(ep_.get(), events.data(), static_cast<int>(events.size()), wait);
        if (n < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "epoll wait");
        for (int i = 0; i < n && !stop_; ++i) {
            // A handler may have removed a later watch of this round.
            // epoll_event is packed: copy its data word rather than bind a
            // reference to a misaligned field.
            const uint64_t id = events[static_cast<size_t>(i)].data.u64;
            auto it = watches_.find(id);
            if (it == watches_.end()) continue;
            Handler h = it->second.handler;
            h(events[static_cast<size_t>(i)].events);
        }
        wait = idle ? idle() : -1;
    }
}

}  // namespace pbbsim
