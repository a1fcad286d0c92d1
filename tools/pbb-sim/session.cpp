#include "tools/pbb-sim/session.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <syslog.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/result.h"
#include "platform/stub/logfile.h"
#include "platform/transport/unix_io.h"
#include "tools/pbb-sim/records.h"

namespace pbbsim {

void logError(const std::string& text) { plat::writeLog(LOG_DAEMON | LOG_ERR, "pbb-sim", "SIM", text); }

using plat::wire::Msg;
using plat::wire::Reader;
using plat::wire::WireError;
using plat::wire::Writer;

namespace {

constexpr uint32_t kMainEvents = EPOLLIN | EPOLLRDHUP;
constexpr uint32_t kGone = EPOLLHUP | EPOLLRDHUP | EPOLLERR;
constexpr size_t kReadChunk = 64 * 1024;

bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }


// Channels and packet sockets are sequenced-packet sockets the loop can
// watch; anything else a peer passes (a regular file, a pipe) is refused.
bool isSocket(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

// Lets a packet socket hold many frames before the daemon reads them; the
// forced size needs privileges, the plain one is capped by the system.
void widenSendBuffer(int fd)
{
    int size = 4 << 20;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0)
        (void)::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
}

}  // namespace

Session::Session(Loop& loop, sim::SwitchModel& model, Stats& stats, plat::UniqueFd sock, uint32_t number,
                 size_t ringCapacity)
    : loop_(loop), model_(model), stats_(stats), sock_(std::move(sock)), number_(number), ring_(ringCapacity)
{
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(sock_.get(), SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0) pid_ = cred.pid;
    watch_ = loop_.add(sock_.get(), kMainEvents, [this](uint32_t ev) {
        guarded([&] {
            if ((ev & EPOLLOUT) != 0) onWritable();
            if ((ev & (EPOLLIN | kGone)) != 0) onReadable();
        });
    });
}

Session::~Session() { end("pbb-sim stops"); }

void Session::start()
{
    Writer hello;
    hello.u32(plat::wire::kVersion).u32(static_cast<uint32_t>(::getpid())).u32(number_);
    auto bytes = plat::wire::frame(Msg::Hello, hello.bytes());
    const int shared[] = {counter_.fd(), ring_.fd()};
    ssize_t n = plat::transport::sendWithFds(sock_.get(), bytes, shared, MSG_DONTWAIT);
    if (n <= 0) {
        end(std::string("cannot greet the daemon: ") + std::strerror(errno));
        return;
    }
    counter_.add(static_cast<uint64_t>(n));
    if (static_cast<size_t>(n) < bytes.size()) {
        out_.assign(bytes.begin() + n, bytes.end());
        loop_.modify(watch_, kMainEvents | EPOLLOUT);
    }
    publish();
    for (auto& [type, payload] : fibSnapshot(model_.fib())) send(type, payload);
}

void Session::snapshotDone() { send(Msg::SnapshotEnd, {}); }

bool Session::alive()
{
    if (ended_) return false;
    // A daemon that ended (perhaps in the middle of a request) has shut its
    // side down, whatever it left unread.
    pollfd p{sock_.get(), POLLRDHUP, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
        // What it sent before it went is served first: its records stand.
        catchUp();
        end("the daemon went away");
        return false;
    }
    return true;
}

void Session::catchUp()
{
    (void)takeRing();
    // What waits now, not what a busy daemon keeps sending meanwhile.
    int waiting = 0;
    if (ended_ || ::ioctl(sock_.get(), FIONREAD, &waiting) != 0) waiting = 0;
    auto left = static_cast<size_t>(std::max(waiting, 0));
    guarded([&] {
        // A hang-up with nothing before it still ends the session here.
        do {
            size_t got = readOnce(std::clamp<size_t>(left, 1, kReadChunk));
            if (got == 0) return;
            left -= std::min(left, got);
        } while (left > 0);
    });
}

void Session::end(const std::string& why)
{
    if (ended_) return;
    ended_ = true;
    why_ = why;
    for (const auto& [handle, sub] : subs_) (void)model_.unsubscribe(handle, sub.mask);
    subs_.clear();
    for (size_t s = 0; s < channels_.size(); ++s) closeChannel(static_cast<sim::Service>(s));
    closeAllPackets();
    held_.clear();
    loop_.remove(watch_);
    sock_.reset();
}

void Session::onReadable() { (void)readOnce(kReadChunk); }

