// Helpers of the platform tests: a temporary run directory set as the
// platform's, removed with everything in it at the end of the test, and a
// bounded wait for a descriptor to become readable.
#pragma once

#include "platform/settings.h"
#include "platform/testing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <string>

namespace pbbtest {

class TempRunDir {
public:
    TempRunDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "pbb-plat-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        m_path = tmpl;
        plat::setRunDir(m_path);
    }
    ~TempRunDir()
    {
        plat::resetSettings();
        plat::testing::reset();
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempRunDir(const TempRunDir&) = delete;
    TempRunDir& operator=(const TempRunDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// True once fd is readable, false when the deadline passes first.
inline bool waitReadable(int fd, int deadlineMs = 5000)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, deadlineMs) == 1 && (p.revents & POLLIN) != 0;
}

}  // namespace pbbtest
