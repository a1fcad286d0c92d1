// How changes reach the files: DBM_Batch_Proc (row order, verdicts, keys
// handed over once, one commit for the whole batch) and the write-behind of
// the run database (reads see queued writes, commits start on time, on
// count, at the cap and on close, a failing store is reported without
// holding the caller up).
#include "dbm_test.h"

#include <chrono>
#include <functional>
#include <map>
#include <sqlite3.h>

using namespace dbmtest;
using Clock = std::chrono::steady_clock;

namespace {

using Visit = std::pair<uint32_t, std::string>;
std::vector<Visit> g_visits;
std::map<std::string, uint32_t> g_verdicts;  // by key; keep when absent
std::function<void(uint32_t, const char*, uint32_t)> g_during;

uint32_t handler(uint32_t h, const char* key, uint32_t len)
{
    EXPECT_EQ(len, std::strlen(key) + 1);
    g_visits.emplace_back(h, key);
    if (g_during) g_during(h, key, len);
    auto it = g_verdicts.find(key);
    return it == g_verdicts.end() ? DBM_PROC_KEEP : it->second;
}

class DbmBatch : public DbmTest {
protected:
    void SetUp() override
    {
        DbmTest::SetUp();
        g_visits.clear();
        g_verdicts.clear();
        g_during = nullptr;
        openAll();
        uint8_t rec[16] = {};
        uint16_t one = 1;
        for (const char* k : {"vsi.B", "vsi.A"}) ASSERT_EQ(setBin(used, k, rec, 16, 0), DBM_OK);
        for (auto [h, k] : {Visit{used, "if.ge1"}, {unused, "if.ge2"}, {unused, "if.ge3"}}) ASSERT_EQ(setBin(h, k, &one, 2, 2), DBM_OK);
        for (auto [h, k] : {Visit{used, "ifvsi.ge1"}, {unused, "ifvsi.ge2"}}) ASSERT_EQ(addName(h, k, "A"), DBM_OK);
    }
    // The daemon's configuration table: VSIs, then VSI lists, then all-VSI flags.
    const DBM_PROC_KEY_S table[3] = {{0, handler, nullptr}, {1, handler, handler}, {2, handler, handler}};
};

}  // namespace

// Rows run in table order, the first database before the second; a key
// moved into the second database is not handed over again. Nothing reaches
// the disk before the batch ends.
TEST_F(DbmBatch, VerdictsAreCarriedOutAtOnceAndStoredInOneCommit)
{
    g_verdicts = {{"vsi.A", DBM_PROC_DELETE}, {"if.ge1", DBM_PROC_MOVE}, {"if.ge2", DBM_PROC_MOVE},
                  {"ifvsi.ge2", DBM_PROC_DELETE}, {"ifvsi.ge1", DBM_PROC_MOVE}};
    long midway = -1;
    g_during = [&](uint32_t h, const char* key, uint32_t len) {
        if (std::string(key) != "ifvsi.ge2") return;
        auto n = vsiName("A");  // a handler's own write
        EXPECT_EQ(DBM_RemoveSortList(h, key, len, 32, n.data()), DBM_OK);
        auto disk = onDisk(pairFile());
        midway = (disk[0].find("vsi.A") != nullptr) + (disk[0].find("ifvsi.ge1") != nullptr) + disk[1].find("ifvsi.ge2")->elems.size();
    };
    ASSERT_EQ(DBM_Batch_Proc(used, unused, table, 3), DBM_OK);
    EXPECT_EQ(g_visits, (std::vector<Visit>{{used, "vsi.A"}, {used, "vsi.B"}, {used, "ifvsi.ge1"}, {unused, "ifvsi.ge2"},
                                            {used, "if.ge1"}, {unused, "if.ge2"}, {unused, "if.ge3"}}));
    EXPECT_EQ(midway, 3);  // the earlier delete and move, and the element, all still on disk
    for (auto [h, k] : {Visit{used, "vsi.A"}, {unused, "ifvsi.ge2"}, {unused, "if.ge2"}, {used, "ifvsi.ge1"}}) EXPECT_FALSE(exists(h, k)) << k;
    for (auto [h, k] : {Visit{unused, "if.ge1"}, {used, "if.ge2"}, {used, "vsi.B"}, {unused, "ifvsi.ge1"}, {unused, "if.ge3"}})
        EXPECT_TRUE(exists(h, k)) << k;
    auto disk = onDisk(pairFile());
    EXPECT_EQ(disk[0].find("vsi.A"), nullptr);
    EXPECT_NE(disk[1].find("if.ge1"), nullptr);
    EXPECT_NE(disk[0].find("if.ge2"), nullptr);
    EXPECT_EQ(disk[1].find("ifvsi.ge2"), nullptr);

    // A move without a second database keeps the key.
    g_verdicts = {{"vsi.B", DBM_PROC_MOVE}};
    ASSERT_EQ(DBM_Batch_Proc(used, DBM_INVALID_HANDLE, table, 1), DBM_OK);
    EXPECT_TRUE(exists(used, "vsi.B"));
}

