#include "platform/settings.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>

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

bool ensureDir(const std::string& dir)
{
    if (dir.empty()) return false;
    std::string path;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        path = dir.substr(0, pos);
        if (path.empty()) continue;
        if (::mkdir(path.c_str(), 0750) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace plat
