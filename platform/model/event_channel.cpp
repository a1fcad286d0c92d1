#include "platform/model/event_channel.h"

#include <fcntl.h>
#include <sys/socket.h>

namespace plat {

int LocalEventChannel::open()
{
    if (client_.valid()) return -1;
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0) return -1;
    client_.reset(sv[0]);
    service_.reset(sv[1]);
    queue_.clear();
    return client_.get();
}

void LocalEventChannel::close()
{
    client_.reset();
    service_.reset();
    queue_.clear();
}

void LocalEventChannel::hangUp()
{
    service_.reset();
    queue_.clear();
}

void LocalEventChannel::push(const sim::Event& ev)
{
    if (!service_.valid()) return;
    if (queue_.empty()) {
        const char bell = 1;
        if (::send(service_.get(), &bell, 1, MSG_NOSIGNAL) != 1) return;
    }
    queue_.push_back(ev);
}

std::optional<sim::Event> LocalEventChannel::pop()
{
    if (queue_.empty()) return std::nullopt;
    sim::Event ev = std::move(queue_.front());
    queue_.pop_front();
    if (queue_.empty()) {
        char bell;
        (void)::recv(client_.get(), &bell, 1, MSG_DONTWAIT);
    }
    return ev;
}

}  // namespace plat
