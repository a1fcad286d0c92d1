#include "platform/settings.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

std::optional<std::string> g_runDir, g_stateDir, g_logFile;

std::string fromEnv(const char* name, const char* dflt)
{
    const char* v = std::getenv(name);
    return (v != nullptr && *v != '\0') ? std::string(v) : std::string(dflt);
}

}  // namespace

std::string runDir() { return g_runDir ? *g_runDir : fromEnv("PBB_RUN_DIR", "/run/pbb"); }
std::string stateDir() { return g_stateDir ? *g_stateDir : fromEnv("PBB_STATE_DIR", "/var/lib/pbb"); }
std::string logFile() { return g_logFile ? *g_logFile : fromEnv("PBB_LOG_FILE", ""); }

void setRunDir(const std::string& dir) { g_runDir = dir; }
void setStateDir(const std::string& dir) { g_stateDir = dir; }
void setLogFile(const std::string& file) { g_logFile = file; }

void resetSettings()
{
    g_runDir.reset();
    g_stateDir.reset();
    g_logFile.reset();
}

std::string ensureDirProblem(const std::string& dir)
{
    if (dir.empty()) {
        errno = ENOENT;
        return "no directory named";
    }
    std::string path;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        path = dir.substr(0, pos);
        if (path.empty()) continue;
        if (::mkdir(path.c_str(), 0750) != 0 && errno != EEXIST)
            return "cannot create " + path + ": " + std::strerror(errno);
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return "cannot reach " + dir + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return dir + " is not a directory";
    }
    // Sockets, status files and stores are created in it: another user, or
    // anyone who may write it, could plant or replace them.
    if (st.st_uid != ::geteuid()) {
        errno = EPERM;
        return dir + " belongs to uid " + std::to_string(st.st_uid) + ", not to this process's uid " +
               std::to_string(::geteuid()) + "; refusing to use it";
    }
    if ((st.st_mode & S_IWOTH) != 0) {
        errno = EPERM;
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return dir + " is writable by others (mode " + mode + "); refusing to use it";
    }
    return {};
}

bool ensureDir(const std::string& dir) { return ensureDirProblem(dir).empty(); }

}  // namespace plat
