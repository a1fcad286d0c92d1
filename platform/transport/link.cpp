#include "platform/transport/link.h"

#include <poll.h>
#include <sys/socket.h>
#include <syslog.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/stub/logfile.h"
#include "platform/testing.h"
#include "platform/transport/paths.h"
#include "platform/transport/unix_io.h"

namespace plat::transport {

using wire::Msg;

Link::Link(bool enabled) : enabled_(enabled), buf_(64 * 1024) { mirror_.clear(); }

bool Link::ensure()
{
    if (connected_) return true;
    if (!enabled_ || nowMs() < holdUntilMs_) return false;
    return connect();
}

bool Link::connect()
{
    const std::string path = simSocketPath();
    UniqueFd s = connectUnix(path, SOCK_STREAM, true);
    if (!s.valid()) {
        note(LOG_ERR, "cannot reach the simulated switch at " + path + ": " + std::strerror(errno));
        nextHoldMs_ = 0;
        return false;
    }
    // Room for many forwarding records on their way: each is a small write
    // that the socket accounts at about a kilobyte, so the default room
    // held a few hundred, and a restarting or learning daemon stopped at
    // each few hundred entries until pbb-sim was scheduled to read them.
    int room = kSendRoom;
    (void)::setsockopt(s.get(), SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    sock_ = std::move(s);
    in_ = wire::Deframer();
    fds_.clear();
    readBytes_ = 0;
    seq_ = 0;
    waitingFor_.reset();
    mirror_.clear();
    handshake_ = true;
    helloSeen_ = snapshotDone_ = false;
    refused_.clear();
    bool ok = readUntil([this] { return snapshotDone_ || !refused_.empty(); }, nowMs() + kReplyTimeoutMs);
    handshake_ = false;
    if (!ok) return false;  // readUntil said why
    if (!refused_.empty()) {
        closeSocket();
        note(LOG_ERR, "the simulated switch at " + path + " refused this process: " + refused_);
        return false;
    }
    if (!helloSeen_ || !counter_.attached() || !ring_) {
        closeSocket();
        note(LOG_ERR, "the simulated switch at " + path + " did not introduce itself");
        return false;
    }
    connected_ = true;
    nextHoldMs_ = 0;
    note(LOG_INFO, "connected to the simulated switch at " + path + " (pbb-sim pid " + std::to_string(simPid_) +
                       ", session " + std::to_string(session_) + ")");
    return true;
}

void Link::closeSocket()
{
    sock_.reset();
    counter_.detach();
    ring_.reset();
    fds_.clear();
    in_ = wire::Deframer();
    mirror_.clear();
    // Records not sent go with the connection: a daemon that registers
    // again opens a refresh window and programs what it keeps.
    shadow_.clear();
    staged_.clear();
    stagedCount_ = 0;
}

void Link::disconnect(const std::string& why, bool unanswered)
{
    bool was = connected_;
    connected_ = false;
    closeSocket();
    std::string text = (was ? "lost the simulated switch: " : "could not connect to the simulated switch: ") + why;
    // The problem a failed start-up reports is the failure, not the wait.
    if (firstProblem_.empty()) firstProblem_ = text;
    if (unanswered) {
        int64_t hold = nextHoldMs_ == 0 ? kReplyTimeoutMs : nextHoldMs_;
        holdUntilMs_ = nowMs() + hold;
        nextHoldMs_ = std::min(2 * hold, kHoldMaxMs);
        text += "; trying again in " + std::to_string(hold / 1000) + " s";
    } else {
        nextHoldMs_ = 0;
    }
    note(LOG_ERR, text);
    if (was && serviceDown_)
        for (size_t s = 0; s < sim::kServiceCount; ++s) serviceDown_(static_cast<sim::Service>(s));
}

void Link::sync()
{
    if (!connected_ || (counter_.load() == readBytes_ && in_.buffered() == 0)) return;
    readUntil(nullptr, 0);
}

void Link::poll()
{
    if (connected_) readUntil(nullptr, 0);
}

bool Link::readUntil(const std::function<bool()>& done, int64_t deadline)
{
    try {
        for (;;) {
            Msg type;
            std::vector<uint8_t> payload;
            while (in_.next(type, payload)) {
                handle(type, payload);
                if (done && done()) return true;
            }
            ssize_t n = recvWithFds(sock_.get(), buf_, fds_, MSG_DONTWAIT);
            if (n > 0) {
                readBytes_ += static_cast<uint64_t>(n);
                in_.feed(std::span<const uint8_t>(buf_.data(), static_cast<size_t>(n)));
                continue;
            }
            if (n == 0) {
                disconnect("the simulator closed the connection");
                return false;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                disconnect(std::string("reading from the simulator: ") + std::strerror(errno));
                return false;
            }
            if (!done) return true;
            int64_t left = deadline - nowMs();
            if (left <= 0) {
                disconnect("no answer from the simulator within " + std::to_string(kReplyTimeoutMs) + " ms", true);
                return false;
            }
            pollfd p{sock_.get(), POLLIN, 0};
            (void)::poll(&p, 1, static_cast<int>(left));
        }
    } catch (const wire::WireError& e) {
        disconnect(std::string("malformed message from the simulator: ") + e.what());
        return false;
    }
}

void Link::handle(Msg type, const std::vector<uint8_t>& payload)
{
    wire::Reader r(payload);
    switch (type) {
    case Msg::Hello: {
        if (!handshake_) throw wire::WireError("a second introduction");
        uint32_t version = r.u32();
        simPid_ = static_cast<pid_t>(r.u32());
        session_ = r.u32();
        r.end();
        if (version != wire::kVersion)
            throw wire::WireError("protocol version " + std::to_string(version) + ", this library speaks " +
                                  std::to_string(wire::kVersion));
        if (fds_.empty() || !counter_.attach(std::move(fds_.front())))
            throw wire::WireError("the introduction came without its shared counter");
        fds_.pop_front();
        if (fds_.empty() || !(ring_ = RecordRing::attach(std::move(fds_.front()))))
            throw wire::WireError("the introduction came without its record ring");
        fds_.pop_front();
        helloSeen_ = true;
        return;
    }
    case Msg::Refused:
        refused_ = r.str();
        if (refused_.empty()) refused_ = "(no reason given)";
        return;
    case Msg::SnapshotEnd:
        r.end();
        snapshotDone_ = true;
        return;
    case Msg::Reply: {
        uint32_t seq = r.u32();
        uint32_t result = r.u32();
        r.end();
        if (!waitingFor_ || seq != *waitingFor_) throw wire::WireError("a reply to no request");
        waitingFor_.reset();
        reply_ = result;
        return;
    }
    case Msg::Fault: {
        std::string name = r.str();
        int64_t result = r.i64();
        uint32_t times = r.u32();
        r.end();
        plat::testing::failCall(name, result, times);
        return;
    }
    case Msg::ClearFaults:
        r.end();
        plat::testing::clearFaults();
        return;
    case Msg::FibUnicast:
    case Msg::FibMulticast:
    case Msg::FibMarks:
        if (!handshake_) throw wire::WireError(std::string(wire::msgName(type)) + " after the snapshot");
        (void)shadow_.apply(type, payload);
        return;
    default: break;
    }
    uint32_t downBefore = mirror_.downMask();
    if (!mirror_.apply(type, payload))
        throw wire::WireError(std::string("unexpected message ") + wire::msgName(type));
    // The switch drops a removed VSI's forwarding entries.
    if (type == Msg::DelVsi) shadow_.vsiGone(r.u32());
    uint32_t newlyDown = mirror_.downMask() & ~downBefore;
    if ((newlyDown & Mirror::bit(sim::Service::L2vpn)) != 0) shadow_.serviceDown();
    if (handshake_ || newlyDown == 0 || !serviceDown_) return;
    for (size_t s = 0; s < sim::kServiceCount; ++s)
        if ((newlyDown & Mirror::bit(static_cast<sim::Service>(s))) != 0) serviceDown_(static_cast<sim::Service>(s));
}

bool Link::sendAll(const std::vector<uint8_t>& bytes, int fd, int64_t deadline)
{
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = sendWithFd(sock_.get(), std::span<const uint8_t>(bytes).subspan(off), off == 0 ? fd : -1,
                               MSG_DONTWAIT);
        if (n > 0) {
            off += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            disconnect(std::string("writing to the simulator: ") + std::strerror(errno));
            return false;
        }
        int64_t left = deadline - nowMs();
        if (left <= 0) {
            disconnect("the simulator takes no requests", true);
            return false;
        }
        pollfd p{sock_.get(), POLLOUT, 0};
        (void)::poll(&p, 1, static_cast<int>(left));
    }
    return true;
}

void Link::stage(const sim::MinMRequest& req, uint32_t result)
{
    if (!connected_) return;
    staged_.u32(result);
    wire::put(staged_, req);
    ++stagedCount_;
    // A client that adds without flushing does not make one huge message:
    // what waits goes out early, in the same order. At most half the ring
    // and one record (256 ports, about 1.1 KB), a message always fits the
    // ring once pbb-sim has taken it (4 KiB at the least).
    if (staged_.bytes().size() < std::min(kStagedMax, ring_->capacity() / 2)) return;
    (void)sendRecords(false, 0);
}

// Written in place: a learning daemon makes one of these per entry.
void Link::takeStaged(std::vector<uint8_t>& out, bool flush, uint32_t flushResult)
{
    if (stagedCount_ == 0 && !flush) return;
    const std::vector<uint8_t>& records = staged_.bytes();
    const uint32_t length = static_cast<uint32_t>(4 + 4 + records.size() + 1 + 4);
    const uint16_t type = static_cast<uint16_t>(Msg::Records);
    uint8_t head[wire::kHeaderLen + 8] = {};
    std::memcpy(head, &length, 4);
    std::memcpy(head + 4, &type, 2);
    std::memcpy(head + wire::kHeaderLen + 4, &stagedCount_, 4);  // after sequence number 0
    uint8_t tail[5] = {static_cast<uint8_t>(flush ? 1 : 0)};
    std::memcpy(tail + 1, &flushResult, 4);
    out.insert(out.end(), std::begin(head), std::end(head));
    out.insert(out.end(), records.begin(), records.end());
    out.insert(out.end(), std::begin(tail), std::end(tail));
    recordsSent_ += stagedCount_;
    staged_.clear();
    stagedCount_ = 0;
}

bool Link::commit(uint32_t flushResult) { return sendRecords(true, flushResult); }

bool Link::sendRecords(bool flush, uint32_t flushResult)
{
    if (!connected_) return false;
    sendBuf_.clear();
    takeStaged(sendBuf_, flush, flushResult);
    if (sendBuf_.empty()) return true;
    if (!ring_->put(sendBuf_)) {
        // pbb-sim has not taken the ring for a while (busy, stopped): it
        // answers a request once it has taken all of it.
        if (!call(Msg::Ping, wire::Writer())) return false;
        if (!ring_->put(sendBuf_)) {
            disconnect("the simulator does not take forwarding records", true);
            return false;
        }
    }
    if (!ring_->takeRingRequest()) return true;
    static const std::vector<uint8_t> bell = wire::frame(Msg::RingBell, wire::Writer().u32(0).bytes());
    ++bellsRung_;
    return sendAll(bell, -1, nowMs() + kReplyTimeoutMs);
}

std::optional<uint32_t> Link::call(Msg type, const wire::Writer& body, int fd)
{
    if (!connected_) return std::nullopt;
    // Records waiting go first, into the ring, which pbb-sim takes before it
    // reads the request: the request finds them applied.
    if (stagedCount_ != 0 && !sendRecords(false, 0)) return std::nullopt;
    uint32_t seq = ++seq_;
    wire::Writer w;
    w.u32(seq);
    w.raw(body.bytes().data(), body.bytes().size());
    int64_t deadline = nowMs() + kReplyTimeoutMs;
    // A descriptor passed along travels with the request's first byte;
    // pbb-sim keeps it until the request that takes it.
    if (!sendAll(wire::frame(type, w.bytes()), fd, deadline)) return std::nullopt;
    waitingFor_ = seq;
    reply_.reset();
    if (!readUntil([this] { return reply_.has_value(); }, deadline)) return std::nullopt;
    return reply_;
}

void Link::note(int priority, const std::string& text)
{
    if (priority != LOG_INFO && firstProblem_.empty()) firstProblem_ = text;
    // A failure that repeats (a daemon retrying every second) is logged once.
    if (priority != LOG_INFO && text == lastNote_) return;
    lastNote_ = text;
    plat::writeLog(LOG_DAEMON | priority, "platform", "SWITCH", text);
}

}  // namespace plat::transport
