// Fixture of the database service tests: a private state directory and log
// file, the daemon's way of opening and writing its databases, and a look at
// what the store files hold on disk.
#pragma once

#include "platform/dbm.h"
#include "platform/dbm/dbm_store.h"
#include "platform/settings.h"
#include "platform/stub/logfile.h"
#include "platform/testing.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>
#include <string>
#include <vector>

namespace dbmtest {

// A key as the daemon passes it: text and length + 1.
struct Key {
    std::string text;
    Key(std::string t) : text(std::move(t)) {}
    Key(const char* t) : text(t) {}
    const char* c() const { return text.c_str(); }
    uint32_t len() const { return static_cast<uint32_t>(text.size() + 1); }
};

using UcPwElem = std::array<uint8_t, 20>;
using VsiName = std::array<char, 32>;

// The daemon's learned entry; its sort field is bytes 12-19 (B-MAC, B-VLAN).
inline UcPwElem ucpw(uint32_t vsi, uint32_t isid, uint32_t ifIndex, std::array<uint8_t, 6> mac, uint16_t bvlan)
{
    UcPwElem e{};
    for (auto [at, p, n] : {std::tuple<size_t, const void*, size_t>{0, &vsi, 4}, {4, &isid, 4}, {8, &ifIndex, 4},
                            {12, mac.data(), 6}, {18, &bvlan, 2}})
        std::memcpy(&e[at], p, n);
    return e;
}
inline std::array<uint8_t, 6> mac(uint32_t i) { return {0, 0x11, uint8_t(i >> 24), uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)}; }
inline VsiName vsiName(const char* name)
{
    VsiName n{};
    std::strncpy(n.data(), name, 31);
    return n;
}

// The daemon's saving of a learned entry and of a VSI name of an interface:
// the list is described before its first element.
inline uint32_t saveUc(uint32_t h, const Key& k, const UcPwElem& e)
{
    if (DBM_IsKeyExist(h, k.c(), k.len()) != 1) DBM_SetSortWord(h, k.c(), k.len(), 1, 12, 8, 4, 0);
    return DBM_InsertSortList(h, k.c(), k.len(), 20, e.data(), 0);
}
inline uint32_t addName(uint32_t h, const Key& k, const char* name)
{
    if (DBM_IsKeyExist(h, k.c(), k.len()) != 1) DBM_SetSortWord(h, k.c(), k.len(), 1, 0, 32, 5, 0);
    return DBM_InsertSortList(h, k.c(), k.len(), 32, vsiName(name).data(), 1);
}
inline uint32_t setBin(uint32_t h, const Key& k, const void* v, uint32_t len, uint32_t type)
{
    return DBM_SetBinary(h, k.c(), k.len(), 0, len, v, type);
}
inline bool exists(uint32_t h, const Key& k) { return DBM_IsKeyExist(h, k.c(), k.len()) == 1; }

// The elements of a list, walked in chunks of `chunk` elements of T.
template <class T>
std::vector<T> walk(uint32_t h, const Key& k, uint32_t chunk = 128)
{
    std::vector<T> out, buf(chunk);
    uint32_t iter = 0;
    int32_t n;
    while ((n = DBM_BatchGetNextSortList(h, k.c(), k.len(), &iter, 0, 0, sizeof(T), chunk, buf.data())) > 0)
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(DBM_FreeIterator(iter), DBM_OK);
    return out;
}
inline std::vector<std::string> names(uint32_t h, const Key& k)
{
    std::vector<std::string> out;
    for (const auto& n : walk<VsiName>(h, k)) out.emplace_back(n.data());
    return out;
}

inline std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

constexpr DBM_PARAM_S kCfgParam{{1, 0, 1, 0, 0, 0, 0, 0}};
constexpr DBM_PARAM_S kRunParam{{1, 0, 2, 0, 0, 0, 0, 0}};

class DbmTest : public ::testing::Test {
protected:
    void SetUp() override { plat::dbm::tuning() = plat::dbm::Tuning{}; }
    void TearDown() override
    {
        for (uint32_t h : {used, unused, run}) DBM_Close(h);
        plat::closeLogFile();
        plat::testing::reset();
        plat::dbm::tuning() = plat::dbm::Tuning{};
    }

    // The daemon's opening of its configuration pair and run database.
    uint32_t openPair() { return DBM_OpenCfgDB("ePBB", "pPBB", "pbb", 0, &kCfgParam, &used, &unused); }
    uint32_t openRun() { return DBM_Open("lPBB", "pbb", 7, &kRunParam, &run); }
    void openAll()
    {
        ASSERT_EQ(openPair(), DBM_OK);
        ASSERT_EQ(openRun(), DBM_OK);
    }
    void closeAll()
    {
        for (uint32_t* h : {&used, &unused, &run}) {
            EXPECT_EQ(DBM_Close(*h), DBM_OK);
            *h = DBM_INVALID_HANDLE;
        }
    }

    std::string dir() const { return m_dirs.dir().path(); }
    std::string storeDir() const { return dir() + "/state/dbm/pbb"; }
    std::string pairFile() const { return storeDir() + "/ePBB+pPBB.db"; }
    std::string runFile() const { return storeDir() + "/lPBB.db"; }
    std::string logText() const { return fileBytes(m_dirs.logFile()); }

    // What a store file holds on disk now, read through a connection of its
    // own; images in the file's database order.
    std::vector<plat::dbm::Image> onDisk(const std::string& file)
    {
        plat::dbm::StoreSpec spec;
        spec.path = file;
        spec.writable = spec.create = false;
        std::unique_ptr<plat::dbm::StoreFile> f;
        std::vector<plat::dbm::Image> images;
        std::string error;
        EXPECT_EQ(plat::dbm::StoreFile::open(spec, f, images, error), DBM_OK) << error;
        return images;
    }
    // Elements of a list on disk; -1 when the key is not there.
    long onDiskElems(const std::string& file, size_t db, const char* key)
    {
        auto disk = onDisk(file);
        const auto* e = db < disk.size() ? disk[db].find(key) : nullptr;
        return e ? static_cast<long>(e->elems.size()) : -1;
    }

    pbbtest::PlatformDirs m_dirs;
    uint32_t used = DBM_INVALID_HANDLE, unused = DBM_INVALID_HANDLE, run = DBM_INVALID_HANDLE;
};

}  // namespace dbmtest