size_t Session::readOnce(size_t most)
{
    if (ended_) return 0;
    std::vector<uint8_t>& buf = readBuffer_;
    if (buf.size() != kReadChunk) buf.resize(kReadChunk);
    std::span<uint8_t> into(buf.data(), std::min(most, kReadChunk));
    ssize_t n = plat::transport::recvWithFds(sock_.get(), into, fds_, MSG_DONTWAIT);
    if (n < 0 && wouldBlock()) return 0;
    // What this read brought (or the end) was sent after the records the
    // ring holds now: they come first.
    if (n >= 0) (void)takeRing();
    if (ended_) return 0;
    if (n == 0) {
        end("the daemon closed its connection");
        return 0;
    }
    if (n < 0) {
        end(std::string("reading from the daemon: ") + std::strerror(errno));
        return 0;
    }
    in_.feed(std::span<const uint8_t>(buf.data(), static_cast<size_t>(n)));
    try {
        Msg type;
        std::vector<uint8_t> payload;
        while (!ended_ && in_.next(type, payload)) handle(type, payload);
    } catch (const WireError& e) {
        ++stats_.broken;
        end(std::string("malformed request: ") + e.what());
    }
    return ended_ ? 0 : static_cast<size_t>(n);
}

void Session::guarded(const std::function<void()>& work)
{
    try {
        work();
    } catch (const std::exception& e) {
        // Whatever the daemon provoked ends its session, never pbb-sim.
        ++stats_.broken;
        logError("daemon pid " + std::to_string(pid_) + " (session " + std::to_string(number_) +
                 "): " + e.what() + "; its session ends");
        end(std::string("serving it failed: ") + e.what());
    }
}

void Session::reply(uint32_t seq, uint32_t result)
{
    Writer w;
    w.u32(seq).u32(result);
    send(Msg::Reply, w.bytes());
}

void Session::handle(Msg type, const std::vector<uint8_t>& payload)
{
    Reader r(payload);
    uint32_t seq = r.u32();
    auto takeFd = [this] {
        if (fds_.empty()) throw WireError("a descriptor was announced but did not come");
        plat::UniqueFd fd = std::move(fds_.front());
        fds_.pop_front();
        return fd;
    };
    if (type == Msg::Records) return applyRecords(r);
    if (type == Msg::RingBell) return r.end();  // the read that brought it took the ring
    ++stats_.requests;
    switch (type) {
    case Msg::Subscribe: {
        sim::Subscription sub = plat::wire::getSubscription(r);
        r.end();
        uint32_t handle = model_.subscribe(sub);
        if (handle != 0) subs_[handle] = Sub{sub.kind, sub.mask};
        return reply(seq, handle);
    }
    case Msg::Unsubscribe: {
        uint32_t handle = r.u32();
        uint32_t mask = r.u32();
        r.end();
        uint32_t rc = model_.unsubscribe(handle, mask);
        if (rc == PLAT_OK) subs_.erase(handle);
        return reply(seq, rc);
    }
    case Msg::Acknowledge: {
        sim::Ack ack = plat::wire::getAck(r);
        r.end();
        model_.acknowledge(ack);
        return reply(seq, PLAT_OK);
    }
    case Msg::SetPbbMode: {
        uint32_t ifIndex = r.u32();
        uint32_t mode = r.u32();
        r.end();
        return reply(seq, model_.setPbbMode(ifIndex, mode));
    }
    case Msg::SetVsiAttr: {
        uint32_t vsi = r.u32();
        uint32_t attr = r.u32();
        uint32_t value = r.u32();
        r.end();
        return reply(seq, model_.setVsiAttr(vsi, attr, value));
    }
    case Msg::RefreshWindow: {
        uint32_t client = r.u32();
        uint32_t phase = r.u32();
        r.end();
        return reply(seq, model_.refreshWindow(client, phase));
    }
    case Msg::RequestBatch: {
        uint32_t selector = r.u32();
        r.end();
        return reply(seq, model_.requestBatch(selector));
    }
    case Msg::OpenChannel: {
        uint8_t s = r.u8();
        r.end();
        if (s >= sim::kServiceCount) throw WireError("no service " + std::to_string(s));
        plat::UniqueFd fd = takeFd();
        auto service = static_cast<sim::Service>(s);
        if (!model_.serviceUp(service)) return reply(seq, 1);
        if (!isSocket(fd.get())) return refuseDescriptor(seq, "an event channel");
        openChannel(service, std::move(fd));
        return reply(seq, PLAT_OK);
    }
    case Msg::OpenPacket: {
        uint32_t id = r.u32();
        r.end();
        plat::UniqueFd fd = takeFd();
        if (!model_.serviceUp(sim::Service::Packet)) return reply(seq, 1);
        if (!isSocket(fd.get())) return refuseDescriptor(seq, "a packet socket");
        openPacket(id, std::move(fd));
        return reply(seq, PLAT_OK);
    }
    case Msg::PacketBind: {
        uint32_t id = r.u32();
        uint16_t etherType = r.u16();
        r.end();
        auto it = packets_.find(id);
        if (it == packets_.end()) return reply(seq, PLAT_ERR_NOT_FOUND);
        it->second.bound = true;
        it->second.etherType = etherType;
        return reply(seq, PLAT_OK);
    }
    case Msg::PacketRecvAll: {
        uint32_t id = r.u32();
        bool all = r.boolean();
        r.end();
        auto it = packets_.find(id);
        if (it == packets_.end()) return reply(seq, PLAT_ERR_NOT_FOUND);
        it->second.recvAll = all;
        return reply(seq, PLAT_OK);
    }
    case Msg::Ping: r.end(); return reply(seq, PLAT_OK);
    default: throw WireError("unknown request type " + std::to_string(static_cast<unsigned>(type)));
    }
}

