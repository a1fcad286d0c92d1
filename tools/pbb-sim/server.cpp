#include "tools/pbb-sim/server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>

#include "platform/l2vpn_age.h"
#include "platform/settings.h"
#include "platform/stub/logfile.h"
#include "platform/transport/control.h"
#include "platform/transport/paths.h"
#include "platform/transport/unix_io.h"
#include "tools/pbb-sim/known_calls.h"
#include "tools/simcmd/args.h"

namespace pbbsim {

using nlohmann::json;
using plat::transport::ControlReply;

namespace {

void logInfo(const std::string& text) { plat::writeLog(LOG_DAEMON | LOG_INFO, "pbb-sim", "SIM", text); }

std::string joined(const std::vector<std::string>& words)
{
    std::string s;
    for (const auto& w : words) s += (s.empty() ? "" : " ") + w;
    return s;
}

}  // namespace

void Server::Sink::put(Output o)
{
    if (holding_)
        held_.push_back(std::move(o));
    else
        s_.route(o);
}

void Server::Sink::release()
{
    holding_ = false;
    std::vector<Output> out;
    out.swap(held_);
    for (auto& o : out) s_.route(o);
}

Server::Server(sim::SwitchModel& model, size_t ringCapacity)
    : model_(model),
      sink_(*this),
      forwarder_(loop_, model_, stats_),
      reports_(loop_, stats_, L2VPN_AGE_PORT),
      ringCapacity_(ringCapacity)
{
    model_.setSink(&sink_);
    spare_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
}

Server::~Server()
{
    session_.reset();
    for (auto& [name, l] : links_) loop_.remove(l.watch);
    links_.clear();
    while (!controls_.empty()) closeControl(controls_.begin()->first);
    model_.setSink(nullptr);
    if (daemonListen_.valid()) ::unlink(daemonPath_.c_str());
    if (controlListen_.valid()) ::unlink(controlPath_.c_str());
}

bool Server::listen(std::string* error)
{
    const std::string dir = plat::runDir();
    if (std::string why = plat::ensureDirProblem(dir); !why.empty()) {
        *error = "run directory: " + why;
        return false;
    }
    daemonPath_ = plat::transport::simSocketPath();
    controlPath_ = plat::transport::controlSocketPath();
    auto fail = [&](const std::string& path) {
        if (errno == EADDRINUSE)
            *error = "another pbb-sim serves " + dir + " (its socket " + path + " answers)";
        else
            *error = "cannot listen at " + path + ": " + std::strerror(errno);
        return false;
    };
    daemonListen_ = plat::transport::listenUnix(daemonPath_, SOCK_STREAM);
    if (!daemonListen_.valid()) return fail(daemonPath_);
    controlListen_ = plat::transport::listenUnix(controlPath_, SOCK_STREAM);
    if (!controlListen_.valid()) {
        bool r = fail(controlPath_);
        daemonListen_.reset();
        ::unlink(daemonPath_.c_str());
        return r;
    }
    loop_.add(daemonListen_.get(), EPOLLIN, [this](uint32_t) {
        try {
            acceptDaemon();
        } catch (const std::exception& e) {
            logError(std::string("serving a daemon that connected: ") + e.what());
            if (session_ && !session_->ended()) endSession();
        }
    });
    loop_.add(controlListen_.get(), EPOLLIN, [this](uint32_t) {
        try {
            acceptControl();
        } catch (const std::exception& e) {
            logError(std::string("accepting a control client: ") + e.what());
        }
    });
    return true;
}

void Server::run(int stopFd)
{
    uint64_t stopWatch = 0;
    if (stopFd >= 0)
        stopWatch = loop_.add(stopFd, EPOLLIN, [this, stopFd](uint32_t) {
            signalfd_siginfo si{};
            if (::read(stopFd, &si, sizeof si) == static_cast<ssize_t>(sizeof si))
                logInfo("stopping on signal " + std::to_string(si.ssi_signo));
            loop_.stop();
        });
    loop_.run([this] { return idle(); });
    if (stopWatch != 0) loop_.remove(stopWatch);
}

int Server::idle()
{
    if (session_ && session_->ended()) endSession();
    Session* d = daemon();
    if (d != nullptr) d->flushFrames();
    int wait = injector_.step(model_, stats_, [d] { return d != nullptr && d->framesBlocked(); });
    if (d != nullptr) d->flushFrames();
    int ring = d != nullptr ? d->ringIdle() : -1;
    return wait < 0 ? ring : ring < 0 ? wait : std::min(wait, ring);
}

void Server::route(Output& o)
{
    Session* d = daemon();
    if (auto* ev = std::get_if<sim::Event>(&o)) {
        if (d != nullptr)
            d->deliver(*ev);
        else
            ++stats_.eventsDropped;
    } else if (auto* s = std::get_if<sim::Service>(&o)) {
        if (d != nullptr) d->serviceDown(*s);
    } else if (auto* f = std::get_if<FrameOut>(&o)) {
        if (d != nullptr)
            d->cpuFrame(f->bytes);
        else
            ++stats_.framesUnclaimed;
    } else if (auto* r = std::get_if<ReportOut>(&o)) {
        reports_.send(std::move(r->bytes));
    }
}

void Server::acceptDaemon()
{
    plat::UniqueFd fd = acceptFrom(daemonListen_.get());
    if (!fd.valid()) return;
    // Gone already: a probe whether anybody serves the socket (a second
    // pbb-sim starting), not a daemon.
    pollfd gone{fd.get(), POLLRDHUP, 0};
    if (::poll(&gone, 1, 0) == 1 && (gone.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) return;
    if (session_ && session_->alive()) {
        ucred cred{};
        socklen_t len = sizeof cred;
        (void)::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &cred, &len);
        std::string reason = "pbb-sim serves another daemon (pid " + std::to_string(session_->pid()) + ")";
        plat::wire::Writer w;
        w.str(reason);
        auto bytes = plat::wire::frame(plat::wire::Msg::Refused, w.bytes());
        (void)::send(fd.get(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        ++stats_.refused;
        logError("refused a daemon (pid " + std::to_string(cred.pid) + "): " + reason);
        return;
    }
    if (session_) endSession();
    session_ = std::make_unique<Session>(loop_, model_, stats_, std::move(fd), ++sessionNumber_, ringCapacity_);
    ++stats_.sessions;
    session_->start();
    for (const auto& f : pendingFaults_) session_->sendFault(f.call, f.result, f.times);
    pendingFaults_.clear();
    session_->snapshotDone();
    logInfo("daemon pid " + std::to_string(session_->pid()) + " connected (session " +
            std::to_string(session_->number()) + ")");
}

void Server::endSession()
{
    if (!session_) return;
    session_->alive();
    std::string why = session_->ended() ? session_->why() : "pbb-sim stops";
    logInfo("daemon pid " + std::to_string(session_->pid()) + " left (session " +
            std::to_string(session_->number()) + "): " + why);
    session_.reset();
}

simcmd::Outcome Server::command(const std::vector<std::string>& words, bool json)
{
    ++stats_.commands;
    // What the daemon sent before this command is served before it.
    if (Session* d = daemon()) d->catchUp();
    simcmd::Outcome o;
    sink_.hold();
    try {
        o = simcmd::run(model_, this, words, json);
    } catch (const std::exception& e) {
        o = simcmd::Outcome{1, "", e.what()};
    }
    // The command's state changes first, then what it made the switch send.
    if (Session* d = daemon()) d->publish();
    sink_.release();
    if (o.status != 0) logInfo("command '" + joined(words) + "' gave status " + std::to_string(o.status) + ": " + o.err);
    return o;
}

plat::UniqueFd Server::acceptFrom(int listenFd)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        plat::UniqueFd fd(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (fd.valid() || (errno != EMFILE && errno != ENFILE)) return fd;
        if (attempt > 0 || !shedIdleControl("pbb-sim is out of descriptors")) break;
    }
    int e = errno;
    spare_.reset();
    { plat::UniqueFd dropped(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC)); }
    spare_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    ++stats_.controlDropped;
    logRoomMade(std::string("a connection was closed unserved: ") + std::strerror(e));
    return plat::UniqueFd();
}

bool Server::shedIdleControl(const std::string& why)
{
    auto idle = controls_.end();
    for (auto it = controls_.begin(); it != controls_.end(); ++it)
        if (idle == controls_.end() || it->second.active < idle->second.active) idle = it;
    if (idle == controls_.end()) return false;
    closeControl(idle->first);
    ++stats_.controlShed;
    logRoomMade("the control client idle longest was closed: " + why);
    return true;
}

// A flood of connections would log a line each: at most one line a second,
// counting the rest.
void Server::logRoomMade(const std::string& why)
{
    int64_t now = plat::transport::nowMs();
    if (roomLoggedMs_ >= 0 && now - roomLoggedMs_ < 1000) {
        ++roomUnlogged_;
        return;
    }
    std::string more = roomUnlogged_ == 0 ? "" : " (" + std::to_string(roomUnlogged_) + " more since the last such line)";
    logError(why + more);
    roomLoggedMs_ = now;
    roomUnlogged_ = 0;
}

void Server::acceptControl()
{
    plat::UniqueFd fd = acceptFrom(controlListen_.get());
    if (!fd.valid()) return;
    if (controls_.size() >= kControlClientsMax)
        shedIdleControl("more than " + std::to_string(kControlClientsMax) + " control clients");
    uint64_t id = nextControl_++;
    uint64_t watch = loop_.add(fd.get(), EPOLLIN | EPOLLRDHUP, [this, id](uint32_t ev) { onControl(id, ev); });
    Control& c = controls_[id];
    c.fd = std::move(fd);
    c.watch = watch;
    c.active = ++activity_;
}

void Server::onControl(uint64_t id, uint32_t events)
{
    try {
        serveControl(id, events);
    } catch (const std::exception& e) {
        logError("control client " + std::to_string(id) + ": " + e.what() + "; disconnected");
        closeControl(id);
    }
}

bool Server::writeControl(Control& c)
{
    if (c.out.empty()) return true;
    ssize_t n = ::send(c.fd.get(), c.out.data(), c.out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    c.out.erase(0, static_cast<size_t>(n));
    return true;
}

void Server::serveControl(uint64_t id, uint32_t events)
{
    auto it = controls_.find(id);
    if (it == controls_.end()) return;
    Control& c = it->second;
    if (!writeControl(c)) return closeControl(id);
    constexpr uint32_t kReadable = EPOLLIN | EPOLLHUP | EPOLLRDHUP | EPOLLERR;
    if ((events & kReadable) != 0 && !c.closing && c.out.size() < kControlOutputMax) {
        std::vector<uint8_t> buf(64 * 1024);
        ssize_t n = plat::transport::recvWithFds(c.fd.get(), buf, c.fds, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            // The client is gone; what it still waits for cannot reach it.
            return closeControl(id);
        }
        if (n > 0) {
            c.in.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
            c.active = ++activity_;
        }
    }
    // Requests are answered while the answers waiting stay under the limit;
    // the rest wait in c.in (and in the socket) until the client reads.
    size_t nl;
    while (!c.closing && c.out.size() < kControlOutputMax && (nl = c.in.find('\n')) != std::string::npos) {
        std::string line = c.in.substr(0, nl);
        c.in.erase(0, nl + 1);
        answer(c, line);
    }
    if (!c.closing && c.in.find('\n') == std::string::npos && c.in.size() > plat::transport::kControlLineMax) {
        c.in.clear();
        c.out += plat::transport::encodeReply(ControlReply{
                     2, "", "request longer than " + std::to_string(plat::transport::kControlLineMax) + " bytes"}) +
                 "\n";
        c.closing = true;
    }
    if (!writeControl(c)) return closeControl(id);
    if (c.out.empty() && c.closing) return closeControl(id);
    bool full = c.out.size() >= kControlOutputMax;
    if (full && !c.paused)
        logError("control client " + std::to_string(id) + " does not read its answers (" + std::to_string(c.out.size()) +
                 " bytes wait); its requests are not read until it does");
    c.paused = full;
    uint32_t want = c.out.empty() ? 0u : static_cast<uint32_t>(EPOLLOUT);
    if (!c.closing && !full) want |= EPOLLIN | EPOLLRDHUP;
    loop_.modify(c.watch, want);
}

void Server::answer(Control& c, const std::string& line)
{
    std::string error;
    auto req = plat::transport::decodeRequest(line, &error);
    ControlReply reply;
    if (!req) {
        reply = ControlReply{2, "", error};
    } else if (!req->file.empty() && c.fds.empty()) {
        reply = ControlReply{2, "", req->file + ": the request names a file but no descriptor came with it"};
    } else {
        plat::UniqueFd fd;
        if (!req->file.empty()) {
            fd = std::move(c.fds.front());
            c.fds.pop_front();
        }
        Passed passed{req->file, fd.get()};
        passed_ = &passed;
        simcmd::Outcome o = command(req->words, req->json);
        passed_ = nullptr;
        reply = ControlReply{o.status, std::move(o.out), std::move(o.err)};
    }
    c.out += plat::transport::encodeReply(reply) + "\n";
}

int Server::passedFile(const std::string& path)
{
    if (passed_ == nullptr) return -1;  // a command run in this process (a test)
    if (passed_->fd < 0 || passed_->path != path)
        throw simcmd::BadInput(path + ": pbb-sim opens no file a client names; the client passes it open "
                                      "(pbb-simctl does)");
    return passed_->fd;
}

void Server::closeControl(uint64_t id)
{
    auto it = controls_.find(id);
    if (it == controls_.end()) return;
    loop_.remove(it->second.watch);
    controls_.erase(it);
}

std::string Server::checkPort(uint32_t port) const
{
    const sim::Interface* i = model_.findIf(port);
    if (i == nullptr) return "no interface with ifIndex " + std::to_string(port);
    if (i->isAggregate()) return i->name + " is an aggregate: frames arrive on ports";
    return "";
}

simcmd::Outcome Server::failCall(const std::string& call, int64_t result, unsigned times)
{
    if (!isKnownCall(call)) return {2, "", "no platform call named '" + call + "'"};
    std::string when = times == 0 ? "every call" : times == 1 ? "the next call" : "the next " + std::to_string(times) + " calls";
    std::string out = call + " fails with " + std::to_string(result) + " on " + when;
    if (Session* d = daemon()) {
        d->sendFault(call, result, times);
        return {0, out + "\n", ""};
    }
    pendingFaults_.push_back(Fault{call, result, times});
    return {0, out + " (armed when a daemon connects)\n", ""};
}

simcmd::Outcome Server::clearFaults()
{
    pendingFaults_.clear();
    if (Session* d = daemon()) d->sendClearFaults();
    return {0, "no platform call fails any more\n", ""};
}

simcmd::Outcome Server::injectFrames(uint32_t port, std::vector<std::vector<uint8_t>> frames, double rate)
{
    if (auto bad = checkPort(port); !bad.empty()) return {2, "", bad};
    if (!(rate >= 0)) return {2, "", "the rate is frames per second, 0 or more"};
    size_t n = frames.size();
    size_t bytes = 0;
    for (const auto& f : frames) bytes += f.size();
    if (injector_.frames() + n > kInjectFramesMax || injector_.bytes() + bytes > kInjectBytesMax)
        return {1, "",
                "the injector holds " + std::to_string(injector_.frames()) + " frames (" +
                    std::to_string(injector_.bytes()) + " bytes); " + std::to_string(n) + " more (" +
                    std::to_string(bytes) + " bytes) would pass its limit of " + std::to_string(kInjectFramesMax) +
                    " frames or " + std::to_string(kInjectBytesMax) +
                    " bytes: wait until 'show stats' shows fewer frames waiting"};
    injector_.add(port, std::move(frames), rate);
    return {0, "injecting " + std::to_string(n) + " frame" + (n == 1 ? "" : "s") + " on ifIndex " + std::to_string(port) +
                   (rate > 0 ? " at " + std::to_string(rate) + " frames per second" : "") + "\n",
            ""};
}

simcmd::Outcome Server::bindLink(const std::string& linuxIf, const std::string& netns, uint32_t port)
{
    if (auto bad = checkPort(port); !bad.empty()) return {2, "", bad};
    if (links_.count(linuxIf) != 0) return {2, "", linuxIf + " is bound already"};
    BoundLink l;
    try {
        l.capture = std::make_unique<simcmd::LinkCapture>(linuxIf, netns);
    } catch (const std::exception& e) {
        return {1, "", e.what()};
    }
    l.port = port;
    forwarder_.attach(port, l.capture->fd());
    l.watch = loop_.add(l.capture->fd(), EPOLLIN, [this, linuxIf](uint32_t) { readLink(linuxIf); });
    links_[linuxIf] = std::move(l);
    return {0, "frames received on " + linuxIf + (netns.empty() ? "" : " (network namespace " + netns + ")") +
                   " arrive on ifIndex " + std::to_string(port) + "\n",
            ""};
}

simcmd::Outcome Server::unbindLink(const std::string& linuxIf)
{
    auto it = links_.find(linuxIf);
    if (it == links_.end()) return {2, "", linuxIf + " is not bound"};
    forwarder_.detach(it->second.capture->fd());
    loop_.remove(it->second.watch);
    links_.erase(it);
    return {0, linuxIf + " is no longer bound\n", ""};
}

void Server::readLink(const std::string& name)
{
    auto it = links_.find(name);
    if (it == links_.end()) return;
    BoundLink& l = it->second;
    // Records the daemon sent before these frames came are applied first:
    // the data plane forwards by what they programmed.
    if (Session* d = daemon()) d->catchUp();
    try {
        l.capture->readEach(256, [&](std::span<const uint8_t> f) {
            if (!forwarder_.receive(l.port, f)) return;
            ++l.frames;
            ++stats_.framesInjected;
            ++stats_.framesFromLinks;
        });
    } catch (const std::exception& e) {
        logError("reading " + name + ": " + e.what() + "; unbound");
        forwarder_.detach(l.capture->fd());
        loop_.remove(l.watch);
        links_.erase(it);
        return;
    }
    forwarder_.flush();
}

json Server::stats() const
{
    json j;
    j["run_dir"] = plat::runDir();
    if (Session* d = daemon())
        j["daemon"] = {{"connected", true}, {"pid", d->pid()}, {"session", d->number()}};
    else
        j["daemon"] = {{"connected", false}};
    j["sessions"] = stats_.sessions;
    j["refused"] = stats_.refused;
    j["broken"] = stats_.broken;
    j["requests"] = stats_.requests;
    j["records"] = {{"applied", stats_.records},
                    {"mismatched", stats_.recordsMismatched},
                    {"reported", stats_.recordsReported}};
    j["commands"] = stats_.commands;
    j["events"] = {{"sent", stats_.eventsSent}, {"dropped", stats_.eventsDropped}};
    Session* d = daemon();
    j["frames"] = {{"injected", stats_.framesInjected},   {"from_links", stats_.framesFromLinks},
                   {"to_cpu", stats_.framesToCpu},        {"delivered", stats_.framesDelivered},
                   {"dropped", stats_.framesDropped},     {"unclaimed", stats_.framesUnclaimed},
                   {"queued", d != nullptr ? d->framesQueued() : 0}, {"waiting", injector_.waiting()}};
    j["reports"] = {{"sent", stats_.reportsSent}, {"lost", stats_.reportsLost}, {"waiting", reports_.waiting()}};
    size_t paused = 0;
    for (const auto& [id, c] : controls_) paused += c.paused;
    j["control"] = {{"clients", controls_.size()},
                    {"paused", paused},
                    {"shed", stats_.controlShed},
                    {"dropped", stats_.controlDropped}};
    j["links"] = json::array();
    for (const auto& [name, l] : links_)
        j["links"].push_back({{"linux", name}, {"netns", l.capture->netns()}, {"port", l.port}, {"frames", l.frames}});
    j["faults_waiting"] = json::array();
    for (const auto& f : pendingFaults_)
        j["faults_waiting"].push_back({{"call", f.call}, {"result", f.result}, {"times", f.times}});
    return j;
}

}  // namespace pbbsim
