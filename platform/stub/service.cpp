// Service manager: readiness to systemd through the notify protocol when
// NOTIFY_SOCKET is set, and always a status file in the run directory that
// tools read to find the daemon.

#include "platform/service.h"

#include "platform/settings.h"
#include "platform/stub/logfile.h"
#include "platform/stub/unix_addr.h"
#include "platform/testing.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

namespace {

constexpr uint32_t SERVICE_OK = 0;
constexpr uint32_t SERVICE_ERR_FILE = 1;  // the status file could not be written
constexpr uint32_t SERVICE_ERR_STATE = 2;  // a state name or value refused

void reportFailure(const std::string& what)
{
    plat::writeLog(LOG_DAEMON | LOG_ERR, "platform", "SERVICE", what + ": " + std::strerror(errno));
}

// One datagram to the notify socket; failures are logged and otherwise
// ignored (the status file is what tools rely on).
void notifySystemd(const std::string& message)
{
    const char* where = std::getenv("NOTIFY_SOCKET");
    if (where == nullptr || *where == '\0') return;
    sockaddr_un addr{};
    socklen_t len = 0;
    if (!plat::unixAddress(where, addr, len)) {
        errno = ENAMETOOLONG;
        reportFailure(std::string("notify socket ") + where);
        return;
    }
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        reportFailure("notify socket");
        return;
    }
    if (::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&addr), len) < 0)
        reportFailure(std::string("notify ") + where);
    ::close(fd);
}

bool writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes the file under a temporary name and renames it into place, so a
// reader sees the old content or the new one, never a part.
bool writeStatusFile(const std::string& text)
{
    if (std::string why = plat::ensureDirProblem(plat::runDir()); !why.empty()) {
        plat::writeLog(LOG_DAEMON | LOG_ERR, "platform", "SERVICE", "run directory: " + why);
        return false;
    }
    const std::string file = plat::serviceStatusFile();
    const std::string temp = file + ".tmp." + std::to_string(::getpid());
    // A leftover of an earlier process with this pid is removed; whatever
    // stands there then (a link planted in between) makes the open fail.
    ::unlink(temp.c_str());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        reportFailure("status file " + temp);
        return false;
    }
    bool ok = writeAll(fd, text);
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) {
        reportFailure("status file " + file);
        ::unlink(temp.c_str());
    }
    return ok;
}

plat::ReadinessCheck g_readinessCheck = nullptr;

// The daemon's states by name, and the status lines the file was last
// written with (empty until it was): a state change writes the file again
// with both.
std::map<std::string, std::string> g_states;
std::string g_statusLines;

std::string statesText()
{
    std::string text;
    for (const auto& [name, value] : g_states) text += name + "=" + value + "\n";
    return text;
}

bool stateNameOk(const std::string& name)
{
    if (name.empty() || name == "READY" || name == "MAINPID" || name == "STATUS") return false;
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    return true;
}

// A start-up made without the switch leaves the daemon's tables built from
// an empty switch and its registrations refused: it is reported as failed
// and the process ends, so that whoever started it (a supervisor, a test)
// sees the failure and may start it again once the switch is there.
[[noreturn]] void failStartup(const std::string& pid, const std::string& why)
{
    plat::writeLog(LOG_DAEMON | LOG_ERR, "platform", "SERVICE",
                   "pid " + pid + " start-up failed, not reporting readiness: the switch did not serve it (" + why +
                       "); exiting");
    plat::closeLogFile();
    ::_exit(plat::SERVICE_STARTUP_FAILED_EXIT);
}

}  // namespace

namespace plat {
std::string serviceStatusFile() { return runDir() + "/pbbd.status"; }
void setReadinessCheck(ReadinessCheck check) { g_readinessCheck = check; }
void notifyServiceManager(const std::string& state) { notifySystemd(state); }
}  // namespace plat

uint32_t SERVICE_SetStatus(uint32_t uiStatus)
{
    std::string args = "status=" + std::to_string(uiStatus);
    if (auto f = plat::testing::fault("SERVICE_SetStatus")) {
        plat::testing::record("SERVICE_SetStatus", args + " result=" + std::to_string(static_cast<uint32_t>(*f)));
        return static_cast<uint32_t>(*f);
    }
    const std::string pid = std::to_string(::getpid());
    std::string text;
    if (uiStatus == SERVICE_STATUS_READY) {
        if (g_readinessCheck != nullptr) {
            if (std::string why = g_readinessCheck(); !why.empty()) {
                plat::testing::record("SERVICE_SetStatus", args + " result=startup-failed");
                failStartup(pid, why);
            }
        }
        text = "READY=1\nMAINPID=" + pid + "\n";
        notifySystemd(text);
    } else {
        text = "STATUS=" + std::to_string(uiStatus) + "\nMAINPID=" + pid + "\n";
    }
    uint32_t rc = writeStatusFile(text + statesText()) ? SERVICE_OK : SERVICE_ERR_FILE;
    if (rc == SERVICE_OK) g_statusLines = text;
    if (uiStatus == SERVICE_STATUS_READY && rc == SERVICE_OK)
        plat::writeLog(LOG_DAEMON | LOG_INFO, "platform", "SERVICE", "pid " + pid + " reports start-up complete");
    plat::testing::record("SERVICE_SetStatus", args + " result=" + std::to_string(rc));
    return rc;
}

uint32_t SERVICE_SetState(const char* szName, const char* szValue)
{
    const std::string name = szName != nullptr ? szName : "";
    const std::string value = szValue != nullptr ? szValue : "";
    std::string args = "name=" + name + " value=" + value;
    if (auto f = plat::testing::fault("SERVICE_SetState")) {
        plat::testing::record("SERVICE_SetState", args + " result=" + std::to_string(static_cast<uint32_t>(*f)));
        return static_cast<uint32_t>(*f);
    }
    uint32_t rc = SERVICE_OK;
    if (szValue == nullptr || !stateNameOk(name) || value.find_first_of("\r\n") != std::string::npos) {
        rc = SERVICE_ERR_STATE;
    } else {
        g_states[name] = value;
        if (!g_statusLines.empty() && !writeStatusFile(g_statusLines + statesText())) rc = SERVICE_ERR_FILE;
    }
    plat::testing::record("SERVICE_SetState", args + " result=" + std::to_string(rc));
    return rc;
}