bool Session::takeRing()
{
    if (ended_) return false;
    ringBytes_.clear();
    if (!ring_.take(ringBytes_)) {
        ++stats_.broken;
        end("the record ring's count of written bytes is not believable");
        return false;
    }
    if (ringBytes_.empty()) return false;
    ringIn_.feed(ringBytes_);
    // Taken from the loop's idle step too: nothing the records provoke may
    // leave the session.
    guarded([&] {
        try {
            Msg type;
            std::vector<uint8_t> payload;
            while (!ended_ && ringIn_.next(type, payload)) {
                if (type != Msg::Records)
                    throw WireError(std::string(plat::wire::msgName(type)) + " in the record ring");
                handle(type, payload);
            }
        } catch (const WireError& e) {
            ++stats_.broken;
            end(std::string("malformed records in the record ring: ") + e.what());
        }
    });
    if (ended_) return false;
    ring_.withdrawAsk();
    ringLooking_ = true;
    ringNextLook_ = plat::transport::nowMs() + kRingLookMs;
    return true;
}

int Session::ringIdle()
{
    if (ended_ || !ringLooking_) return -1;
    int64_t left = ringNextLook_ - plat::transport::nowMs();
    if (left > 0) return static_cast<int>(left);
    if (takeRing()) return kRingLookMs;
    if (ended_) return -1;
    ring_.askToRing();
    // Records written before the ask rang no bell.
    if (takeRing()) return kRingLookMs;
    ringLooking_ = false;
    return -1;
}

void Session::applyRecords(Reader& r)
{
    std::string disagreement = pbbsim::applyRecords(model_, stats_, r);
    if (disagreement.empty() || disagreementLogged_) return;
    disagreementLogged_ = true;
    logError("daemon pid " + std::to_string(pid_) + " (session " + std::to_string(number_) + "): " + disagreement +
             " (the switch changed while the record was on its way; the switch's answer stands, later ones of this "
             "session are counted in 'show stats' only)");
}

void Session::refuseDescriptor(uint32_t seq, const std::string& what)
{
    logError("daemon pid " + std::to_string(pid_) + " passed a descriptor for " + what +
             " that is not a socket; refused");
    reply(seq, PLAT_ERR_PARAM);
}

void Session::send(Msg type, const std::vector<uint8_t>& payload)
{
    if (ended_) return;
    auto bytes = plat::wire::frame(type, payload);
    if (outOff_ < out_.size()) {
        if (out_.size() - outOff_ + bytes.size() > kBacklogMax) {
            ++stats_.broken;
            end("the daemon does not read its connection");
            return;
        }
        out_.insert(out_.end(), bytes.begin(), bytes.end());
        return;
    }
    ssize_t n = ::send(sock_.get(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && !wouldBlock()) {
        end(std::string("writing to the daemon: ") + std::strerror(errno));
        return;
    }
    size_t sent = n > 0 ? static_cast<size_t>(n) : 0;
    counter_.add(sent);
    if (sent == bytes.size()) return;
    out_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(sent), bytes.end());
    outOff_ = 0;
    loop_.modify(watch_, kMainEvents | EPOLLOUT);
}

void Session::onWritable() { flushMain(); }

void Session::flushMain()
{
    while (!ended_ && outOff_ < out_.size()) {
        ssize_t n = ::send(sock_.get(), out_.data() + outOff_, out_.size() - outOff_, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (!wouldBlock()) end(std::string("writing to the daemon: ") + std::strerror(errno));
            return;
        }
        outOff_ += static_cast<size_t>(n);
        counter_.add(static_cast<uint64_t>(n));
    }
    if (ended_) return;
    out_.clear();
    outOff_ = 0;
    loop_.modify(watch_, kMainEvents);
    releaseHeld();
}

