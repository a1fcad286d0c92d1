// A daemon's side of the connection to pbb-sim spoken by hand: the
// introduction and snapshot read, requests sent with or without a
// descriptor, their replies awaited with a deadline.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "platform/transport/paths.h"
#include "platform/transport/unix_io.h"
#include "platform/transport/wire.h"

namespace pbbtest {

class RawDaemon {
public:
    RawDaemon() : fd_(plat::transport::connectUnix(plat::transport::simSocketPath(), SOCK_STREAM, false)) {}

    bool connected() const { return fd_.valid(); }

    // Reads until a message of this type came; false when none comes in time.
    bool waitFor(plat::wire::Msg want, std::vector<uint8_t>* payload = nullptr, int timeoutMs = 5000)
    {
        int64_t deadline = plat::transport::nowMs() + timeoutMs;
        for (;;) {
            plat::wire::Msg type;
            std::vector<uint8_t> p;
            while (in_.next(type, p))
                if (type == want) {
                    if (payload != nullptr) *payload = std::move(p);
                    return true;
                }
            int64_t left = deadline - plat::transport::nowMs();
            if (left <= 0) return false;
            pollfd pf{fd_.get(), POLLIN, 0};
            if (::poll(&pf, 1, static_cast<int>(left)) != 1) return false;
            std::vector<uint8_t> buf(65536);
            ssize_t n = plat::transport::recvWithFds(fd_.get(), buf, fds_, 0);
            if (n <= 0) return false;
            in_.feed(std::span<const uint8_t>(buf.data(), static_cast<size_t>(n)));
        }
    }

    // Sends one request (its sequence number first) and returns the result
    // of its reply; nullopt when the connection ends or nothing comes.
    std::optional<uint32_t> request(plat::wire::Msg type, plat::wire::Writer body, int fd = -1)
    {
        plat::wire::Writer w;
        w.u32(++seq_);
        auto rest = body.bytes();
        auto bytes = w.bytes();
        bytes.insert(bytes.end(), rest.begin(), rest.end());
        auto framed = plat::wire::frame(type, bytes);
        if (plat::transport::sendWithFd(fd_.get(), framed, fd, 0) != static_cast<ssize_t>(framed.size()))
            return std::nullopt;
        std::vector<uint8_t> reply;
        while (waitFor(plat::wire::Msg::Reply, &reply)) {
            plat::wire::Reader r(reply);
            uint32_t seq = r.u32();
            uint32_t result = r.u32();
            if (seq == seq_) return result;
        }
        return std::nullopt;
    }

private:
    plat::UniqueFd fd_;
    plat::wire::Deframer in_;
    std::deque<plat::UniqueFd> fds_;
    uint32_t seq_ = 0;
};

}  // namespace pbbtest
