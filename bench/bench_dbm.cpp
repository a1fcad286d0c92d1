// Database service costs on the daemon's thread: saving and removing one
// learned entry, enumerating 10,000 keys by value type in chunks of 128,
// deleting 10,000 keys, reopening a run database of 64,000 entries, and a
// configuration write committed alone at each synchronous level; and the
// run database's sustained rate: 256,000 learned entries saved back to back
// over 256 keys (64 VSIs x 4 ports), timed until all are committed
// (saves_per_second, goal >= 250,000: half the raw packet-socket read rate
// of bench_learn).
//
// Per-call medians, 99th percentiles and maxima of the save and remove
// calls are reported as counters (median_us, p99_us, max_us: the longest
// wait for the committer); the other benchmarks report the time of the
// whole operation.
#include "platform/dbm.h"
#include "platform/settings.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <time.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr DBM_PARAM_S kCfgParam{{1, 0, 1, 0, 0, 0, 0, 0}};
constexpr DBM_PARAM_S kRunParam{{1, 0, 2, 0, 0, 0, 0, 0}};

// A fresh state directory per benchmark run, removed afterwards.
class Scratch {
public:
    Scratch()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "pbb-bench-dbm-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
        m_dir = tmpl;
        plat::setStateDir(m_dir);
        plat::dbm::tuning() = plat::dbm::Tuning{};
    }
    ~Scratch()
    {
        plat::resetSettings();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

private:
    std::string m_dir;
};

struct Entry {
    char key[128];
    uint32_t keyLen;
    uint8_t elem[20];
};

