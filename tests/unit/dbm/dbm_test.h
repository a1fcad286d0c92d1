// Fixture of the database service tests: a private state directory and log
// file, the daemon's way of opening its databases, key and element makers,
// and a look at what the store files hold on disk.
#pragma once

#include "platform/dbm.h"
#include "platform/dbm/dbm_store.h"
#include "platform/settings.h"
#include "platform/stub/logfile.h"
#include "platform/testing.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace dbmtest {

// A key as the daemon builds it: text in a 128-byte buffer, length + 1.
struct Key {
    char text[128] = {};
    uint32_t len = 0;
    explicit Key(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list ap;
        va_start(ap, fmt);
        std::vsnprintf(text, sizeof text, fmt, ap);
        va_end(ap);
        len = static_cast<uint32_t>(std::strlen(text) + 1);
    }
};

using UcPwElem = std::array<uint8_t, 20>;
using VsiName = std::array<char, 32>;

inline UcPwElem ucpw(uint32_t vsi, uint32_t isid, uint32_t ifIndex, std::array<uint8_t, 6> mac, uint16_t bvlan)
{
    UcPwElem e{};
    std::memcpy(&e[0], &vsi, 4);
    std::memcpy(&e[4], &isid, 4);
    std::memcpy(&e[8], &ifIndex, 4);
    std::memcpy(&e[12], mac.data(), 6);
    std::memcpy(&e[18], &bvlan, 2);
    return e;
}

inline VsiName vsiName(const char* name)
{
    VsiName n{};
    std::strncpy(n.data(), name, 31);
    return n;
}

// The daemon's VSI record.
struct VsiRec {
    uint32_t uiVsiIndex, uiISid, uiEncapType;
    uint16_t usBVlan, usReserved;
};
static_assert(sizeof(VsiRec) == 16);

template <class T>
std::string_view bytesOf(const T& v)
{
    return {reinterpret_cast<const char*>(&v), sizeof v};
}

// The daemon's saving of a learned entry: the list is described on its
// first element.
inline uint32_t saveUc(uint32_t h, const Key& k, const UcPwElem& e)
{
    if (DBM_IsKeyExist(h, k.text, k.len) != 1) DBM_SetSortWord(h, k.text, k.len, 1, 12, 8, 4, 0);
    return DBM_InsertSortList(h, k.text, k.len, 20, e.data(), 0);
}

// The daemon's adding of a VSI name to an interface's list.
inline uint32_t addName(uint32_t h, const Key& k, const char* name)
{
    if (DBM_IsKeyExist(h, k.text, k.len) != 1) DBM_SetSortWord(h, k.text, k.len, 1, 0, 32, 5, 0);
    auto n = vsiName(name);
    return DBM_InsertSortList(h, k.text, k.len, 32, n.data(), 1);
}

// The names of an interface's list, walked one at a time.
inline std::vector<std::string> names(uint32_t h, const Key& k)
{
    std::vector<std::string> out;
    uint32_t iter = 0;
    VsiName buf;
    int32_t n;
    while ((n = DBM_GetNextSortList(h, k.text, k.len, &iter, 0, 0, 32, buf.data())) > 0) {
        EXPECT_EQ(n, 32);
        out.emplace_back(buf.data());
    }
    DBM_FreeIterator(iter);
    return out;
}

constexpr DBM_PARAM_S kCfgParam{{1, 0, 1, 0, 0, 0, 0, 0}};
constexpr DBM_PARAM_S kRunParam{{1, 0, 2, 0, 0, 0, 0, 0}};

class DbmTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "pbb-dbm-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        m_dir = tmpl;
        plat::setStateDir(m_dir + "/state");
        plat::setLogFile(m_dir + "/pbb.log");
        plat::dbm::tuning() = plat::dbm::Tuning{};
    }
    void TearDown() override
    {
        for (uint32_t h : m_handles) DBM_Close(h);
        plat::closeLogFile();
        plat::resetSettings();
        plat::testing::reset();
        plat::dbm::tuning() = plat::dbm::Tuning{};
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    // The daemon's opening of its configuration pair and run database.
    uint32_t openPair(uint32_t& used, uint32_t& unused)
    {
        used = unused = DBM_INVALID_HANDLE;
        uint32_t rc = DBM_OpenCfgDB("ePBB", "pPBB", "pbb", 0, &kCfgParam, &used, &unused);
        if (rc == DBM_OK) m_handles.insert(m_handles.end(), {used, unused});
        return rc;
    }
    uint32_t openRun(uint32_t& run)
    {
        run = DBM_INVALID_HANDLE;
        uint32_t rc = DBM_Open("lPBB", "pbb", 7, &kRunParam, &run);
        if (rc == DBM_OK) m_handles.push_back(run);
        return rc;
    }

    std::string storeDir() const { return m_dir + "/state/dbm/pbb"; }
    std::string pairFile() const { return storeDir() + "/ePBB+pPBB.db"; }
    std::string runFile() const { return storeDir() + "/lPBB.db"; }
    const std::string& dir() const { return m_dir; }

    std::string logText() const
    {
        std::ifstream in(m_dir + "/pbb.log");
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    // What a store file holds on disk now, read through a connection of
    // its own; images in the file's database order.
    std::vector<plat::dbm::Image> onDisk(const std::string& file)
    {
        plat::dbm::StoreSpec spec;
        spec.path = file;
        spec.writable = false;
        spec.create = false;
        std::unique_ptr<plat::dbm::StoreFile> f;
        std::vector<plat::dbm::Image> images;
        std::string error;
        uint32_t rc = plat::dbm::StoreFile::open(spec, f, images, error);
        EXPECT_EQ(rc, DBM_OK) << error;
        return images;
    }

private:
    std::string m_dir;
    std::vector<uint32_t> m_handles;
};

inline std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace dbmtest
