// Opening and closing: where stores live, argument checks, one opener per
// store, damaged stores, fault injection and the call log.
#include "dbm_test.h"

#include "platform/dbm/dbm_records.h"

#include <functional>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace dbmtest;

namespace {

class DbmOpen : public DbmTest {};

void writeBytes(const std::string& path, size_t offset, const std::string& bytes)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void sqlExec(const std::string& path, const char* text)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, text, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

}  // namespace

TEST_F(DbmOpen, StoresLiveUnderTheStateDirectoryWithDistinctValidHandles)
{
    uint32_t used, unused, run;
    ASSERT_EQ(openPair(used, unused), DBM_OK);
    ASSERT_EQ(openRun(run), DBM_OK);
    EXPECT_TRUE(std::filesystem::exists(pairFile()));
    EXPECT_TRUE(std::filesystem::exists(runFile()));
    for (uint32_t h : {used, unused, run}) EXPECT_NE(h, DBM_INVALID_HANDLE);
    EXPECT_NE(used, unused);
    EXPECT_NE(unused, run);
    EXPECT_NE(used, run);

    Key k("vsi.%s", "A");
    uint8_t v[2] = {1, 0};
    EXPECT_EQ(DBM_SetBinary(used, k.text, k.len, 0, 2, v, 0), DBM_OK);
    EXPECT_EQ(DBM_Close(used), DBM_OK);
    // A closed handle is gone; the other database of the pair stays usable.
    EXPECT_EQ(DBM_SetBinary(used, k.text, k.len, 0, 2, v, 0), DBM_ERR_HANDLE);
    EXPECT_EQ(DBM_IsKeyExist(used, k.text, k.len), 0u);
    EXPECT_EQ(DBM_SetBinary(unused, k.text, k.len, 0, 2, v, 0), DBM_OK);
    EXPECT_EQ(DBM_Close(DBM_INVALID_HANDLE), DBM_ERR_HANDLE);
}

TEST_F(DbmOpen, BadArgumentsAreRefusedAndLeaveOutputsAlone)
{
    uint32_t a = DBM_INVALID_HANDLE, b = DBM_INVALID_HANDLE;
    const DBM_PARAM_S badVersion{{2, 0, 1, 0, 0, 0, 0, 0}};
    const DBM_PARAM_S badClass{{1, 0, 3, 0, 0, 0, 0, 0}};
    const DBM_PARAM_S reserved{{1, 0, 2, 0, 0, 0, 0, 9}};
    EXPECT_EQ(DBM_OpenCfgDB("ePBB", "pPBB", "pbb", 0, &badVersion, &a, &b), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_OpenCfgDB("ePBB", "pPBB", "pbb", 0, &badClass, &a, &b), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_OpenCfgDB("ePBB", "ePBB", "pbb", 0, &kCfgParam, &a, &b), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_OpenCfgDB("ePBB", "pPBB", "pbb", 2, &kCfgParam, &a, &b), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_OpenCfgDB("e/PBB", "pPBB", "pbb", 0, &kCfgParam, &a, &b), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_Open("lPBB", "pbb", 7, &reserved, &a), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_Open("lPBB", "pbb", 0, &kRunParam, &a), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_Open("lPBB", "pbb", 8 | 7, &kRunParam, &a), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_Open("lPBB", "pbb", DBM_OPEN_READ | DBM_OPEN_CREATE, &kRunParam, &a), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_Open("..", "pbb", 7, &kRunParam, &a), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_Open(std::string(32, 'x').c_str(), "pbb", 7, &kRunParam, &a), DBM_ERR_PARAM);
    EXPECT_EQ(a, DBM_INVALID_HANDLE);
    EXPECT_EQ(b, DBM_INVALID_HANDLE);
    EXPECT_FALSE(std::filesystem::exists(storeDir()));
}

TEST_F(DbmOpen, ReadOnlyOpenNeedsAStoreAndRefusesWrites)
{
    uint32_t h = DBM_INVALID_HANDLE;
    EXPECT_EQ(DBM_Open("lPBB", "pbb", DBM_OPEN_READ, &kRunParam, &h), DBM_ERR_MISSING);
    EXPECT_EQ(DBM_Open("lPBB", "pbb", DBM_OPEN_READ | DBM_OPEN_WRITE, &kRunParam, &h), DBM_ERR_MISSING);
    EXPECT_FALSE(std::filesystem::exists(runFile()));
    EXPECT_NE(logText().find("lPBB.db"), std::string::npos) << logText();

    uint32_t run;
    ASSERT_EQ(openRun(run), DBM_OK);
    Key k("ucpw.1.2.3.%s", "ge1");
    auto e = ucpw(1, 100, 2, {0, 1, 2, 3, 4, 5}, 3);
    ASSERT_EQ(saveUc(run, k, e), DBM_OK);
    ASSERT_EQ(DBM_Close(run), DBM_OK);

    ASSERT_EQ(DBM_Open("lPBB", "pbb", DBM_OPEN_READ, &kRunParam, &h), DBM_OK);
    EXPECT_EQ(DBM_Len(h, k.text, k.len), 20u);
    EXPECT_EQ(DBM_RemoveSortList(h, k.text, k.len, 20, e.data()), DBM_ERR_READ_ONLY);
    EXPECT_EQ(DBM_DeleteKey(h, k.text, k.len), DBM_ERR_READ_ONLY);
    EXPECT_EQ(DBM_Close(h), DBM_OK);
    EXPECT_EQ(onDisk(runFile())[0].find(k.text)->elems.size(), 1u);
}

