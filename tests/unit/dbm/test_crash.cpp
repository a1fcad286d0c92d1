// Crash safety: a child process writes the daemon's kinds of records and
// is killed with SIGKILL at random points; after every kill the stores
// open, the configuration pair holds exactly the writes whose calls
// returned (plus, possibly, the one under way), and the run database holds
// the effect of a prefix of its writes that misses none older than the
// stated bound: 1024 calls, and 250 ms between a call's return and the kill.
#include "crash_workload.h"
#include "dbm_test.h"

#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

using namespace dbmtest;
using namespace crashtest;

namespace {

struct Report {
    uint32_t index;  // the write whose call returned
    uint32_t pad;
    int64_t ns;      // CLOCK_MONOTONIC at its return
};
static_assert(sizeof(Report) == 16, "whole reports fit a pipe's atomic write");

constexpr int kRounds = 30;
constexpr uint32_t kBoundCalls = 1024;
constexpr int64_t kBoundNs = 250'000'000;

int64_t monoNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

[[noreturn]] void runChild(int fd, const Model& start, uint64_t seed, bool burst)
{
    Handles h{};
    if (DBM_OpenCfgDB("ePBB", "pPBB", "pbb", 0, &kCfgParam, &h.used, &h.unused) != DBM_OK ||
        DBM_Open("lPBB", "pbb", 7, &kRunParam, &h.run) != DBM_OK)
        ::_exit(2);
    Model m = start;
    std::mt19937_64 rng(seed);
    for (uint32_t i = 0; i < 1'000'000; ++i) {
        Op op = next(m, rng, burst);
        perform(op, h);
        apply(m, op);
        Report r{i, 0, monoNs()};
        if (::write(fd, &r, sizeof r) != static_cast<ssize_t>(sizeof r)) ::_exit(4);
    }
    ::_exit(3);
}

// Reads the child's reports, kills it after `killAt` of them (and a short
// spin), and reads what it wrote before it died.
std::vector<Report> killAfter(pid_t pid, int fd, uint32_t killAt, uint32_t spinUs, int64_t& killNs)
{
    std::vector<Report> reports;
    bool killed = false;
    for (;;) {
        if (!killed && reports.size() >= killAt) {
            int64_t until = monoNs() + int64_t(spinUs) * 1000;
            while (monoNs() < until) {
            }
            killNs = monoNs();
            ::kill(pid, SIGKILL);
            killed = true;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0) {
            ADD_FAILURE() << "no report from the writer for 20 s";
            break;
        }
        Report buf[256];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        reports.insert(reports.end(), buf, buf + n / static_cast<ssize_t>(sizeof(Report)));
    }
    if (!killed) ::kill(pid, SIGKILL);
    return reports;
}

}  // namespace

class DbmCrash : public DbmTest {};

TEST_F(DbmCrash, KilledWritersLeaveConsistentStoresWithinTheBound)
{
    Model state;
    std::mt19937_64 plan(0x5eed2024);
    uint32_t maxLostCalls = 0;
    int64_t maxLostAgeNs = 0;
    size_t totalWrites = 0;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        uint64_t seed = plan();
        // Early kills, kills in bursts of learned entries, and longer mixed runs.
        bool burst = round % 3 == 1;
        uint32_t killAt = round % 3 == 0 ? 1 + uint32_t(plan() % 40)
                        : round % 3 == 1 ? 40 + uint32_t(plan() % 3000)
                                         : 300 + uint32_t(plan() % 400);
        uint32_t spinUs = uint32_t(plan() % 3000);

        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            runChild(fds[1], state, seed, burst);
        }
        ::close(fds[1]);
        int64_t killNs = 0;
        std::vector<Report> reports = killAfter(pid, fds[0], killAt, spinUs, killNs);
        ::close(fds[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "writer ended by itself: " << status;
        ASSERT_GE(reports.size(), killAt);
        totalWrites += reports.size();

        // The daemon's start-up opens both stores.
        uint32_t used, unused, run;
        ASSERT_EQ(openPair(used, unused), DBM_OK) << logText();
        ASSERT_EQ(openRun(run), DBM_OK) << logText();
        ASSERT_EQ(DBM_Close(used), DBM_OK);
        ASSERT_EQ(DBM_Close(unused), DBM_OK);
        ASSERT_EQ(DBM_Close(run), DBM_OK);
        auto cfgDisk = onDisk(pairFile());
        auto runDisk = onDisk(runFile());
        ASSERT_EQ(cfgDisk.size(), 2u);
        ASSERT_EQ(runDisk.size(), 1u);
        Model disk;
        disk.cfg[0] = fromImage(cfgDisk[0]);
        disk.cfg[1] = fromImage(cfgDisk[1]);
        disk.run = fromImage(runDisk[0]);

        // The same stream again: the returned writes and the one under way.
        const size_t returned = reports.size();
        std::vector<Op> ops;
        {
            Model m = state;
            std::mt19937_64 rng(seed);
            for (size_t i = 0; i <= returned; ++i) {
                ops.push_back(next(m, rng, burst));
                apply(m, ops.back());
            }
        }

        // Configuration: every returned write, and the one under way or not.
        Model cfg = state;
        for (size_t i = 0; i < returned; ++i)
            if (isCfg(ops[i])) apply(cfg, ops[i]);
        bool cfgMatch = disk.cfg[0] == cfg.cfg[0] && disk.cfg[1] == cfg.cfg[1];
        if (!cfgMatch && isCfg(ops[returned])) {
            apply(cfg, ops[returned]);
            cfgMatch = disk.cfg[0] == cfg.cfg[0] && disk.cfg[1] == cfg.cfg[1];
        }
        ASSERT_TRUE(cfgMatch) << "configuration pair differs from the returned writes (" << returned << " writes)";

        // Run database: a prefix of its writes, missing none beyond the bound.
        std::vector<size_t> runOps;
        for (size_t i = 0; i < returned; ++i)
            if (isRun(ops[i])) runOps.push_back(i);
        size_t mustHave = runOps.size() > kBoundCalls ? runOps.size() - kBoundCalls : 0;
        for (size_t j = 0; j < runOps.size(); ++j)
            if (reports[runOps[j]].ns < killNs - kBoundNs) mustHave = std::max(mustHave, j + 1);
        if (isRun(ops[returned])) runOps.push_back(returned);
        Model runModel = state;
        std::optional<size_t> prefix;
        for (size_t j = 0; j <= runOps.size(); ++j) {
            if (j > 0) apply(runModel, ops[runOps[j - 1]]);
            if (j >= mustHave && runModel.run == disk.run) prefix = j;
        }
        ASSERT_TRUE(prefix.has_value()) << "run database is no prefix of at least " << mustHave << " of "
                                        << runOps.size() << " writes";
        size_t returnedRun = runOps.size() - (isRun(ops[returned]) ? 1 : 0);
        if (*prefix < returnedRun) {
            maxLostCalls = std::max<uint32_t>(maxLostCalls, uint32_t(returnedRun - *prefix));
            maxLostAgeNs = std::max(maxLostAgeNs, killNs - reports[runOps[*prefix]].ns);
        }
        state = disk;
    }
    std::printf("[ crash    ] %d kills, %zu writes; run database lost at most %u calls, the oldest %.1f ms old\n",
                kRounds, totalWrites, maxLostCalls, double(maxLostAgeNs) / 1e6);
    RecordProperty("max_lost_calls", int(maxLostCalls));
    RecordProperty("max_lost_age_us", int(maxLostAgeNs / 1000));
}
