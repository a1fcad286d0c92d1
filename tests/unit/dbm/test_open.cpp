// Opening and closing: where stores live, argument checks, one opener per
// store, damaged stores and fault injection; and the
// operator's read-only dump with the decoder of the daemon's records.
#include "dbm_test.h"

#include "platform/dbm/dbm_dump.h"
#include "platform/dbm/dbm_records.h"

#include <functional>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace dbmtest;

namespace {

class DbmOpen : public DbmTest {};

void sqlExec(const std::string& path, const char* text)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, text, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}
}  // namespace

TEST_F(DbmOpen, BadArgumentsAreRefusedAndLeaveOutputsAlone)
{
    uint32_t a = DBM_INVALID_HANDLE, b = DBM_INVALID_HANDLE;
    const DBM_PARAM_S badVersion{{2, 0, 1}}, badClass{{1, 0, 3}}, reserved{{1, 0, 2, 0, 0, 0, 0, 9}};
    const std::function<uint32_t()> calls[] = {
        [&] { return DBM_OpenCfgDB("ePBB", "pPBB", "pbb", 0, &badVersion, &a, &b); },
        [&] { return DBM_OpenCfgDB("ePBB", "pPBB", "pbb", 0, &badClass, &a, &b); },
        [&] { return DBM_OpenCfgDB("ePBB", "ePBB", "pbb", 0, &kCfgParam, &a, &b); },
        [&] { return DBM_OpenCfgDB("ePBB", "pPBB", "pbb", 2, &kCfgParam, &a, &b); },
        [&] { return DBM_OpenCfgDB("e/PBB", "pPBB", "pbb", 0, &kCfgParam, &a, &b); },
        [&] { return DBM_Open("lPBB", "pbb", 7, &reserved, &a); },
        [&] { return DBM_Open("lPBB", "pbb", 0, &kRunParam, &a); },
        [&] { return DBM_Open("lPBB", "pbb", 8 | 7, &kRunParam, &a); },
        [&] { return DBM_Open("lPBB", "pbb", DBM_OPEN_READ | DBM_OPEN_CREATE, &kRunParam, &a); },
        [&] { return DBM_Open("..", "pbb", 7, &kRunParam, &a); },
        [&] { return DBM_Open(std::string(32, 'x').c_str(), "pbb", 7, &kRunParam, &a); },
    };
    for (size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i](), DBM_ERR_PARAM) << "call " << i;
    EXPECT_EQ(a, DBM_INVALID_HANDLE);
    EXPECT_EQ(b, DBM_INVALID_HANDLE);
    EXPECT_FALSE(std::filesystem::exists(storeDir()));
}

TEST_F(DbmOpen, ReadOnlyOpenNeedsAStoreAndRefusesWrites)
{
    EXPECT_EQ(DBM_Open("lPBB", "pbb", DBM_OPEN_READ | DBM_OPEN_WRITE, &kRunParam, &run), DBM_ERR_MISSING);
    EXPECT_FALSE(std::filesystem::exists(runFile()));
    EXPECT_NE(logText().find("lPBB.db"), std::string::npos) << logText();
    ASSERT_EQ(openRun(), DBM_OK);
    Key k("ucpw.1.2.3.ge1");
    auto e = ucpw(1, 100, 2, mac(1), 3);
    ASSERT_EQ(saveUc(run, k, e), DBM_OK);
    ASSERT_EQ(DBM_Close(run), DBM_OK);
    ASSERT_EQ(DBM_Open("lPBB", "pbb", DBM_OPEN_READ, &kRunParam, &run), DBM_OK);
    EXPECT_EQ(DBM_Len(run, k.c(), k.len()), 20u);
    EXPECT_EQ(DBM_RemoveSortList(run, k.c(), k.len(), 20, e.data()), DBM_ERR_READ_ONLY);
    EXPECT_EQ(DBM_DeleteKey(run, k.c(), k.len()), DBM_ERR_READ_ONLY);
    EXPECT_EQ(onDiskElems(runFile(), 0, "ucpw.1.2.3.ge1"), 1);
}

