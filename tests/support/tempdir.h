// A private run and state directory for one test, removed afterwards.
#pragma once

#include "platform/settings.h"
#include "platform/testing.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace pbbtest {

// A death test runs its statement in a child, a new run of the test binary,
// that ends without running destructors. What the child makes goes into one
// directory named after the test process, which removes it when the test
// ends (test_main.cpp); the parent and its child name the same directory.
inline bool inDeathTestChild() { return !GTEST_FLAG_GET(internal_run_death_test).empty(); }
inline std::filesystem::path deathTestDir()
{
    pid_t owner = inDeathTestChild() ? ::getppid() : ::getpid();
    return std::filesystem::temp_directory_path() / ("pbbtest." + std::to_string(owner) + ".children");
}

class TempDir {
public:
    TempDir()
    {
        std::filesystem::path root = std::filesystem::temp_directory_path();
        if (inDeathTestChild()) {
            root = deathTestDir();
            std::filesystem::create_directories(root);
        }
        std::string tmpl = (root / "pbbtest.XXXXXX").string();
        char* made = mkdtemp(tmpl.data());
        if (made == nullptr) std::abort();
        path_ = made;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string sub(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Points the platform at a temporary run directory, state directory and
// log file for the life of the object.
class PlatformDirs {
public:
    PlatformDirs()
    {
        plat::setRunDir(dir_.sub("run"));
        plat::setStateDir(dir_.sub("state"));
        plat::setLogFile(dir_.sub("pbb.log"));
    }
    ~PlatformDirs() { plat::resetSettings(); }

    std::string logFile() const { return dir_.sub("pbb.log"); }
    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
};

// A temporary directory set as the platform's run directory; at the end
// the settings and the platform's test state are reset.
class TempRunDir {
public:
    TempRunDir() { plat::setRunDir(dir_.path()); }
    ~TempRunDir()
    {
        plat::resetSettings();
        plat::testing::reset();
    }

    const std::string& path() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.sub(name); }

private:
    TempDir dir_;
};

// True once fd reports one of the events, false when the deadline passes first.
inline bool waitFor(int fd, short events, int deadlineMs = 5000)
{
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, deadlineMs) == 1 && (p.revents & events) != 0;
}
inline bool waitReadable(int fd, int deadlineMs = 5000) { return waitFor(fd, POLLIN, deadlineMs); }

}  // namespace pbbtest
