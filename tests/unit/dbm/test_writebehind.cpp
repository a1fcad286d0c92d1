// Write-behind of the run database: reads see queued writes, commits start
// on time, on count, at the cap and on close, and a failing store is
// reported without holding the caller up.
#include "dbm_test.h"

#include <chrono>
#include <sqlite3.h>

using namespace dbmtest;
using Clock = std::chrono::steady_clock;

namespace {

class DbmWriteBehind : public DbmTest {
protected:
    void open(uint32_t intervalMs, uint32_t flushCalls, uint32_t maxPending)
    {
        plat::dbm::tuning().flushIntervalMs = intervalMs;
        plat::dbm::tuning().flushCalls = flushCalls;
        plat::dbm::tuning().maxPendingCalls = maxPending;
        ASSERT_EQ(openRun(run), DBM_OK);
        ASSERT_EQ(DBM_SetSortWord(run, key.text, key.len, 1, 12, 8, 4, 0), DBM_OK);
    }
    uint32_t learn(uint32_t i)
    {
        auto e = ucpw(1, 100, 7, {0, 0, 0, 0, uint8_t(i >> 8), uint8_t(i)}, 10);
        return DBM_InsertSortList(run, key.text, key.len, 20, e.data(), 0);
    }
    size_t storedNow()
    {
        auto disk = onDisk(runFile());
        const auto* e = disk.empty() ? nullptr : disk[0].find("ucpw.1.7.10.ge7");
        return e == nullptr ? 0 : e->elems.size();
    }
    // Polls the file until it holds `count` elements; the time it took.
    std::chrono::milliseconds waitStored(size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(5))
    {
        auto start = Clock::now();
        while (storedNow() < count && Clock::now() - start < deadline) {
        }
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }
    uint32_t run = DBM_INVALID_HANDLE;
    Key key{"ucpw.1.7.10.%s", "ge7"};
};

constexpr uint32_t kNever = 600000;  // an interval no test waits for

}  // namespace

TEST_F(DbmWriteBehind, ReadsSeeWritesThatAreNotOnDiskYet)
{
    open(kNever, 1000000, 1000000);
    for (uint32_t i = 0; i < 50; ++i) ASSERT_EQ(learn(i), DBM_OK);
    Key gone("ucpw.2.7.10.ge7");
    ASSERT_EQ(DBM_SetSortWord(run, gone.text, gone.len, 1, 12, 8, 4, 0), DBM_OK);
    ASSERT_EQ(learn(0), DBM_OK);
    EXPECT_EQ(DBM_Len(run, key.text, key.len), 50u * 20u);
    EXPECT_EQ(DBM_GetKeyNumByValueType(run, 0), 1u);
    EXPECT_EQ(storedNow(), 0u);
    ASSERT_EQ(plat::dbm::flush(run), DBM_OK);
    EXPECT_EQ(storedNow(), 50u);
}

// What starts a commit without a flush: the oldest call waiting the
// interval, enough calls waiting, or a caller that would pass the cap.
struct Trigger {
    const char* what;
    uint32_t intervalMs, flushCalls, maxPending, calls;
    size_t storedAtLeast;
    bool wait;
    int notBeforeMs;  // the interval, less a margin for a preempted test
};

class DbmCommitTrigger : public DbmWriteBehind, public ::testing::WithParamInterface<Trigger> {};

TEST_P(DbmCommitTrigger, StartsACommit)
{
    const Trigger& t = GetParam();
    open(t.intervalMs, t.flushCalls, t.maxPending);
    auto start = Clock::now();
    for (uint32_t i = 0; i < t.calls; ++i) ASSERT_EQ(learn(i), DBM_OK);
    if (t.wait) waitStored(t.storedAtLeast);
    EXPECT_GE(storedNow(), t.storedAtLeast);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(t.notBeforeMs));
}

INSTANTIATE_TEST_SUITE_P(WriteBehind, DbmCommitTrigger,
                         ::testing::Values(Trigger{"interval", 100, 1000000, 1000000, 1, 1, true, 50},
                                           Trigger{"count", kNever, 16, 1000000, 16, 16, true, 0},
                                           Trigger{"cap", kNever, 1000000, 8, 20, 12, false, 0}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(DbmWriteBehind, CloseStoresEverything)
{
    open(kNever, 1000000, 1000000);
    for (uint32_t i = 0; i < 300; ++i) ASSERT_EQ(learn(i), DBM_OK);
    ASSERT_EQ(DBM_Close(run), DBM_OK);
    EXPECT_EQ(storedNow(), 300u);
    ASSERT_EQ(openRun(run), DBM_OK);
    EXPECT_EQ(DBM_Len(run, key.text, key.len), 300u * 20u);
}

TEST_F(DbmWriteBehind, AFailingStoreIsReportedAndDoesNotHoldTheCallerUp)
{
    open(10, 1000000, 4);
    ASSERT_EQ(learn(0), DBM_OK);
    ASSERT_EQ(plat::dbm::flush(run), DBM_OK);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(runFile().c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE dbm_elements", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    // Beyond the cap: each call waits for a commit that fails twice.
    auto start = Clock::now();
    for (uint32_t i = 1; i < 10; ++i) EXPECT_EQ(learn(i), DBM_OK);
    EXPECT_EQ(plat::dbm::flush(run), DBM_ERR_STORE);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(DBM_Len(run, key.text, key.len), 10u * 20u);  // the image still serves reads
    std::string log = logText();
    EXPECT_NE(log.find("cannot write store " + runFile()), std::string::npos) << log;
    EXPECT_NE(log.find("queued calls were not stored"), std::string::npos) << log;
}
