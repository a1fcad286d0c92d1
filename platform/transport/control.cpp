#include "platform/transport/control.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <nlohmann/json.hpp>

#include "platform/transport/unix_io.h"

namespace plat::transport {

using nlohmann::json;

std::string encodeRequest(const ControlRequest& r)
{
    json j{{"words", r.words}, {"json", r.json}, {"cwd", r.cwd}};
    if (!r.file.empty()) j["file"] = r.file;
    return j.dump();
}

std::string encodeReply(const ControlReply& r)
{
    // Invalid UTF-8 in a command's output is replaced rather than refused.
    return json{{"status", r.status}, {"out", r.out}, {"err", r.err}}.dump(-1, ' ', false,
                                                                           json::error_handler_t::replace);
}

std::optional<ControlRequest> decodeRequest(const std::string& line, std::string* error)
{
    json j = json::parse(line, nullptr, false);
    auto bad = [&](const char* what) {
        if (error != nullptr) *error = what;
        return std::nullopt;
    };
    if (j.is_discarded() || !j.is_object()) return bad("a request is one JSON object per line");
    auto words = j.find("words");
    if (words == j.end() || !words->is_array()) return bad("a request needs \"words\", a list of strings");
    ControlRequest r;
    for (const auto& w : *words) {
        if (!w.is_string()) return bad("every word of a request is a string");
        r.words.push_back(w.get<std::string>());
    }
    if (auto it = j.find("json"); it != j.end()) {
        if (!it->is_boolean()) return bad("\"json\" is true or false");
        r.json = it->get<bool>();
    }
    if (auto it = j.find("cwd"); it != j.end()) {
        if (!it->is_string()) return bad("\"cwd\" is a string");
        r.cwd = it->get<std::string>();
    }
    if (auto it = j.find("file"); it != j.end()) {
        if (!it->is_string()) return bad("\"file\" is a string");
        r.file = it->get<std::string>();
    }
    return r;
}

std::optional<ControlReply> decodeReply(const std::string& line, std::string* error)
{
    json j = json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !j.contains("status") || !j["status"].is_number_integer()) {
        if (error != nullptr) *error = "pbb-sim sent a reply that is not one";
        return std::nullopt;
    }
    ControlReply r;
    r.status = j["status"].get<int>();
    if (j.contains("out") && j["out"].is_string()) r.out = j["out"].get<std::string>();
    if (j.contains("err") && j["err"].is_string()) r.err = j["err"].get<std::string>();
    return r;
}

ControlClient::~ControlClient()
{
    if (fd_ >= 0) ::close(fd_);
}

bool ControlClient::connect(const std::string& path, std::string* error, int timeoutMs)
{
    UniqueFd fd = connectUnixWithin(path, SOCK_STREAM, timeoutMs);
    if (!fd.valid()) {
        int e = errno;
        if (error != nullptr) {
            if (e == ENOENT)
                *error = "pbb-sim is not running (no control socket at " + path + ")";
            else if (e == ECONNREFUSED)
                *error = "pbb-sim is not running (nobody answers at " + path + ")";
            else if (e == EAGAIN || e == EWOULDBLOCK || e == ETIMEDOUT)
                *error = "pbb-sim does not answer (no connection at " + path + " within " + std::to_string(timeoutMs) +
                         " ms)";
            else
                *error = "cannot reach pbb-sim at " + path + ": " + std::strerror(e);
        }
        return false;
    }
    fd_ = fd.release();
    return true;
}

std::optional<ControlReply> ControlClient::call(const ControlRequest& req, int timeoutMs, std::string* error,
                                                int fileFd)
{
    auto fail = [&](const std::string& what) {
        if (error != nullptr) *error = what;
        return std::nullopt;
    };
    if (fd_ < 0) return fail("not connected to pbb-sim");
    std::string line = encodeRequest(req) + "\n";
    int64_t deadline = timeoutMs > 0 ? nowMs() + timeoutMs : 0;
    auto timedOut = [&] { return fail("pbb-sim did not answer within " + std::to_string(timeoutMs) + " ms"); };
    size_t off = 0;
    while (off < line.size()) {
        // The descriptor goes with the line's first byte.
        auto rest = std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(line.data()) + off, line.size() - off);
        ssize_t n = sendWithFd(fd_, rest, off == 0 ? fileFd : -1, MSG_DONTWAIT);
        if (n > 0) {
            off += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return fail(std::string("sending to pbb-sim: ") + std::strerror(errno));
        int wait = -1;
        if (deadline != 0) {
            int64_t left = deadline - nowMs();
            if (left <= 0) return timedOut();
            wait = static_cast<int>(left);
        }
        pollfd p{fd_, POLLOUT, 0};
        (void)::poll(&p, 1, wait);
    }
    for (;;) {
        size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string reply = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return decodeReply(reply, error);
        }
        int wait = -1;
        if (deadline != 0) {
            int64_t left = deadline - nowMs();
            if (left <= 0) return timedOut();
            wait = static_cast<int>(left);
        }
        pollfd p{fd_, POLLIN, 0};
        int rc = ::poll(&p, 1, wait);
        if (rc < 0 && errno == EINTR) continue;
        if (rc == 0) continue;
        char buf[65536];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) return fail("pbb-sim closed the connection without answering");
        if (n < 0) return fail(std::string("reading from pbb-sim: ") + std::strerror(errno));
        pending_.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace plat::transport
