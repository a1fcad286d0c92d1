#include "tools/pbbctl/pbbctl_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/lipc.h"
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
    if (request == kGetFirstUc || request == kGetNextUc) return reply == kUcReply;
    return false;
}

std::string hex(uint32_t code)
{
    char s[16];
    std::snprintf(s, sizeof s, "0x%08x", code);
    return s;
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

Tlv MgmtClient::receive()
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
    for (;;) {
        if (auto t = reader_.next()) return std::move(*t);
        struct pollfd p {fd_, POLLIN, 0};
        int r = ::poll(&p, 1, msLeft(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) throw NoAnswer("pbbd does not answer (no reply within " + std::to_string(timeoutMs_) + " ms)");
        uint8_t buf[8192];
        ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) throw NoAnswer("pbbd closed the connection before it answered");
        reader_.feed(buf, static_cast<size_t>(n));
    }
}

std::vector<Tlv> MgmtClient::exchange(uint16_t type, const Bytes& value)
{
    ++requests_;
    send(tlv(type, value));
    std::vector<Tlv> replies;
    do {
        replies.push_back(receive());
    } while (!endsAnswer(type, replies.back().type));
    return replies;
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
        throw BadReply("unexpected answer to the debug query" + (w ? " (code " + hex(*w) + ")" : std::string()));
    return *w;
}

MgmtClient::McAnswer MgmtClient::multicast(uint16_t type, const Bytes& value)
{
    McAnswer a;
    auto replies = exchange(type, value);
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

std::vector<McMsg> MgmtClient::multicastWalk()
{
    std::vector<McMsg> all;
    McAnswer a = multicast(kGetFirstMc, {});
    while (a.code == kMcEnd) {
        uint32_t last = a.entry.vsiIndex;
        all.push_back(std::move(a.entry));
        a = multicast(kGetNextMc, indexValue(last));
    }
    return all;
}

std::vector<UcMsg> MgmtClient::learnedWalk(const UcMsg& vsi, uint32_t* endCode)
{
    std::vector<UcMsg> entries;
    UcMsg req = vsi;
    req.ifIndex = 0;
    req.bmac = {};
    uint16_t type = kGetFirstUc;
    for (;;) {
        auto replies = exchange(type, ucMsg(req));
        const Tlv& t = replies.back();
        if (t.type == kResultReply) {
            auto code = word(t.value.data(), t.value.size());
            if (!code) throw BadReply("malformed result of a unicast request");
            if (type == kGetNextUc && *code != kNoMoreUc && *code != kFailed)
                throw BadReply("the walk of " + vsi.vsiName + " stopped with code " + hex(*code));
            if (endCode) *endCode = *code;
            return entries;
        }
        auto m = parseUc(t.value.data(), t.value.size());
        if (!m) throw BadReply("malformed unicast reply");
        if (type == kGetNextUc && m->bmac <= req.bmac)
            throw BadReply("the walk of " + vsi.vsiName + " went backwards at " + formatMac(m->bmac));
        req.bmac = m->bmac;
        entries.push_back(std::move(*m));
        type = kGetNextUc;
    }
}

}  // namespace pbbctl