TEST_F(DbmOpen, AStoreHasOneOpenerInThisProcessOrAnotherAndAClosedHandleIsGone)
{
    // Another process, started before this one opened anything: only the
    // store's lock keeps it out.
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    uint32_t a, b;
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(::read(go[0], &a, 1) == 1 && DBM_Open("lPBB", "pbb", 7, &kRunParam, &a) == DBM_ERR_BUSY ? 0 : 1);
    openAll();
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    EXPECT_EQ(DBM_OpenCfgDB("ePBB", "pPBB", "pbb", 0, &kCfgParam, &a, &b), DBM_ERR_BUSY);
    EXPECT_EQ(DBM_Open("lPBB", "pbb", 7, &kRunParam, &a), DBM_ERR_BUSY);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(DBM_Close(run), DBM_OK);
    EXPECT_EQ(openRun(), DBM_OK);
    uint16_t one = 1;
    ASSERT_EQ(DBM_Close(used), DBM_OK);
    EXPECT_EQ(setBin(used, "if.a", &one, 2, 2), DBM_ERR_HANDLE);
    EXPECT_FALSE(exists(used, "if.a"));
    EXPECT_EQ(setBin(unused, "if.a", &one, 2, 2), DBM_OK);  // the pair's other database stays
    EXPECT_EQ(DBM_Close(DBM_INVALID_HANDLE), DBM_ERR_HANDLE);
}

// Each kind of damage makes the open fail with a log line naming the file,
// and the file keeps its bytes. An empty file is a creation cut short.
TEST_F(DbmOpen, DamagedStoresFailToOpenAndAreLeftAsTheyAre)
{
    const std::pair<const char*, std::function<void(const std::string&)>> damages[] = {
        {"garbage header", [](const std::string& p) { std::fstream(p, std::ios::in | std::ios::out) << std::string(64, 'Z'); }},
        {"foreign database",
         [](const std::string& p) {
             std::filesystem::remove(p);
             sqlExec(p, "CREATE TABLE t(a); INSERT INTO t VALUES(1);");
         }},
        {"element not matching its list", [](const std::string& p) { sqlExec(p, "UPDATE dbm_keys SET value = x'00'"); }},
        {"unknown format", [](const std::string& p) { sqlExec(p, "UPDATE dbm_meta SET value = '9'"); }},
    };
    for (const auto& [what, apply] : damages) {
        SCOPED_TRACE(what);
        std::filesystem::remove_all(storeDir());
        ASSERT_EQ(openRun(), DBM_OK);
        for (uint32_t i = 0; i < 200; ++i) ASSERT_EQ(saveUc(run, "ucpw." + std::to_string(i) + ".2.3.ge1", ucpw(i, 1, 2, mac(i), 3)), DBM_OK);
        ASSERT_EQ(DBM_Close(run), DBM_OK);
        apply(runFile());
        std::string before = fileBytes(runFile());
        run = DBM_INVALID_HANDLE;
        EXPECT_EQ(openRun(), DBM_ERR_CORRUPT);
        EXPECT_EQ(run, DBM_INVALID_HANDLE);
        EXPECT_EQ(fileBytes(runFile()), before);
        EXPECT_NE(logText().find("cannot open database \"lPBB\" of group \"pbb\": store " + runFile() + " is damaged"),
                  std::string::npos)
            << logText();
    }
    std::ofstream(runFile(), std::ios::trunc).close();
    EXPECT_EQ(openRun(), DBM_OK);
}