// Entry n of a population spread over `keys` keys (VSI, interface, B-VLAN).
Entry entry(uint32_t n, uint32_t keys)
{
    Entry e{};
    uint32_t k = n % keys, vsi = k % 64, ifIndex = 1 + k / 64;
    uint16_t bvlan = 100;
    std::snprintf(e.key, sizeof e.key, "ucpw.%u.%u.%hu.%s%u", vsi, ifIndex, bvlan, "GigabitEthernet1/0/", ifIndex);
    e.keyLen = static_cast<uint32_t>(std::strlen(e.key) + 1);
    uint32_t isid = 1000 + vsi;
    std::memcpy(e.elem, &vsi, 4);
    std::memcpy(e.elem + 4, &isid, 4);
    std::memcpy(e.elem + 8, &ifIndex, 4);
    uint8_t mac[6] = {0x02, 0x00, uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    std::memcpy(e.elem + 12, mac, 6);
    std::memcpy(e.elem + 18, &bvlan, 2);
    return e;
}

// PBB_dbmsave_AddUcPw's calls.
void save(uint32_t h, const Entry& e)
{
    if (DBM_IsKeyExist(h, e.key, e.keyLen) != 1) DBM_SetSortWord(h, e.key, e.keyLen, 1, 12, 8, 4, 0);
    DBM_InsertSortList(h, e.key, e.keyLen, 20, e.elem, 0);
}

// PBB_dbmsave_DeleteUcPw's calls.
void remove(uint32_t h, const Entry& e)
{
    DBM_RemoveSortList(h, e.key, e.keyLen, 20, e.elem);
    if (DBM_Len(h, e.key, e.keyLen) == 0) DBM_DeleteKey(h, e.key, e.keyLen);
}

void percentiles(benchmark::State& state, std::vector<double>& ns)
{
    if (ns.empty()) return;
    std::sort(ns.begin(), ns.end());
    state.counters["median_us"] = ns[ns.size() / 2] / 1000.0;
    state.counters["p99_us"] = ns[ns.size() * 99 / 100] / 1000.0;
    state.counters["max_us"] = ns.back() / 1000.0;
}

uint32_t openRun()
{
    uint32_t h = DBM_INVALID_HANDLE;
    if (DBM_Open("lPBB", "pbb", 7, &kRunParam, &h) != DBM_OK) std::abort();
    return h;
}

void BM_SaveLearnedEntry(benchmark::State& state)
{
    Scratch s;
    uint32_t h = openRun();
    std::vector<double> ns;
    ns.reserve(1 << 20);
    uint32_t n = 0;
    for (auto _ : state) {
        Entry e = entry(n++, 512);
        auto t0 = Clock::now();
        save(h, e);
        ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count());
    }
    state.SetItemsProcessed(state.iterations());
    percentiles(state, ns);
    DBM_Close(h);
}
BENCHMARK(BM_SaveLearnedEntry)->Iterations(64000)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_RemoveLearnedEntry(benchmark::State& state)
{
    Scratch s;
    uint32_t h = openRun();
    constexpr uint32_t kPopulation = 64000;
    for (uint32_t i = 0; i < kPopulation; ++i) save(h, entry(i, 512));
    plat::dbm::flush(h);
    std::vector<double> ns;
    uint32_t n = 0;
    for (auto _ : state) {
        Entry e = entry(n++ % kPopulation, 512);
        auto t0 = Clock::now();
        remove(h, e);
        ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count());
    }
    state.SetItemsProcessed(state.iterations());
    percentiles(state, ns);
    DBM_Close(h);
}
BENCHMARK(BM_RemoveLearnedEntry)->Iterations(64000)->Repetitions(5)->ReportAggregatesOnly(true);

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Saves back to back, committer in the loop: the time from the first save
// until flush() has every one of them committed; and the CPU time of the
// daemon's thread and the committer together, per save, which a loaded host
// does not inflate.
void BM_SaveSustained(benchmark::State& state)
{
    constexpr uint32_t kSaves = 256000, kKeys = 256;
    for (auto _ : state) {
        state.PauseTiming();
        Scratch s;
        uint32_t h = openRun();
        std::vector<Entry> entries;
        entries.reserve(kSaves);
        for (uint32_t i = 0; i < kSaves; ++i) entries.push_back(entry(i, kKeys));
        std::vector<double> ns;
        ns.reserve(kSaves);
        state.ResumeTiming();
        auto start = Clock::now();
        double cpu0 = processCpuSeconds();
        for (const Entry& e : entries) {
            auto t0 = Clock::now();
            save(h, e);
            ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count());
        }
        if (plat::dbm::flush(h) != DBM_OK) std::abort();
        double secs = std::chrono::duration<double>(Clock::now() - start).count();
        double cpu = processCpuSeconds() - cpu0;
        state.PauseTiming();
        state.counters["saves_per_second"] = kSaves / secs;
        state.counters["cpu_us_per_save"] = cpu * 1e6 / kSaves;
        percentiles(state, ns);
        DBM_Close(h);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SaveSustained)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// One entry under each of 10,000 keys.
void fillKeys(uint32_t h, uint32_t keys)
{
    for (uint32_t i = 0; i < keys; ++i) save(h, entry(i, keys));
}

void BM_EnumerateByValueType(benchmark::State& state)
{
    Scratch s;
    uint32_t h = openRun();
    fillKeys(h, 10000);
    plat::dbm::flush(h);
    for (auto _ : state) {
        uint32_t iter = 0, seen = 0;
        uint32_t total = DBM_GetKeyNumByValueType(h, 0);
        DBM_KEY_DESC_S d[128];
        for (uint32_t left = total; left > 0;) {
            uint32_t got = DBM_GetKeysByValueType(h, std::min<uint32_t>(left, 128), 0, &iter, d);
            if (got == 0) break;
            seen += got;
            left -= got;
        }
        DBM_FreeIterator(iter);
        benchmark::DoNotOptimize(seen);
    }
    DBM_Close(h);
}
BENCHMARK(BM_EnumerateByValueType)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// _pbb_dbmsave_DeleteUcPwBatch without filters: walk and delete 10,000
// keys. arg 1 also waits until the deletions are on disk.
void BM_BatchDeletion(benchmark::State& state)
{
    Scratch s;
    uint32_t h = openRun();
    for (auto _ : state) {
        state.PauseTiming();
        fillKeys(h, 10000);
        plat::dbm::flush(h);
        state.ResumeTiming();
        uint32_t iter = 0;
        uint32_t total = DBM_GetKeyNumByValueType(h, 0);
        DBM_KEY_DESC_S d[128];
        for (uint32_t left = total; left > 0;) {
            uint32_t got = DBM_GetKeysByValueType(h, std::min<uint32_t>(left, 128), 0, &iter, d);
            if (got == 0) break;
            for (uint32_t i = 0; i < got; ++i) DBM_DeleteKey(h, d[i].pcKey, d[i].uiKeyLen);
            left -= got;
        }
        DBM_FreeIterator(iter);
        if (state.range(0) == 1) plat::dbm::flush(h);
    }
    DBM_Close(h);
}
BENCHMARK(BM_BatchDeletion)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(10)->Repetitions(3)->ReportAggregatesOnly(true);

