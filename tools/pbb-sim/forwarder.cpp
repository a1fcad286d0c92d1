#include "tools/pbb-sim/forwarder.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/transport/unix_io.h"
#include "tools/simcmd/frames.h"

namespace pbbsim {

namespace {

// The ageing runs four times per age time, at most once a second and at
// least every 100 ms: an address ages within a quarter of the age time
// (or a second) after it fell silent.
uint32_t periodFor(uint32_t ageSeconds)
{
    return std::clamp<uint32_t>(ageSeconds * 250, 100, 1000);
}

}  // namespace

Forwarder::Forwarder(Loop& loop, sim::SwitchModel& model, Stats& stats)
    : loop_(loop), model_(model), stats_(stats), dp_(model),
      timer_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
{
    if (!timer_.valid()) throw std::system_error(errno, std::generic_category(), "timerfd");
    arm();
    watch_ = loop_.add(timer_.get(), EPOLLIN, [this](uint32_t) { tick(); });
}

Forwarder::~Forwarder() { loop_.remove(watch_); }

void Forwarder::arm()
{
    periodMs_ = periodFor(model_.bridge().ageSeconds());
    itimerspec its{};
    its.it_interval.tv_sec = periodMs_ / 1000;
    its.it_interval.tv_nsec = static_cast<long>(periodMs_ % 1000) * 1000000L;
    its.it_value = its.it_interval;
    if (::timerfd_settime(timer_.get(), 0, &its, nullptr) != 0)
        throw std::system_error(errno, std::generic_category(), "timerfd_settime");
}

void Forwarder::detach(int fd)
{
    std::erase_if(tx_, [fd](const auto& kv) { return kv.second == fd; });
    queued_.erase(fd);
}

bool Forwarder::receive(uint32_t port, std::span<const uint8_t> frame)
{
    const dp::Decision& d = dp_.receive(port, frame, plat::transport::nowMs());
    for (const dp::Egress& e : d.out) {
        std::span<const uint8_t> bytes = d.bytes(e.payload, frame);
        auto [first, last] = tx_.equal_range(e.port);
        if (first == last) dp_.transmitted(e.port, dp::Tx::Unbound);
        for (auto it = first; it != last; ++it) {
            TxQueue& q = queued_[it->second];
            q.port = e.port;
            q.bytes.insert(q.bytes.end(), bytes.begin(), bytes.end());
            q.ends.push_back(q.bytes.size());
        }
    }
    if ((d.flags & dp::kToCpu) != 0 && model_.receiveFrame(port, frame)) ++stats_.framesToCpu;
    return model_.bridge().circuitVsi(port).has_value() || simcmd::isPbbFrame(frame);
}

void Forwarder::flush()
{
    std::vector<iovec> iov;
    std::vector<mmsghdr> msgs;
    for (auto& [fd, q] : queued_) {
        if (q.ends.empty()) continue;
        iov.resize(q.ends.size());
        msgs.assign(q.ends.size(), mmsghdr{});
        for (size_t i = 0, start = 0; i < q.ends.size(); start = q.ends[i++]) {
            iov[i] = {q.bytes.data() + start, q.ends[i] - start};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        // A frame the socket refuses counts as failed; the rest still go.
        for (size_t i = 0; i < msgs.size();) {
            int n = ::sendmmsg(fd, msgs.data() + i, static_cast<unsigned>(msgs.size() - i), MSG_DONTWAIT | MSG_NOSIGNAL);
            for (int k = 0; k < n; ++k) dp_.transmitted(q.port, dp::Tx::Sent);
            if (n <= 0) dp_.transmitted(q.port, dp::Tx::Failed);
            i += n > 0 ? static_cast<size_t>(n) : 1;
        }
        q.bytes.clear();
        q.ends.clear();
    }
    send(dp_.resumed());
}

void Forwarder::tick()
{
    uint64_t expirations = 0;
    (void)::read(timer_.get(), &expirations, sizeof expirations);
    send(dp_.age(plat::transport::nowMs()));
    if (periodFor(model_.bridge().ageSeconds()) != periodMs_) arm();
}

void Forwarder::send(const std::vector<sim::AgeReport>& reports)
{
    for (const sim::AgeReport& r : reports) model_.sendReport({r});
}

nlohmann::json Forwarder::show() const { return dp_.show(plat::transport::nowMs()); }

}  // namespace pbbsim