namespace {

constexpr uint32_t kNever = 600000;  // an interval no test waits for

class DbmWriteBehind : public DbmTest {
protected:
    void open(uint32_t intervalMs, uint32_t flushCalls, uint32_t maxPending)
    {
        plat::dbm::tuning().flushIntervalMs = intervalMs;
        plat::dbm::tuning().flushCalls = flushCalls;
        plat::dbm::tuning().maxPendingCalls = maxPending;
        ASSERT_EQ(openRun(), DBM_OK);
        ASSERT_EQ(DBM_SetSortWord(run, key.c(), key.len(), 1, 12, 8, 4, 0), DBM_OK);
    }
    uint32_t learn(uint32_t i)
    {
        auto e = ucpw(1, 100, 7, mac(i), 10);
        return DBM_InsertSortList(run, key.c(), key.len(), 20, e.data(), 0);
    }
    long stored() { return std::max(0L, onDiskElems(runFile(), 0, "ucpw.1.7.10.ge7")); }
    Key key{"ucpw.1.7.10.ge7"};
};

// What starts a commit without a flush: the oldest call waiting the
// interval, enough calls waiting, or a caller that would pass the cap.
struct Trigger {
    const char* what;
    uint32_t intervalMs, flushCalls, maxPending, calls;
    long storedAtLeast;
    bool wait;         // for the committer; at the cap the caller itself waits
    int notBeforeMs;  // the interval, less a margin for a preempted test
};

class DbmCommitTrigger : public DbmWriteBehind, public ::testing::WithParamInterface<Trigger> {};
class DbmPacedCommitter : public DbmWriteBehind, public ::testing::WithParamInterface<bool> {};

TEST_P(DbmCommitTrigger, StartsACommit)
{
    const Trigger& t = GetParam();
    open(t.intervalMs, t.flushCalls, t.maxPending);
    auto start = Clock::now();
    for (uint32_t i = 0; i < t.calls; ++i) ASSERT_EQ(learn(i), DBM_OK);
    while (t.wait && stored() < t.storedAtLeast && Clock::now() - start < std::chrono::seconds(5)) {
    }
    EXPECT_GE(stored(), t.storedAtLeast);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(t.notBeforeMs));
}

INSTANTIATE_TEST_SUITE_P(WriteBehind, DbmCommitTrigger,
                         ::testing::Values(Trigger{"interval", 100, 1000000, 1000000, 1, 1, true, 50},
                                           Trigger{"count", kNever, 16, 1000000, 16, 16, true, 0},
                                           Trigger{"cap", kNever, 1000000, 8, 20, 12, false, 0}),
                         [](const auto& info) { return std::string(info.param.what); });

// After a commit of `flushCalls` the committer looks at the queue by itself
// and callers no longer wake it: the next calls are committed all the same,
// by their count and, alone, by the interval (not sooner).
TEST_P(DbmPacedCommitter, CommitsWhatComesAfterAFullCommit)
{
    const bool byInterval = GetParam();
    open(byInterval ? 100 : kNever, 16, 1000000);
    auto storedWithin = [this](long n) {
        auto deadline = Clock::now() + std::chrono::seconds(5);
        while (stored() < n && Clock::now() < deadline) {
        }
        return stored();
    };
    for (uint32_t i = 0; i < 16; ++i) ASSERT_EQ(learn(i), DBM_OK);
    ASSERT_EQ(storedWithin(16), 16);
    auto start = Clock::now();
    const uint32_t more = byInterval ? 1 : 16;
    for (uint32_t i = 16; i < 16 + more; ++i) ASSERT_EQ(learn(i), DBM_OK);
    EXPECT_EQ(storedWithin(16 + more), 16 + more);
    if (byInterval) {
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
    }
}

INSTANTIATE_TEST_SUITE_P(WriteBehind, DbmPacedCommitter, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Interval" : "Count"); });

}  // namespace

// A close stores what is queued: the read-only reopen and the damaged-store tests.
TEST_F(DbmWriteBehind, ReadsSeeQueuedWritesAndAFlushStoresThem)
{
    open(kNever, 1000000, 1000000);
    for (uint32_t i = 0; i < 300; ++i) ASSERT_EQ(learn(i), DBM_OK);
    ASSERT_EQ(DBM_SetSortWord(run, "ucpw.2", 7, 1, 12, 8, 4, 0), DBM_OK);
    EXPECT_EQ(DBM_Len(run, key.c(), key.len()), 300u * 20u);
    EXPECT_EQ(DBM_GetKeyNumByValueType(run, 0), 1u);
    EXPECT_EQ(stored(), 0);
    ASSERT_EQ(plat::dbm::flush(run), DBM_OK);
    EXPECT_EQ(stored(), 300);
}

TEST_F(DbmWriteBehind, AFailingStoreIsReportedAndDoesNotHoldTheCallerUp)
{
    open(10, 1000000, 4);
    ASSERT_EQ(learn(0), DBM_OK);
    ASSERT_EQ(plat::dbm::flush(run), DBM_OK);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(runFile().c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE dbm_log", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    auto start = Clock::now();  // beyond the cap each call waits for a commit that fails twice
    for (uint32_t i = 1; i < 10; ++i) EXPECT_EQ(learn(i), DBM_OK);
    EXPECT_EQ(plat::dbm::flush(run), DBM_ERR_STORE);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(DBM_Len(run, key.c(), key.len()), 10u * 20u);  // the image still serves reads
    EXPECT_NE(logText().find("cannot write store " + runFile()), std::string::npos) << logText();
    EXPECT_NE(logText().find("queued calls were not stored"), std::string::npos) << logText();
}
