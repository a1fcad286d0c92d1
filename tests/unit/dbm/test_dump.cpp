// The operator's dump: decoded contents of every store, read-only, and
// plain words when there is no store or a store is damaged.
#include "dbm_test.h"

#include "platform/dbm/dbm_dump.h"

#include <sys/wait.h>

using namespace dbmtest;

namespace {

class DbmDump : public DbmTest {
protected:
    // A little of everything the daemon stores; the stores stay open.
    void populate()
    {
        ASSERT_EQ(openPair(used, unused), DBM_OK);
        ASSERT_EQ(openRun(run), DBM_OK);
        VsiRec v{3, 7, 2, 10, 0};
        Key vsi("vsi.%s", "VSI-3"), ifl("ifvsi.%s", "ge1/0/1"), flag("if.%s", "ge1/0/2");
        ASSERT_EQ(DBM_SetBinary(used, vsi.text, vsi.len, 0, 16, &v, 0), DBM_OK);
        ASSERT_EQ(addName(used, ifl, "VSI-3"), DBM_OK);
        uint16_t one = 1;
        ASSERT_EQ(DBM_SetBinary(unused, flag.text, flag.len, 0, 2, &one, 2), DBM_OK);
        Key uc("ucpw.%u.%u.%hu.%s", 3u, 17u, static_cast<unsigned short>(10), "ge1/0/1");
        ASSERT_EQ(saveUc(run, uc, ucpw(3, 7, 17, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, 10)), DBM_OK);
        ASSERT_EQ(plat::dbm::flush(run), DBM_OK);
    }
    uint32_t used = DBM_INVALID_HANDLE, unused = DBM_INVALID_HANDLE, run = DBM_INVALID_HANDLE;
};

std::string runTool(const std::string& args, int& status)
{
#ifdef PBBCTL_PATH
    std::string cmd = std::string(PBBCTL_PATH) + " " + args + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = ::pclose(p);
    status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
#else
    (void)args;
    status = -1;
    return "";
#endif
}

}  // namespace

TEST_F(DbmDump, ListsEveryDatabaseKeyAndDecodedValueWhileTheStoresAreOpen)
{
    populate();
    plat::dbm::Dump d = plat::dbm::dumpStores(plat::dbm::storeRoot());
    EXPECT_TRUE(d.anyStore);
    EXPECT_FALSE(d.anyError);
    std::string text = plat::dbm::dumpText(d);
    for (const char* piece : {"store " , "database ePBB: 2 keys", "database pPBB: 1 key\n", "database lPBB: 1 key\n",
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
}

TEST_F(DbmDump, LeavesClosedStoresByteForByteAndCreatesNoFiles)
{
    populate();
    ASSERT_EQ(DBM_Close(used), DBM_OK);
    ASSERT_EQ(DBM_Close(unused), DBM_OK);
    ASSERT_EQ(DBM_Close(run), DBM_OK);
    auto listing = [&] {
        std::vector<std::pair<std::string, std::string>> files;
        for (auto& f : std::filesystem::directory_iterator(storeDir()))
            files.emplace_back(f.path().filename().string(), fileBytes(f.path().string()));
        std::sort(files.begin(), files.end());
        return files;
    };
    auto before = listing();
    plat::dbm::Dump d = plat::dbm::dumpStores(plat::dbm::storeRoot());
    EXPECT_EQ(d.json["stores"].size(), 2u);
    EXPECT_EQ(listing(), before);
}

TEST_F(DbmDump, SaysSoWhenThereIsNoStoreOrAStoreIsDamaged)
{
    plat::dbm::Dump none = plat::dbm::dumpStores(plat::dbm::storeRoot());
    EXPECT_FALSE(none.anyStore);
    EXPECT_EQ(plat::dbm::dumpText(none), "no database store under " + plat::dbm::storeRoot() + "\n");

    populate();
    ASSERT_EQ(DBM_Close(run), DBM_OK);
    {
        std::fstream f(runFile(), std::ios::in | std::ios::out | std::ios::binary);
        f.write("not a database at all", 21);
    }
    plat::dbm::Dump d = plat::dbm::dumpStores(plat::dbm::storeRoot());
    EXPECT_TRUE(d.anyError);
    std::string text = plat::dbm::dumpText(d);
    EXPECT_NE(text.find("store " + runFile() + " (group pbb)\n  unreadable: store " + runFile() + " is damaged"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("database ePBB: 2 keys"), std::string::npos);  // the other store still shown
}

TEST_F(DbmDump, TheOperatorToolPrintsTextAndJson)
{
#ifndef PBBCTL_PATH
    GTEST_SKIP() << "pbbctl is not part of this build";
#else
    if (!std::filesystem::exists(PBBCTL_PATH)) GTEST_SKIP() << "pbbctl has not been built";
    std::string state = dir() + "/state";
    int status = 0;
    std::string out = runTool("db dump --state-dir " + state, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "no database store under " + state + "/dbm\n");

    populate();
    out = runTool("db dump --state-dir " + state, status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("bmac=\"00:11:22:33:44:55\""), std::string::npos) << out;
    out = runTool("--json db dump --state-dir " + state, status);
    EXPECT_EQ(status, 0);
    auto j = nlohmann::json::parse(out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << out;
    EXPECT_EQ(j["stores"].size(), 2u);
    EXPECT_EQ(runTool("db dump --json --state-dir " + state, status), out);

    ASSERT_EQ(DBM_Close(run), DBM_OK);
    std::filesystem::resize_file(runFile(), 100);
    out = runTool("db dump --state-dir " + state, status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("unreadable"), std::string::npos) << out;
#endif
}