void Session::releaseHeld()
{
    while (!held_.empty() && outOff_ >= out_.size() && !ended_) {
        Held h = std::move(held_.front());
        held_.pop_front();
        switch (h.kind) {
        case Held::Event: writeEvent(static_cast<sim::Service>(h.target), std::move(h.bytes)); break;
        case Held::Frame: writeFrame(h.target, h.bytes); break;
        case Held::Hangup: hangUp(h.target); break;
        }
    }
}

void Session::publish()
{
    for (auto& [type, payload] : copy_.changes(model_)) send(type, payload);
}

void Session::sendFault(const std::string& call, int64_t result, unsigned times)
{
    Writer w;
    w.str(call).i64(result).u32(times);
    send(Msg::Fault, w.bytes());
}

void Session::sendClearFaults() { send(Msg::ClearFaults, {}); }

void Session::deliver(const sim::Event& ev)
{
    auto s = sim::serviceOf(ev.kind);
    if (ended_ || !channels_[static_cast<size_t>(s)].fd.valid()) {
        ++stats_.eventsDropped;
        return;
    }
    auto bytes = plat::wire::encodeEvent(ev);
    if (outOff_ < out_.size() || !held_.empty()) {
        held_.push_back(Held{Held::Event, static_cast<uint32_t>(s), std::move(bytes)});
        return;
    }
    writeEvent(s, std::move(bytes));
}

void Session::serviceDown(sim::Service s)
{
    std::erase_if(subs_, [s](const auto& kv) { return sim::serviceOf(kv.second.kind) == s; });
    if (outOff_ < out_.size() || !held_.empty()) {
        held_.push_back(Held{Held::Hangup, static_cast<uint32_t>(s), {}});
        return;
    }
    hangUp(static_cast<uint32_t>(s));
}

void Session::hangUp(uint32_t service)
{
    auto s = static_cast<sim::Service>(service);
    if (s == sim::Service::Packet)
        closeAllPackets();
    else
        closeChannel(s);
}

void Session::cpuFrame(const std::vector<uint8_t>& datagram)
{
    if (ended_ || datagram.size() < sizeof(PKT_SOCKADDR_S)) {
        ++stats_.framesUnclaimed;
        return;
    }
    uint16_t etherType;
    std::memcpy(&etherType, datagram.data() + offsetof(PKT_SOCKADDR_S, usEtherType), sizeof etherType);
    bool claimed = false;
    bool hold = outOff_ < out_.size() || !held_.empty();
    for (auto& [id, p] : packets_) {
        if (!p.bound || (!p.recvAll && p.etherType != etherType)) continue;
        claimed = true;
        if (hold) {
            if (held_.size() >= kFrameQueueMax) {
                ++stats_.framesDropped;
                continue;
            }
            held_.push_back(Held{Held::Frame, id, datagram});
        } else {
            writeFrame(id, datagram);
        }
    }
    if (!claimed) ++stats_.framesUnclaimed;
}

