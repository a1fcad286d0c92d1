#include "tools/pbbctl/pbbctl_client.h"
#include "tools/pbbctl/pbbctl_walk.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/lipc.h"
#include "platform/stlv.h"
#include "platform/transport/unix_io.h"

namespace pbbctl {

using namespace proto;

namespace {

int msLeft(std::chrono::steady_clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Whether a reply of this type ends the answer to a request of that type.
bool endsAnswer(uint16_t request, uint16_t reply)
{
    if (reply == kResultReply) return true;
    if (request == kGetDebug) return reply == kDebugReply;
    return false;
}

}  // namespace

MgmtClient::MgmtClient(int timeoutMs) : timeoutMs_(timeoutMs)
{
    // A daemon whose queue of connections is full leaves the connect
    // waiting: it has the time-out of every other wait.
    fd_ = plat::transport::connectUnixWithin(plat::lipcPath(kPort), SOCK_STREAM, timeoutMs_).release();
    if (fd_ < 0 && errno == EAGAIN)
        throw NoAnswer("pbbd does not answer (no connection within " + std::to_string(timeoutMs_) + " ms)");
    if (fd_ < 0) {
        std::string why = std::strerror(errno);
        throw NoAnswer("pbbd is not running (nothing answers at " + plat::lipcPath(kPort) + ": " + why + ")");
    }
    // Replies are waited for in the read itself: one call per reply, not a
    // poll and then a read.
    timeval limit{timeoutMs_ / 1000, static_cast<suseconds_t>(timeoutMs_ % 1000) * 1000};
    (void)::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

MgmtClient::~MgmtClient()
{
    if (fd_ >= 0) ::close(fd_);
}

void MgmtClient::send(const Bytes& bytes)
{
    size_t done = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
    while (done < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd p {fd_, POLLOUT, 0};
            if (::poll(&p, 1, msLeft(deadline)) > 0) continue;
            throw NoAnswer("pbbd does not take the request (no room on the connection within " +
                           std::to_string(timeoutMs_) + " ms)");
        }
        throw NoAnswer(std::string("pbbd closed the connection (") + std::strerror(errno) + ")");
    }
}

TlvView MgmtClient::receive()
{
    constexpr size_t kReadLen = 16384;
    for (;;) {
        if (auto t = reader_.nextView()) return *t;
        ssize_t n = ::recv(fd_, reader_.room(kReadLen), kReadLen, 0);
        if (n > 0) {
            ++reads_;
            reader_.commit(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            throw NoAnswer("pbbd does not answer (no reply within " + std::to_string(timeoutMs_) + " ms)");
        throw NoAnswer("pbbd closed the connection before it answered");
    }
}

void MgmtClient::request(const Bytes& bytes, uint16_t type)
{
    settle();
    ++requests_;
    send(bytes);
    outstanding_ = type;
}

TlvView MgmtClient::answer()
{
    for (;;) {
        TlvView t = receive();
        if (endsAnswer(static_cast<uint16_t>(outstanding_), t.type)) {
            outstanding_ = -1;
            return t;
        }
    }
}

void MgmtClient::settle()
{
    if (outstanding_ >= 0) (void)answer();
    while (steps_ > 0) (void)stepReply(true);
    for (; mcLeft_ > 0; --mcLeft_) (void)replies(kGetMc);
}

std::vector<Tlv> MgmtClient::replies(uint16_t type)
{
    std::vector<Tlv> out;
    do {
        TlvView t = receive();
        out.push_back({t.type, Bytes(t.value, t.value + t.len)});
    } while (!endsAnswer(type, out.back().type));
    return out;
}

void MgmtClient::sendSteps(const Bytes& steps, size_t count)
{
    if (outstanding_ >= 0) (void)answer();
    requests_ += count;
    steps_ += count;
    send(steps);
}

std::optional<TlvView> MgmtClient::stepReply(bool wait)
{
    if (steps_ == 0) return std::nullopt;
    std::optional<TlvView> t = wait ? std::optional<TlvView>(receive()) : reader_.nextView();
    if (t) --steps_;
    return t;
}

std::vector<Tlv> MgmtClient::exchange(uint16_t type, const Bytes& value)
{
    request(tlv(type, value), type);
    std::vector<Tlv> out = replies(type);
    outstanding_ = -1;
    return out;
}

uint32_t MgmtClient::call(uint16_t type, const Bytes& value)
{
    auto replies = exchange(type, value);
    auto code = word(replies.back().value.data(), replies.back().value.size());
    if (replies.size() != 1 || !code) throw BadReply("unexpected answer to request type " + std::to_string(type));
    return *code;
}

uint32_t MgmtClient::debugWord()
{
    auto replies = exchange(kGetDebug, {});
    const Tlv& t = replies.back();
    auto w = word(t.value.data(), t.value.size());
    if (replies.size() != 1 || t.type != kDebugReply || !w)
        throw BadReply("unexpected answer to the debug query" + (w ? " (code " + codeHex(*w) + ")" : std::string()));
    return *w;
}

namespace {

// One multicast answer from its replies: the entry's pieces, then the
// result.
MgmtClient::McAnswer mcAnswerOf(const std::vector<Tlv>& replies)
{
    MgmtClient::McAnswer a;
    for (size_t i = 0; i + 1 < replies.size(); ++i) {
        const Tlv& t = replies[i];
        auto m = t.type == kMcReply ? parseMc(t.value.data(), t.value.size()) : std::nullopt;
        if (!m) throw BadReply("malformed multicast reply (type " + std::to_string(t.type) + ")");
        if (i == 0) {
            a.entry = *m;
        } else {
            a.entry.ports.insert(a.entry.ports.end(), m->ports.begin(), m->ports.end());
        }
    }
    auto code = word(replies.back().value.data(), replies.back().value.size());
    if (!code) throw BadReply("malformed result of a multicast request");
    a.code = *code;
    if (a.code == kMcEnd && replies.size() < 2) throw BadReply("multicast answer without an entry");
    return a;
}

}  // namespace

MgmtClient::McAnswer MgmtClient::multicast(uint16_t type, const Bytes& value)
{
    return mcAnswerOf(exchange(type, value));
}

std::vector<MgmtClient::McAnswer> MgmtClient::multicastEach(uint16_t type, const std::vector<Bytes>& values)
{
    std::vector<McAnswer> out;
    multicastEach(type, values, [&out](size_t, McAnswer&& a) { out.push_back(std::move(a)); });
    return out;
}

void MgmtClient::multicastEach(uint16_t type, const std::vector<Bytes>& values, const McFn& each)
{
    for (size_t at = 0; at < values.size(); at += kMcWindow) {
        settle();
        const size_t n = std::min(kMcWindow, values.size() - at);
        Bytes requests;
        for (size_t i = at; i < at + n; ++i) {
            const Bytes r = tlv(type, values[i]);
            requests.insert(requests.end(), r.begin(), r.end());
        }
        requests_ += n;
        mcLeft_ = n;
        send(requests);
        for (size_t i = at; mcLeft_ > 0; ++i) {
            std::vector<Tlv> r = replies(type);
            --mcLeft_;
            each(i, mcAnswerOf(r));
        }
    }
}

std::vector<McMsg> MgmtClient::multicastWalk(size_t window)
{
    window = std::max<size_t>(window, 1);
    std::vector<McMsg> all;
    McAnswer a = multicast(kGetFirstMc, {});
    if (a.code != kMcEnd) return all;
    uint64_t last = a.entry.vsiIndex;
    all.push_back(std::move(a.entry));
    size_t n = 1;
    for (;;) {
        // No step after an index beyond the highest.
        n = static_cast<size_t>(std::min<uint64_t>(n, uint64_t{UINT32_MAX} - last + 1));
        const uint64_t from = last;
        std::vector<Bytes> after;
        for (uint64_t i = from; i < from + n; ++i) after.push_back(indexValue(static_cast<uint32_t>(i)));
        std::vector<McAnswer> got = multicastEach(kGetNextMc, after);
        // The walk of one step at a time, through the answers at hand.
        size_t used = 0;
        while (last - from < n) {
            McAnswer& s = got[last - from];
            if (s.code != kMcEnd) return all;
            if (s.entry.vsiIndex <= last)
                throw BadReply("multicast answer after VSI index " + std::to_string(last) + " for index " +
                               std::to_string(s.entry.vsiIndex));
            last = s.entry.vsiIndex;
            all.push_back(std::move(s.entry));
            ++used;
        }
        n = used == n ? std::min(2 * n, window) : (2 * used > n ? n : used);
    }
}

std::vector<UcMsg> MgmtClient::learnedWalk(const UcMsg& vsi, uint32_t* endCode)
{
    std::vector<UcMsg> entries;
    const uint32_t code = learnedWalk(vsi, [&entries](const UcMsg& e) { entries.push_back(e); });
    if (endCode) *endCode = code;
    return entries;
}

uint32_t MgmtClient::learnedWalk(const UcMsg& vsi, const EntryFn& each)
{
    uint32_t code = kFailed;
    LearnedWalk::run(*this, {vsi}, [&each](size_t, const UcMsg& e) { each(e); }, [&code](size_t, uint32_t c) { code = c; });
    return code;
}

}  // namespace pbbctl
