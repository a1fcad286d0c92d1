// Crash safety: a child process performs a seeded stream of the daemon's
// kinds of writes (learned entries, VSI and uplink records, moves,
// recovery-like batches) over a small set of keys and is killed with
// SIGKILL at random points. After every kill the stores open; the parent
// replays the stream into a copy of the stores as they were before the
// round, and the configuration pair must hold exactly the writes whose calls
// returned (plus, possibly, the one under way), the run database the effect
// of a prefix of its writes that misses none older than the stated bound:
// 1024 calls, and 250 ms between a call's return and the kill.
#include "dbm_test.h"

#include "platform/dbm/dbm_registry.h"

#include <chrono>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <random>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>

using namespace dbmtest;

namespace {

constexpr int kRounds = 30;
constexpr size_t kBoundCalls = 1024;
constexpr int64_t kBoundNs = 250'000'000;
enum : int { kPair = 1, kRun = 2, kIdle = 4 };

struct Handles {
    uint32_t used, unused, run;
};

// A batch handler drops the first element of some lists (as recovery drops
// refused entries), then keeps, deletes or moves the key.
uint64_t g_salt = 0;
bool g_wrote = false;  // the last write of the run database was a call that changed it
uint32_t batchHandler(uint32_t h, const char* key, uint32_t len)
{
    uint64_t hash = 1469598103934665603ULL ^ g_salt;
    for (const char* c = key; *c; ++c) hash = (hash ^ uint8_t(*c)) * 1099511628211ULL;
    hash = (hash ^ (hash >> 33)) * 0xff51afd7ed558ccdULL;
    bool learned = key[0] == 'u', list = learned || key[2] == 'v';
    uint32_t elemLen = learned ? 20 : 32, iter = 0;
    char buf[32];
    if (list && hash % 4 == 0 && DBM_GetNextSortList(h, key, len, &iter, 0, 0, elemLen, buf) > 0)
        DBM_RemoveSortList(h, key, len, elemLen, buf);
    DBM_FreeIterator(iter);
    uint64_t v = (hash / 4) % 5;
    return v == 0 ? DBM_PROC_DELETE : v == 1 && !learned ? DBM_PROC_MOVE : DBM_PROC_KEEP;
}
// The daemon's tables: learned entries; VSIs, VSI lists and uplink flags.
const DBM_PROC_KEY_S kRows[4] = {{0, batchHandler, nullptr}, {0, batchHandler, nullptr},
                                 {1, batchHandler, batchHandler}, {2, batchHandler, batchHandler}};

// The next write of the stream, drawn from rng and performed when its kind
// is among `kinds`; returns its kind. A burst is learned entries only, as
// fast as they come. A write on a missing key or element changes nothing.
int step(std::mt19937_64& rng, bool burst, const Handles& h, int kinds)
{
    unsigned roll = static_cast<unsigned>(rng() % (burst ? 79 : 100));
    bool second = rng() % 2;
    uint32_t db = second ? h.unused : h.used, other = second ? h.used : h.unused;
    g_salt = rng();
    if (roll < 78) {
        uint32_t vsi = rng() % 4, ifIndex = 1 + rng() % 4, isid = rng() % 1000, m = rng() % 64;
        Key k = "ucpw." + std::to_string(vsi) + "." + std::to_string(ifIndex) + ".10.ge" + std::to_string(ifIndex);
        auto e = ucpw(vsi, isid, ifIndex, mac(m), 10);
        if (!(kinds & kRun)) return kRun;
        uint32_t rc = roll < 60   ? saveUc(h.run, k, e)
                      : roll < 75 ? DBM_RemoveSortList(h.run, k.c(), k.len(), 20, e.data())
                                  : DBM_DeleteKey(h.run, k.c(), k.len());
        g_wrote = rc == DBM_OK;
        return kRun;
    }
    if (roll == 78 || roll == 95) {
        int kind = roll == 78 ? kRun : kPair;
        g_wrote = true;
        if (kinds & kind) DBM_Batch_Proc(kind == kRun ? h.run : h.used, kind == kRun ? DBM_INVALID_HANDLE : h.unused,
                                         kind == kRun ? kRows : kRows + 1, kind == kRun ? 1 : 3);
        return kind;
    }
    if (roll < 95) {
        static const char* const prefixes[] = {"vsi.V", "if.ge1/0/", "ifvsi.ge1/0/"};
        unsigned what = roll < 83 ? 0 : roll < 87 ? 1 : roll < 91 ? 2 : 3;  // set, add, delete, move
        unsigned p = what == 0 ? rng() % 2 : what == 1 ? 2 : rng() % 3;
        Key k = prefixes[p] + std::to_string(rng() % 6);
        std::string value(p == 0 ? 16 : 2, char('0' + rng() % 8));
        if (!(kinds & kPair)) return kPair;
        if (what == 0) setBin(db, k, value.data(), uint32_t(value.size()), p == 0 ? 0 : 2);
        else if (what == 1) addName(db, k, ("V" + value.substr(1)).c_str());
        else if (what == 2) DBM_DeleteKey(db, k.c(), k.len());
        else DBM_Move(db, k.c(), k.len(), other);
        return kPair;
    }
    if (kinds & kIdle) std::this_thread::sleep_for(std::chrono::milliseconds(1 + g_salt % 8));  // waiting for events
    return kIdle;
}

// A database's contents, comparable.
using Contents = std::map<std::string, std::tuple<uint32_t, plat::dbm::Kind, std::string, plat::dbm::ElemList>>;
Contents contents(uint32_t h)
{
    Contents c;
    for (const auto& [k, e] : plat::dbm::findDatabase(h)->image().keys()) c[k] = {e.valueType, e.kind, e.value, e.elems};
    return c;
}

int64_t monoNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The child performs the stream and reports the time at which each call
// returned (8 bytes, written whole). The parent reads the reports, kills
// it after `killAt` of them and a short spin, and reads what was left.
// `foldChanges`: the child's run store folds its change log that often.
std::vector<int64_t> runAndKill(uint64_t seed, bool burst, size_t killAt, int64_t spinNs, uint32_t foldChanges,
                                int64_t& killNs)
{
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        plat::dbm::tuning().foldChanges = foldChanges;
        Handles h{};
        if (DBM_OpenCfgDB("ePBB", "pPBB", "pbb", 0, &kCfgParam, &h.used, &h.unused) != DBM_OK ||
            DBM_Open("lPBB", "pbb", 7, &kRunParam, &h.run) != DBM_OK)
            ::_exit(2);
        std::mt19937_64 rng(seed);
        for (;;) {
            step(rng, burst, h, kPair | kRun | kIdle);
            int64_t ns = monoNs();
            if (::write(fds[1], &ns, sizeof ns) != sizeof ns) ::_exit(4);
        }
    }
    ::close(fds[1]);
    std::vector<int64_t> reports;
    for (bool killed = false;;) {
        if (!killed && reports.size() >= killAt) {
            for (int64_t until = monoNs() + spinNs; monoNs() < until;) {
            }
            killNs = monoNs();
            killed = ::kill(pid, SIGKILL) == 0;
        }
        pollfd p{fds[0], POLLIN, 0};
        int64_t buf[256];
        ssize_t n = ::poll(&p, 1, 20000) > 0 ? ::read(fds[0], buf, sizeof buf) : -1;
        if (n <= 0) {
            EXPECT_TRUE(killed) << "no report from the writer for 20 s";
            break;
        }
        reports.insert(reports.end(), buf, buf + n / 8);
    }
    ::close(fds[0]);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "writer ended by itself: " << status;
    EXPECT_GE(reports.size(), killAt);
    return reports;
}

