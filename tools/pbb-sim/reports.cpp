#include "tools/pbb-sim/reports.h"

#include <sys/epoll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/lipc.h"
#include "platform/transport/unix_io.h"

namespace pbbsim {

ReportSender::~ReportSender() { close(); }

void ReportSender::send(std::vector<uint8_t> report)
{
    if (!waiting_.empty()) {
        if (waiting_.size() >= kWaitingMax)
            ++stats_.reportsLost;
        else
            waiting_.push_back(std::move(report));
        return;
    }
    Sent r = attempt(report);
    if (r == Sent::Gone) {
        // The receiver the socket was connected to is gone; another may
        // listen at the path now (a daemon that started again).
        close();
        r = attempt(report);
    }
    if (r == Sent::Done) {
        ++stats_.reportsSent;
    } else if (r == Sent::Full) {
        waiting_.push_back(std::move(report));
        watch(true);
    } else {
        if (r == Sent::Gone) close();
        ++stats_.reportsLost;
    }
}

ReportSender::Sent ReportSender::attempt(const std::vector<uint8_t>& report)
{
    if (!sock_.valid()) {
        sock_ = plat::transport::connectUnix(plat::lipcPath(port_), SOCK_DGRAM, true);
        if (!sock_.valid()) return Sent::Failed;  // nobody listens
    }
    ssize_t n = ::send(sock_.get(), report.data(), report.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) return Sent::Done;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Sent::Full;
    if (errno == ECONNREFUSED || errno == ENOTCONN || errno == ECONNRESET) return Sent::Gone;
    return Sent::Failed;
}

void ReportSender::drain()
{
    while (!waiting_.empty()) {
        Sent r = attempt(waiting_.front());
        if (r == Sent::Full) return;
        if (r == Sent::Gone) {
            // What waits was for the receiver that went away.
            stats_.reportsLost += waiting_.size();
            waiting_.clear();
            close();
            return;
        }
        if (r == Sent::Done)
            ++stats_.reportsSent;
        else
            ++stats_.reportsLost;
        waiting_.pop_front();
    }
    watch(false);
}

void ReportSender::watch(bool on)
{
    if (on && watch_ == 0)
        watch_ = loop_.add(sock_.get(), EPOLLOUT, [this](uint32_t) { drain(); });
    else if (!on && watch_ != 0) {
        loop_.remove(watch_);
        watch_ = 0;
    }
}

void ReportSender::close()
{
    watch(false);
    sock_.reset();
}

}  // namespace pbbsim
