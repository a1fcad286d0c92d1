#include "platform/stub/logfile.h"

#include "platform/settings.h"

#include <cstdio>
#include <fcntl.h>
#include <ctime>
#include <string>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

namespace plat {
namespace {

FILE* g_file = nullptr;
std::string g_fileName;

const char* severityName(int pri)
{
    static const char* const names[] = {"emerg", "alert", "crit", "err", "warning", "notice", "info", "debug"};
    return names[pri & 7];
}

FILE* logFileHandle()
{
    std::string want = logFile();
    if (want != g_fileName) {
        closeLogFile();
        g_fileName = want;
    }
    if (g_file == nullptr && !g_fileName.empty()) {
        // Not through a link someone placed at the name; readable by the
        // group (operators), by nobody else.
        int fd = ::open(g_fileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0640);
        if (fd >= 0) {
            g_file = ::fdopen(fd, "a");
            if (g_file == nullptr) ::close(fd);
        }
        if (g_file != nullptr) std::setvbuf(g_file, nullptr, _IOLBF, 0);
    }
    return g_file;
}

}  // namespace

void closeLogFile()
{
    if (g_file != nullptr) std::fclose(g_file);
    g_file = nullptr;
}

void writeLog(int iPriority, std::string_view ident, std::string_view tag, std::string_view text)
{
    FILE* f = logFileHandle();
    char stamp[40] = "";
    if (f != nullptr) {
        struct timeval tv {};
        gettimeofday(&tv, nullptr);
        struct tm tmv {};
        gmtime_r(&tv.tv_sec, &tmv);
        size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tmv);
        std::snprintf(stamp + n, sizeof stamp - n, ".%06ldZ", static_cast<long>(tv.tv_usec));
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
        while (!line.empty() && line.front() == '\r') line.remove_prefix(1);
        if (!line.empty()) {
            ::syslog(iPriority & 0xFF, "%.*s %.*s", static_cast<int>(tag.size()), tag.data(),
                     static_cast<int>(line.size()), line.data());
            if (f != nullptr)
                std::fprintf(f, "%s %.*s[%d] %.*s %s: %.*s\n", stamp, static_cast<int>(ident.size()), ident.data(),
                             static_cast<int>(::getpid()), static_cast<int>(tag.size()), tag.data(),
                             severityName(iPriority), static_cast<int>(line.size()), line.data());
        }
        if (end == text.size()) break;
        start = end + 1;
    }
}

}  // namespace plat