// A store of the earlier format, one row per element, is read as it is
// (the dump) and changed to the present one when opened for writing.
TEST_F(DbmOpen, AStoreWithOneRowPerElementIsReadAndChangedOnItsFirstWritableOpen)
{
    const auto e1 = ucpw(1, 100, 2, mac(1), 3), e2 = ucpw(1, 100, 2, mac(2), 3);
    auto hex = [](const uint8_t* p, size_t n) {
        std::string out = "x'";
        for (size_t i = 0; i < n; ++i) out += "0123456789abcdef"[p[i] >> 4], out += "0123456789abcdef"[p[i] & 15];
        return out + "'";
    };
    std::string rows;
    for (const auto* e : {&e2, &e1})  // in no particular order
        rows += "INSERT INTO dbm_elements VALUES(1, 'ucpw.1.2.3.ge1', " + hex(e->data() + 12, 8) + ", " + hex(e->data(), 20) + ");";
    std::filesystem::create_directories(storeDir());
    sqlExec(runFile(), ("CREATE TABLE dbm_meta(name TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
                        "CREATE TABLE dbm_databases(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
                        "CREATE TABLE dbm_keys(db INTEGER NOT NULL, key TEXT NOT NULL, value_type INTEGER NOT NULL,"
                        " kind INTEGER NOT NULL, value BLOB, sort_kind INTEGER NOT NULL DEFAULT 0,"
                        " sort_offset INTEGER NOT NULL DEFAULT 0, sort_length INTEGER NOT NULL DEFAULT 0,"
                        " sort_compare INTEGER NOT NULL DEFAULT 0, sort_flags INTEGER NOT NULL DEFAULT 0,"
                        " elem_len INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(db, key)) WITHOUT ROWID;"
                        "CREATE TABLE dbm_elements(db INTEGER NOT NULL, key TEXT NOT NULL, field BLOB NOT NULL,"
                        " elem BLOB NOT NULL, PRIMARY KEY(db, key, field)) WITHOUT ROWID;"
                        "INSERT INTO dbm_meta VALUES('format', '1'); INSERT INTO dbm_databases VALUES(1, 'lPBB');"
                        "INSERT INTO dbm_keys VALUES(1, 'ucpw.1.2.3.ge1', 0, 2, NULL, 1, 12, 8, 4, 0, 20);"
                        "INSERT INTO dbm_keys VALUES(1, 'if.ge1', 2, 1, x'0100', 0, 0, 0, 0, 0, 0);" + rows).c_str());
    const Key k("ucpw.1.2.3.ge1");
    EXPECT_EQ(onDiskElems(runFile(), 0, k.c()), 2);
    for (int open = 0; open < 2; ++open) {
        SCOPED_TRACE(open);
        ASSERT_EQ(openRun(), DBM_OK) << logText();
        EXPECT_EQ(walk<UcPwElem>(run, k), (std::vector<UcPwElem>{e1, e2}));
        uint8_t v[2] = {};
        EXPECT_EQ(DBM_GetBinary(run, "if.ge1", 7, 0, 2, v), 2);
        EXPECT_EQ(v[0], 1);
        ASSERT_EQ(DBM_Close(run), DBM_OK);
        run = DBM_INVALID_HANDLE;
    }
    sqlExec(runFile(), "SELECT 1 FROM dbm_log");  // the present format's tables
    EXPECT_EQ(onDiskElems(runFile(), 0, k.c()), 2);
}

// An open answered by a fault for one call is the daemon's database tests'
// case; here a fault that holds for every call.
TEST_F(DbmOpen, ArmedFaultsAnswerInsteadOfTheCall)
{
    ASSERT_EQ(openRun(), DBM_OK);
    plat::testing::failCall("DBM_GetBinary", -7, 0);
    uint8_t v[2] = {};
    ASSERT_EQ(setBin(run, "if.x", v, 2, 2), DBM_OK);
    EXPECT_EQ(DBM_GetBinary(run, "if.x", 5, 0, 2, v), -7);
    EXPECT_EQ(DBM_GetBinary(run, "if.x", 5, 0, 2, v), -7);
}