TEST_F(DbmOpen, AStoreHasOneOpenerInThisProcessOrAnother)
{
    uint32_t used, unused, run, again1, again2;
    ASSERT_EQ(openPair(used, unused), DBM_OK);
    ASSERT_EQ(openRun(run), DBM_OK);
    EXPECT_EQ(DBM_OpenCfgDB("ePBB", "pPBB", "pbb", 0, &kCfgParam, &again1, &again2), DBM_ERR_BUSY);
    EXPECT_EQ(DBM_Open("lPBB", "pbb", 7, &kRunParam, &again1), DBM_ERR_BUSY);

    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // A second process: its own registry, but the store is locked.
        plat::testing::reset();
        uint32_t h;
        uint32_t rc = DBM_Open("lPBB", "pbb", 7, &kRunParam, &h);
        ::_exit(rc == DBM_ERR_BUSY ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    ASSERT_EQ(DBM_Close(run), DBM_OK);
    ASSERT_EQ(openRun(run), DBM_OK);
}

// Each kind of damage makes the open fail with a log line naming the file,
// and the file keeps its bytes.
TEST_F(DbmOpen, DamagedStoresFailToOpenAndAreLeftAsTheyAre)
{
    struct Damage {
        const char* what;
        std::function<void(const std::string&)> apply;
    };
    const std::vector<Damage> damages = {
        {"garbage header", [](const std::string& p) { writeBytes(p, 0, std::string(64, '\x5a')); }},
        {"garbage page", [](const std::string& p) { writeBytes(p, 4096, std::string(4096, '\xff')); }},
        {"foreign database",
         [](const std::string& p) {
             std::filesystem::remove(p);
             sqlExec(p, "CREATE TABLE t(a); INSERT INTO t VALUES(1);");
         }},
        {"element not matching its list",
         [](const std::string& p) { sqlExec(p, "UPDATE dbm_elements SET elem = x'00'"); }},
        {"unknown format", [](const std::string& p) { sqlExec(p, "UPDATE dbm_meta SET value = '9'"); }},
    };
    for (const auto& d : damages) {
        SCOPED_TRACE(d.what);
        std::filesystem::remove_all(storeDir());
        uint32_t run;
        ASSERT_EQ(openRun(run), DBM_OK);
        for (uint32_t i = 0; i < 200; ++i) {
            Key k("ucpw.%u.2.3.ge1", i);
            ASSERT_EQ(saveUc(run, k, ucpw(i, 100, 2, {0, 1, 2, 3, 4, 5}, 3)), DBM_OK);
        }
        ASSERT_EQ(DBM_Close(run), DBM_OK);
        d.apply(runFile());
        std::string before = fileBytes(runFile());
        uint32_t h = DBM_INVALID_HANDLE;
        uint32_t rc = DBM_Open("lPBB", "pbb", 7, &kRunParam, &h);
        EXPECT_EQ(rc, DBM_ERR_CORRUPT);
        EXPECT_EQ(h, DBM_INVALID_HANDLE);
        EXPECT_EQ(fileBytes(runFile()), before);
        std::string log = logText();
        EXPECT_NE(log.find("cannot open database \"lPBB\" of group \"pbb\": store " + runFile() + " is damaged"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("dbm["), std::string::npos);
    }
}

TEST_F(DbmOpen, AnEmptyFileIsAStoreWhoseCreationWasCutShort)
{
    std::filesystem::create_directories(storeDir());
    std::ofstream(runFile()).close();
    uint32_t run;
    ASSERT_EQ(openRun(run), DBM_OK);
    EXPECT_EQ(DBM_GetKeyNumByValueType(run, 0), 0u);
}

TEST_F(DbmOpen, ArmedFaultsAnswerInsteadOfTheCall)
{
    plat::testing::failCall("DBM_Open", 0x1234);
    uint32_t run = DBM_INVALID_HANDLE;
    EXPECT_EQ(DBM_Open("lPBB", "pbb", 7, &kRunParam, &run), 0x1234u);
    EXPECT_EQ(run, DBM_INVALID_HANDLE);
    EXPECT_FALSE(std::filesystem::exists(runFile()));
    ASSERT_EQ(openRun(run), DBM_OK);  // the fault was for one call

    plat::testing::failCall("DBM_GetBinary", -7, 0);
    Key k("vsi.%s", "X");
    uint8_t v[16] = {};
    uint32_t used, unused;
    ASSERT_EQ(openPair(used, unused), DBM_OK);
    ASSERT_EQ(DBM_SetBinary(used, k.text, k.len, 0, 16, v, 0), DBM_OK);
    EXPECT_EQ(DBM_GetBinary(used, k.text, k.len, 0, 16, v), -7);
    EXPECT_EQ(DBM_GetBinary(used, k.text, k.len, 0, 16, v), -7);
}

TEST_F(DbmOpen, TheCallLogDecodesTheDaemonsRecords)
{
    uint32_t run;
    ASSERT_EQ(openRun(run), DBM_OK);
    plat::testing::setRecording(true);
    Key k("ucpw.%u.%u.%hu.%s", 5u, 17u, static_cast<unsigned short>(100), "ge1/0/1");
    ASSERT_EQ(saveUc(run, k, ucpw(5, 1000, 17, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, 100)), DBM_OK);
    auto calls = plat::testing::callsNamed("DBM_InsertSortList");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(calls[0].args.find("key=\"ucpw.5.17.100.ge1/0/1\" keylen=22"), std::string::npos) << calls[0].args;
    const auto* rec = std::any_cast<plat::dbm::Record>(&calls[0].payload);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->number("isid"), 1000u);
    EXPECT_EQ(rec->text("bmac"), "00:11:22:33:44:55");
    EXPECT_EQ(plat::testing::countCalls("DBM_SetSortWord"), 1u);
}