void Session::writeEvent(sim::Service s, std::vector<uint8_t> bytes)
{
    Queue& q = channels_[static_cast<size_t>(s)];
    if (!q.fd.valid()) {
        ++stats_.eventsDropped;
        return;
    }
    if (!q.waiting.empty()) {
        q.waiting.push_back(std::move(bytes));
        return;
    }
    ssize_t n = ::send(q.fd.get(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
        ++stats_.eventsSent;
        return;
    }
    if (wouldBlock()) {
        q.waiting.push_back(std::move(bytes));
        watchWritable(q, true);
        return;
    }
    ++stats_.eventsDropped;
    if (errno == EMSGSIZE) {
        plat::writeLog(LOG_DAEMON | LOG_ERR, "pbb-sim", "SIM",
                       "an event of " + std::to_string(bytes.size()) + " bytes is too large for a channel; dropped");
        return;
    }
    closeChannel(s);
}

void Session::writeFrame(uint32_t id, const std::vector<uint8_t>& bytes)
{
    auto it = packets_.find(id);
    if (it == packets_.end() || it->second.waiting.size() >= kFrameQueueMax) {
        ++stats_.framesDropped;
        return;
    }
    it->second.waiting.push_back(bytes);
    framesGathered_ = true;
}

void Session::flushFrames()
{
    if (!framesGathered_ || ended_) return;
    framesGathered_ = false;
    std::vector<uint32_t> gone;
    for (auto& [id, p] : packets_)
        if (!p.full && !p.waiting.empty() && !sendFrames(p)) gone.push_back(id);
    for (uint32_t id : gone) closePacket(id);
}

bool Session::sendFrames(PacketSock& p)
{
    constexpr size_t kBatch = 64;
    std::array<mmsghdr, kBatch> msgs{};
    std::array<iovec, kBatch> iov{};
    while (!p.waiting.empty()) {
        size_t n = std::min(kBatch, p.waiting.size());
        for (size_t k = 0; k < n; ++k) {
            iov[k] = iovec{p.waiting[k].data(), p.waiting[k].size()};
            msgs[k] = mmsghdr{};
            msgs[k].msg_hdr.msg_iov = &iov[k];
            msgs[k].msg_hdr.msg_iovlen = 1;
        }
        int sent = ::sendmmsg(p.fd.get(), msgs.data(), static_cast<unsigned>(n), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0) {
            if (wouldBlock()) {
                p.full = true;
                watchWritable(p, true);
                return true;
            }
            if (errno != EMSGSIZE) return false;
            // The first datagram is larger than the socket takes: dropped.
            ++stats_.framesDropped;
            p.waiting.pop_front();
            continue;
        }
        stats_.framesDelivered += static_cast<uint64_t>(sent);
        p.waiting.erase(p.waiting.begin(), p.waiting.begin() + sent);
    }
    if (p.full) {
        p.full = false;
        watchWritable(p, false);
    }
    return true;
}

bool Session::drain(Queue& q)
{
    while (!q.waiting.empty()) {
        const auto& b = q.waiting.front();
        ssize_t n = ::send(q.fd.get(), b.data(), b.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && wouldBlock()) return true;
        if (n < 0 && errno != EMSGSIZE) return false;
        q.waiting.pop_front();
    }
    watchWritable(q, false);
    return true;
}

void Session::watchWritable(Queue& q, bool on)
{
    if (q.watch != 0) loop_.modify(q.watch, EPOLLRDHUP | (on ? EPOLLOUT : 0u));
}

void Session::openChannel(sim::Service s, plat::UniqueFd fd)
{
    closeChannel(s);
    Queue& q = channels_[static_cast<size_t>(s)];
    q.fd = std::move(fd);
    q.watch = loop_.add(q.fd.get(), EPOLLRDHUP, [this, s](uint32_t ev) { guarded([&] { onChannel(s, ev); }); });
}

void Session::onChannel(sim::Service s, uint32_t ev)
{
    Queue& c = channels_[static_cast<size_t>(s)];
    if ((ev & kGone) != 0) {
        closeChannel(s);
        return;
    }
    if ((ev & EPOLLOUT) != 0) {
        size_t before = c.waiting.size();
        bool ok = drain(c);
        stats_.eventsSent += before - c.waiting.size();
        if (!ok) closeChannel(s);
    }
}

void Session::closeChannel(sim::Service s)
{
    Queue& q = channels_[static_cast<size_t>(s)];
    if (q.watch != 0) loop_.remove(q.watch);
    q.watch = 0;
    stats_.eventsDropped += q.waiting.size();
    q.waiting.clear();
    q.fd.reset();
}

void Session::openPacket(uint32_t id, plat::UniqueFd fd)
{
    closePacket(id);
    PacketSock& p = packets_[id];
    p.fd = std::move(fd);
    widenSendBuffer(p.fd.get());
    p.watch = loop_.add(p.fd.get(), EPOLLRDHUP, [this, id](uint32_t ev) { guarded([&] { onPacket(id, ev); }); });
}

void Session::onPacket(uint32_t id, uint32_t ev)
{
    auto it = packets_.find(id);
    if (it == packets_.end()) return;
    if ((ev & kGone) != 0) {
        closePacket(id);
        return;
    }
    if ((ev & EPOLLOUT) != 0) {
        it->second.full = false;
        if (!sendFrames(it->second)) closePacket(id);
    }
}

void Session::closePacket(uint32_t id)
{
    auto it = packets_.find(id);
    if (it == packets_.end()) return;
    if (it->second.watch != 0) loop_.remove(it->second.watch);
    stats_.framesDropped += it->second.waiting.size();
    packets_.erase(it);
}

void Session::closeAllPackets()
{
    while (!packets_.empty()) closePacket(packets_.begin()->first);
}

bool Session::framesBlocked() const
{
    for (const auto& [id, p] : packets_)
        if (p.full) return true;
    for (const auto& h : held_)
        if (h.kind == Held::Frame) return true;
    return false;
}

size_t Session::framesQueued() const
{
    size_t n = 0;
    for (const auto& [id, p] : packets_) n += p.waiting.size();
    for (const auto& h : held_) n += h.kind == Held::Frame;
    return n;
}

}  // namespace pbbsim