// arg 0: closed cleanly (rows only); arg 1: as a crash leaves it, all
// 64,000 saves in the change log, which the open replays.
void BM_ReopenRunDatabase64k(benchmark::State& state)
{
    Scratch s;
    const bool crashed = state.range(0) == 1;
    const std::string dir = plat::dbm::storeRoot() + "/pbb", kept = dir + ".crashed";
    if (crashed) plat::dbm::tuning().foldChanges = UINT32_MAX;
    uint32_t h = openRun();
    for (uint32_t i = 0; i < 64000; ++i) save(h, entry(i, 512));
    if (crashed) {
        plat::dbm::flush(h);  // committed, nothing folded: the files as they are now
        std::filesystem::create_directory(kept);
        for (const char* f : {"/lPBB.db", "/lPBB.db-wal"}) std::filesystem::copy_file(dir + f, kept + f);
    }
    DBM_Close(h);
    for (auto _ : state) {
        state.PauseTiming();
        if (crashed) {
            std::filesystem::remove_all(dir);
            std::filesystem::copy(kept, dir);
        }
        state.ResumeTiming();
        h = openRun();
        state.PauseTiming();
        if (DBM_GetKeyNumByValueType(h, 0) != 512 || DBM_Len(h, entry(0, 512).key, entry(0, 512).keyLen) != 125 * 20)
            std::abort();
        DBM_Close(h);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ReopenRunDatabase64k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(10)->Repetitions(3)->ReportAggregatesOnly(true);

// A configuration write committed alone: arg = SQLite synchronous level
// (1 NORMAL, 2 FULL); and, for comparison, a learned entry saved into a
// store that commits each call alone (arg 3: NORMAL, arg 4: FULL).
void BM_CommitAlone(benchmark::State& state)
{
    Scratch s;
    int level = static_cast<int>(state.range(0));
    plat::dbm::tuning().durableSynchronous = level > 2 ? level - 2 : level;
    uint32_t h = DBM_INVALID_HANDLE, other = DBM_INVALID_HANDLE;
    if (level <= 2) {
        if (DBM_OpenCfgDB("ePBB", "pPBB", "pbb", 0, &kCfgParam, &h, &other) != DBM_OK) std::abort();
    } else if (DBM_Open("lPBB", "pbb", 7, &kCfgParam, &h) != DBM_OK) {
        std::abort();
    }
    std::vector<double> ns;
    uint32_t n = 0;
    uint8_t rec[16] = {};
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (level <= 2) {
            char key[48];
            std::snprintf(key, sizeof key, "vsi.VSI-%u", n % 256);
            std::memcpy(rec, &n, 4);
            DBM_SetBinary(h, key, static_cast<uint32_t>(std::strlen(key) + 1), 0, 16, rec, 0);
        } else {
            save(h, entry(n, 512));
        }
        ++n;
        ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count());
    }
    percentiles(state, ns);
    DBM_Close(h);
    if (other != DBM_INVALID_HANDLE) DBM_Close(other);
}
BENCHMARK(BM_CommitAlone)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Iterations(500)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