class DbmCrash : public DbmTest {};

}  // namespace

TEST_F(DbmCrash, KilledWritersLeaveConsistentStoresWithinTheBound)
{
    std::mt19937_64 plan(0x5eed2024);
    const std::string state = dir() + "/state", replay = dir() + "/replay";
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Early kills, kills in bursts of learned entries, and longer mixed runs.
        uint64_t seed = plan();
        bool burst = round % 3 == 1;
        size_t killAt = round % 3 == 0 ? 1 + plan() % 40 : round % 3 == 1 ? 40 + plan() % 3000 : 300 + plan() % 400;
        int64_t spinNs = int64_t(plan() % 3000) * 1000, killNs = 0;
        std::filesystem::remove_all(replay);
        if (std::filesystem::exists(state)) std::filesystem::copy(state, replay, std::filesystem::copy_options::recursive);
        // Every other round folds often, so that kills also land in folds.
        const uint32_t fold = round % 2 ? 1 + uint32_t(plan() % 300) : plat::dbm::Tuning{}.foldChanges;
        const std::vector<int64_t> reports = runAndKill(seed, burst, killAt, spinNs, fold, killNs);
        ASSERT_FALSE(HasFailure());

        // The daemon's start-up opens both stores; what they load is on disk.
        ASSERT_EQ(openPair(), DBM_OK) << logText();
        ASSERT_EQ(openRun(), DBM_OK) << logText();
        const Contents diskUsed = contents(used), diskUnused = contents(unused), diskRun = contents(run);
        closeAll();

        // The same stream into the copy: the pair's returned writes, then
        // possibly the one under way.
        plat::setStateDir(replay);
        plat::dbm::tuning().durableSynchronous = 0;
        openAll();
        const Handles h{used, unused, run};
        std::mt19937_64 rng(seed);
        for (size_t i = 0; i < reports.size(); ++i) step(rng, burst, h, kPair);
        bool pairMatch = contents(used) == diskUsed && contents(unused) == diskUnused;
        if (!pairMatch && step(rng, burst, h, kPair) == kPair) pairMatch = contents(used) == diskUsed && contents(unused) == diskUnused;
        EXPECT_TRUE(pairMatch) << "configuration pair differs from the returned writes (" << reports.size() << " writes)";

        // Run database: a prefix of its writes, missing none beyond the bound.
        // A write that found nothing to change is no call the store queued.
        rng.seed(seed);
        std::vector<int64_t> runNs;  // return time of each run write; the one under way never returned
        std::vector<size_t> matches, calls = {0};  // calls: of the first j writes, those queued
        if (contents(run) == diskRun) matches.push_back(0);
        for (size_t i = 0; i <= reports.size(); ++i)
            if (step(rng, burst, h, kRun) == kRun) {
                runNs.push_back(i < reports.size() ? reports[i] : INT64_MAX);
                calls.push_back(calls.back() + g_wrote);
                if (contents(run) == diskRun) matches.push_back(runNs.size());
            }
        closeAll();
        plat::setStateDir(state);
        plat::dbm::tuning() = plat::dbm::Tuning{};
        size_t returnedRun = runNs.size() - (!runNs.empty() && runNs.back() == INT64_MAX);
        size_t mustHave = 0;
        while (calls[returnedRun] - calls[mustHave] > kBoundCalls) ++mustHave;
        for (size_t j = 0; j < returnedRun; ++j)
            if (runNs[j] < killNs - kBoundNs) mustHave = std::max(mustHave, j + 1);
        ASSERT_TRUE(!matches.empty() && matches.back() >= mustHave)
            << "run database is no prefix of at least " << mustHave << " of " << runNs.size() << " writes (longest "
            << (matches.empty() ? -1L : long(matches.back())) << ")";
        ASSERT_TRUE(pairMatch);
    }
}