// The operator's dump of a little of everything the daemon stores: while
// the stores are open, and without changing a byte of closed ones. (The
// operator's tool prints it; its JSON is what the system tests read.)
TEST_F(DbmOpen, TheDumpDecodesEveryStoreReadOnlyAndReportsADamagedOne)
{
    auto dump = [] { return plat::dbm::dumpStores(plat::dbm::storeRoot()); };
    EXPECT_EQ(plat::dbm::dumpText(dump()), "no database store under " + plat::dbm::storeRoot() + "\n");
    openAll();
    uint32_t vsi[4] = {3, 7, 2, 10};
    uint16_t one = 1;
    ASSERT_EQ(setBin(used, "vsi.VSI-3", vsi, 16, 0), DBM_OK);
    ASSERT_EQ(addName(used, "ifvsi.ge1/0/1", "VSI-3"), DBM_OK);
    ASSERT_EQ(setBin(unused, "if.ge1/0/2", &one, 2, 2), DBM_OK);
    ASSERT_EQ(saveUc(run, "ucpw.3.17.10.ge1/0/1", ucpw(3, 7, 17, {0, 0x11, 0x22, 0x33, 0x44, 0x55}, 10)), DBM_OK);
    ASSERT_EQ(plat::dbm::flush(run), DBM_OK);
    plat::dbm::Dump d = dump();
    EXPECT_TRUE(d.anyStore && !d.anyError);
    std::string text = plat::dbm::dumpText(d);
    for (const char* piece : {"database ePBB: 2 keys", "database pPBB: 1 key\n", "database lPBB: 1 key\n",
                              "key \"vsi.VSI-3\" type 0 binary 16 bytes",
                              "PbbDbmVsiRec: vsi_index=3 isid=7 encap_type=2 bvlan=10 reserved=0",
                              "key \"ifvsi.ge1/0/1\" type 1 sort list of 1 x 32 bytes (sort 1,0,32,5,0)",
                              "vsi_name=\"VSI-3\"", "key \"if.ge1/0/2\" type 2 binary 2 bytes", "uplink_all=1",
                              "key \"ucpw.3.17.10.ge1/0/1\" type 0 sort list of 1 x 20 bytes (sort 1,12,8,4,0)",
                              "vsi_index=3 isid=7 ifindex=17 bmac=\"00:11:22:33:44:55\" bvlan=10"})
        EXPECT_NE(text.find(piece), std::string::npos) << piece << "\n" << text;
    const auto& stores = d.json["stores"];
    ASSERT_EQ(stores.size(), 2u);
    const auto& pair = stores[0]["file"].get<std::string>() == pairFile() ? stores[0] : stores[1];
    EXPECT_EQ(pair["databases"][0]["keys"][1]["record"]["isid"], 7);
    EXPECT_EQ(pair["databases"][0]["keys"][0]["key_fields"]["if_name"], "ge1/0/1");

    closeAll();
    auto listing = [&] {
        std::map<std::string, std::string> files;
        for (auto& f : std::filesystem::directory_iterator(storeDir())) files[f.path().string()] = fileBytes(f.path().string());
        return files;
    };
    auto before = listing();
    EXPECT_EQ(dump().json["stores"].size(), 2u);
    EXPECT_EQ(listing(), before);

    std::fstream(runFile(), std::ios::in | std::ios::out | std::ios::binary).write("not a database at all", 21);
    EXPECT_TRUE(dump().anyError);
    text = plat::dbm::dumpText(dump());
    EXPECT_NE(text.find("store " + runFile() + " (group pbb)\n  unreadable: store " + runFile() + " is damaged"), std::string::npos) << text;
    EXPECT_NE(text.find("database ePBB: 2 keys"), std::string::npos);  // the other store still shown
#ifdef PBBCTL_PATH
    if (std::filesystem::exists(PBBCTL_PATH)) {  // and the operator's tool fails
        int status = std::system((std::string(PBBCTL_PATH) + " db dump --state-dir " + dir() + "/state >/dev/null 2>&1").c_str());
        EXPECT_EQ(WEXITSTATUS(status), 1);
    }
#endif
}

// The dump shows the records decoded; what is not the daemon's is not guessed at.
TEST(DbmRecords, MalformedKeysAndRecordsAreLeftUndecoded)
{
    using namespace plat::dbm;
    auto e = ucpw(5, 1000, 17, mac(1), 100);
    std::string_view all(reinterpret_cast<const char*>(e.data()), e.size());
    EXPECT_TRUE(decodeElement("ucpw.5.17.100.ge1", all));
    EXPECT_FALSE(decodeElement("ucpw.5.17.100.ge1", all.substr(0, 19)));
    EXPECT_FALSE(decodeElement("vsi.A", all));
    EXPECT_EQ(decodeKey("ucpw.5.17.100.ge1/0/1.20")->text("if_name"), "ge1/0/1.20");
    for (const char* bad : {"ucpw.5.17.ge1", "ucpw.5.x.100.ge1", "ucpw.5.17.70000.ge1" /* B-VLAN is 16 bits */, "other"})
        EXPECT_FALSE(decodeKey(bad)) << bad;
    EXPECT_EQ(hexOf(std::string_view("\x01\xab", 2)), "01ab");
}
