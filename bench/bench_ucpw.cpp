// Unicast pseudo-wire table from 16,000 to 1,000,000 entries: lookup by
// key, adding and deleting one entry, one management page, the walks, every
// bulk deletion, whole tables learned in arbitrary order, and the memory an
// entry takes.
//
// A shape is an entry count, a VSI count (64, 1,024, or one VSI) and the
// kind of B-MACs: consecutive addresses of one block (02:00:00:xx:xx:xx,
// as a provider's backbone bridges are numbered) or random ones (02 and
// five bytes of a permutation of the entry number, so no two are equal).
// Entries are spread over 32 ports and 16 B-VLANs. For each shape one
// table is filled once, and lookup, add, delete and page run on it in turn
// (named BM_Get/entries/vsis/macs and so on); the table is the same before
// and after each of them.
//
// Goals (medians): over 1,024 VSIs, lookup, add and delete at most 1 us at
// 256,000 entries and at most 2 us at 1,000,000, consecutive and random.
//
// Run with --benchmark_repetitions=3 for medians. The memory figures come
// from BM_MemoryPerEntry, best run alone in a fresh process
// (--benchmark_filter=Memory): the resident size only shows what the
// process had not taken from the system before.
#include "bench/bench_shapes.h"
#include "daemon/pbb_common.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_ucpw.h"
#include "platform/model/inproc.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kPorts = 32;
constexpr uint32_t kVlans = 16;
constexpr uint16_t kFirstVlan = 100;

struct Key {
    uint32_t vsi;
    uint16_t vlan;
    uint32_t ifIndex;
    std::array<uint8_t, 6> mac;
};

struct Shape {
    uint32_t entries;
    uint32_t vsis;
    bool random;
};

std::vector<uint32_t> g_ports;

Key keyOf(uint32_t i, const Shape& s)
{
    Key k{};
    k.vsi = i % s.vsis;
    uint32_t r = i / s.vsis;
    k.ifIndex = g_ports[r % kPorts];
    k.vlan = static_cast<uint16_t>(kFirstVlan + (r / kPorts) % kVlans);
    if (s.random) {
        k.mac = pbbbench::randomBMac(i);
    } else {
        k.mac = {0x02, 0x00, 0x00, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8),
                 static_cast<uint8_t>(i)};
    }
    return k;
}

uint64_t macOrder(const Key& k)
{
    uint64_t m = 0;
    for (uint8_t b : k.mac) m = (m << 8) | b;
    return m;
}

void setUpSwitch()
{
    auto& sw = plat::inproc::reset();
    sw.setSlotRange(1, 16);
    for (uint16_t s = 1; s <= 4; ++s) sw.addSlot(s, {.minm = true});
    sw.setMaxVsiNum(1024);
    g_ports.clear();
    for (uint32_t p = 0; p < kPorts; ++p)
        g_ports.push_back(sw.addPort("eth-" + std::to_string(1 + p / 8) + "/0/" + std::to_string(1 + p % 8),
                                     static_cast<uint16_t>(1 + p / 8)));
}

void addKey(const Key& k)
{
    if (PBB_ucpw_Add(k.vsi, 1000 + k.vsi, k.vlan, k.mac.data(), k.ifIndex) != PBB_OK) std::abort();
}

// Adds the entries in descending B-MAC order: every VSI list then takes its
// new entry at the front, so that filling costs the same whatever the
// table's ordered insert costs.
void fillDescending(const std::vector<uint32_t>& idx, const Shape& s)
{
    std::vector<std::pair<uint64_t, uint32_t>> order;
    order.reserve(idx.size());
    for (uint32_t i : idx) order.emplace_back(macOrder(keyOf(i, s)), i);
    std::sort(order.rbegin(), order.rend());
    for (const auto& o : order) addKey(keyOf(o.second, s));
}

// A table learned over time has its entries all over the heap, so that a
// list walk misses the cache at every step. Filling a table in one go
// would place them side by side; handing the allocator back, in random
// order, as many entry-sized blocks as the table will take first makes the
// entries come out scattered. Nothing else may allocate between this and
// the fill (a large request would merge the freed blocks).
// A fixed threshold: large buffers always come from mmap, so that freeing
// one never merges the scattered blocks.
const int g_iFixedMmapThreshold = mallopt(M_MMAP_THRESHOLD, 128 * 1024);

void scatterHeap(uint32_t entries, uint32_t seed)
{
    std::vector<void*> blocks(entries);
    for (auto& b : blocks) b = std::malloc(sizeof(PbbUcPw));
    std::mt19937 rng(seed);
    std::shuffle(blocks.begin(), blocks.end(), rng);
    for (auto* b : blocks) std::free(b);
}

// One filled table kept between the benchmarks of one shape.
struct Table {
    Shape shape{};
    bool live = false;
};
Table g_table;

void ensureTable(const Shape& s)
{
    if (g_table.live && g_table.shape.entries == s.entries && g_table.shape.vsis == s.vsis &&
        g_table.shape.random == s.random)
        return;
    PBB_ucpw_Exit();
    setUpSwitch();
    if (PBB_ucpw_Init() != PBB_OK) std::abort();
    std::vector<uint32_t> all(s.entries);
    std::iota(all.begin(), all.end(), 0u);
    std::vector<std::pair<uint64_t, uint32_t>> order;
    order.reserve(all.size());
    for (uint32_t i : all) order.emplace_back(macOrder(keyOf(i, s)), i);
    std::sort(order.rbegin(), order.rend());
    scatterHeap(s.entries, 7);
    for (const auto& o : order) addKey(keyOf(o.second, s));
    g_table = Table{s, true};
}

void dropTable()
{
    PBB_ucpw_Exit();
    g_table.live = false;
}

// Items per second, and its inverse: the time one entry (or call) takes.
void perEntry(benchmark::State& state, uint64_t entriesPerIteration, const char* name = "time_per_entry")
{
    auto items = static_cast<double>(state.iterations() * entriesPerIteration);
    state.SetItemsProcessed(static_cast<int64_t>(items));
    state.counters[name] = benchmark::Counter(items, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

std::vector<uint32_t> shuffled(uint32_t n, uint32_t seed)
{
    std::vector<uint32_t> v(n);
    std::iota(v.begin(), v.end(), 0u);
    std::mt19937 rng(seed);
    std::shuffle(v.begin(), v.end(), rng);
    return v;
}

// 1,024 entries spread evenly over the table, in arbitrary order.
constexpr uint32_t kBatch = 1024;
std::vector<Key> spreadBatch(const Shape& s, uint32_t seed)
{
    std::vector<Key> batch;
    for (uint32_t j = 0; j < kBatch; ++j)
        batch.push_back(keyOf(static_cast<uint32_t>((uint64_t{j} * s.entries) / kBatch), s));
    std::mt19937 rng(seed);
    std::shuffle(batch.begin(), batch.end(), rng);
    return batch;
}

// ---- one entry at a time, per shape --------------------------------------

// Lookup by key of entries in arbitrary order (every one is found).
void BM_Get(benchmark::State& state, Shape s)
{
    ensureTable(s);
    std::vector<Key> keys;
    for (uint32_t i : shuffled(s.entries, 2)) keys.push_back(keyOf(i, s));
    size_t at = 0;
    for (auto _ : state) {
        const Key& k = keys[at];
        PbbUcPw* e = PBB_ucpw_Get(k.vsi, k.vlan, k.mac.data());
        benchmark::DoNotOptimize(e);
        if (++at == keys.size()) at = 0;
    }
    perEntry(state, 1, "time_per_lookup");
}

// Learning one more entry into a full table: 1,024 entries spread over the
// table leave it (not timed) and are added again in arbitrary order
// (timed).
void BM_Add(benchmark::State& state, Shape s)
{
    ensureTable(s);
    std::vector<Key> batch = spreadBatch(s, 4);
    for (auto _ : state) {
        state.PauseTiming();
        for (const Key& k : batch) PBB_ucpw_Delete(PBB_ucpw_Get(k.vsi, k.vlan, k.mac.data()));
        if (PBB_ucpw_GetTotalNum() != s.entries - kBatch) std::abort();
        state.ResumeTiming();
        for (const Key& k : batch) addKey(k);
    }
    perEntry(state, kBatch);
}

// Deleting one entry (PBB_ucpw_Delete) from a full table: 1,024 entries
// spread over the table are deleted in arbitrary order (timed) and added
// again (not timed).
void BM_Delete(benchmark::State& state, Shape s)
{
    ensureTable(s);
    std::vector<Key> batch = spreadBatch(s, 5);
    std::vector<PbbUcPw*> victims(kBatch);
    for (auto _ : state) {
        state.PauseTiming();
        for (uint32_t j = 0; j < kBatch; ++j) victims[j] = PBB_ucpw_Get(batch[j].vsi, batch[j].vlan, batch[j].mac.data());
        state.ResumeTiming();
        for (PbbUcPw* e : victims) PBB_ucpw_Delete(e);
        state.PauseTiming();
        if (PBB_ucpw_GetTotalNum() != s.entries - kBatch) std::abort();
        for (const Key& k : batch) addKey(k);
        state.ResumeTiming();
    }
    perEntry(state, kBatch);
}

// One page of the management service: the entry after a B-MAC taken from
// anywhere in VSI 0. Paging a whole VSI costs this times its entry count.
void BM_GetNextByIndex(benchmark::State& state, Shape s)
{
    ensureTable(s);
    std::vector<Key> keys;
    for (uint32_t i : shuffled(s.entries / s.vsis, 3)) keys.push_back(keyOf(i * s.vsis, s));
    size_t at = 0;
    for (auto _ : state) {
        PbbUcPw* e = PBB_ucpw_GetNextByIndex(0, keys[at].mac.data());
        benchmark::DoNotOptimize(e);
        if (++at == keys.size()) at = 0;
    }
    perEntry(state, 1, "time_per_page");
}

// ---- whole tables --------------------------------------------------------

// A table learned from empty in arbitrary order (consecutive B-MACs
// shuffled).
void BM_AddShuffled(benchmark::State& state, Shape s)
{
    std::vector<uint32_t> order = shuffled(s.entries, 1);
    dropTable();
    for (auto _ : state) {
        state.PauseTiming();
        setUpSwitch();
        if (PBB_ucpw_Init() != PBB_OK) std::abort();
        state.ResumeTiming();
        for (uint32_t i : order) addKey(keyOf(i, s));
        state.PauseTiming();
        PBB_ucpw_Exit();
        state.ResumeTiming();
    }
    perEntry(state, s.entries);
}

// Ascending B-MACs, as recovery reads each stored key's sorted list.
void BM_AddAscending(benchmark::State& state, Shape s)
{
    dropTable();
    for (auto _ : state) {
        state.PauseTiming();
        setUpSwitch();
        if (PBB_ucpw_Init() != PBB_OK) std::abort();
        state.ResumeTiming();
        for (uint32_t i = 0; i < s.entries; ++i) addKey(keyOf(i, s));
        state.PauseTiming();
        PBB_ucpw_Exit();
        state.ResumeTiming();
    }
    perEntry(state, s.entries);
}

// The one add that doubles the hash: a table of 2^19 entries (as many as
// buckets) takes one more, and every entry moves to the new buckets.
void BM_AddThatGrowsTheHash(benchmark::State& state, Shape s)
{
    for (auto _ : state) {
        state.PauseTiming();
        dropTable();
        Shape full{s.entries - 1, s.vsis, s.random};
        ensureTable(full);
        g_table.live = false;
        if (g_pstPbb_BmacHashTbl->uiBuckets != full.entries) std::abort();
        Key k = keyOf(full.entries, s);
        state.ResumeTiming();
        addKey(k);
        state.PauseTiming();
        if (g_pstPbb_BmacHashTbl->uiBuckets != 2 * full.entries) std::abort();
        dropTable();
        state.ResumeTiming();
    }
}

// ---- walks ---------------------------------------------------------------

void BM_WalkVsi(benchmark::State& state, Shape s)
{
    ensureTable(s);
    PbbUcPwFilter f{0, 0, 0};
    uint64_t visited = 0;
    for (auto _ : state) {
        for (PbbUcPw* p = PBB_ucpw_GetFirst(PBB_UCPW_GET_BY_VSI, &f); p != nullptr;
             p = PBB_ucpw_GetNext(PBB_UCPW_GET_BY_VSI, p)) {
            benchmark::DoNotOptimize(p->uiIfIndex);
            ++visited;
        }
    }
    perEntry(state, visited / std::max<uint64_t>(1, state.iterations()));
}

void BM_WalkAll(benchmark::State& state, Shape s)
{
    ensureTable(s);
    for (auto _ : state) {
        for (PbbUcPw* p = PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr); p != nullptr;
             p = PBB_ucpw_GetNext(PBB_UCPW_GET_ALL, p))
            benchmark::DoNotOptimize(p->uiIfIndex);
    }
    perEntry(state, s.entries);
}

// ---- bulk deletions ------------------------------------------------------
//
// Each iteration deletes one group (timed) and puts it back (not timed);
// groups rotate so that every iteration deletes a full one.

template <class Member, class Delete>
void runDeletion(benchmark::State& state, const Shape& s, uint32_t groups, Member member, Delete del)
{
    ensureTable(s);
    std::vector<std::vector<uint32_t>> byGroup(groups);
    for (uint32_t i = 0; i < s.entries; ++i) {
        int64_t g = member(keyOf(i, s));
        if (g >= 0) byGroup[static_cast<size_t>(g)].push_back(i);
    }
    uint64_t deleted = 0;
    uint32_t g = 0;
    for (auto _ : state) {
        uint32_t before = PBB_ucpw_GetTotalNum();
        del(g);
        state.PauseTiming();
        deleted += before - PBB_ucpw_GetTotalNum();
        if (before - PBB_ucpw_GetTotalNum() != byGroup[g].size()) std::abort();
        fillDescending(byGroup[g], s);
        g = (g + 1) % groups;
        state.ResumeTiming();
    }
    state.counters["entries_per_call"] = static_cast<double>(deleted) / static_cast<double>(state.iterations());
    perEntry(state, deleted / std::max<uint64_t>(1, state.iterations()));
}

uint32_t portNo(uint32_t ifIndex)
{
    return static_cast<uint32_t>(std::find(g_ports.begin(), g_ports.end(), ifIndex) - g_ports.begin());
}

void BM_DeleteByVsi(benchmark::State& state, Shape s)
{
    runDeletion(
        state, s, s.vsis, [](const Key& k) { return static_cast<int64_t>(k.vsi); },
        [](uint32_t g) { PBB_ucpw_DeleteByVsi(g); });
}

void BM_DeleteByIf(benchmark::State& state, Shape s)
{
    runDeletion(
        state, s, kPorts, [](const Key& k) { return static_cast<int64_t>(portNo(k.ifIndex)); },
        [](uint32_t g) { PBB_ucpw_DeleteByIf(g_ports[g]); });
}

void BM_DeleteByVlan(benchmark::State& state, Shape s)
{
    runDeletion(
        state, s, kVlans, [](const Key& k) { return static_cast<int64_t>(k.vlan - kFirstVlan); },
        [](uint32_t g) { PBB_ucpw_DeleteByVlan(static_cast<uint16_t>(kFirstVlan + g)); });
}

// Walks the B-VLAN's list (1/16 of the table) for one port's entries (1/32 of those).
void BM_DeleteByVlanIf(benchmark::State& state, Shape s)
{
    runDeletion(
        state, s, kVlans * kPorts,
        [](const Key& k) { return static_cast<int64_t>((k.vlan - kFirstVlan) * kPorts + portNo(k.ifIndex)); },
        [](uint32_t g) { PBB_ucpw_DeleteByVlanIf(static_cast<uint16_t>(kFirstVlan + g / kPorts), g_ports[g % kPorts]); });
}

// Walks the port's list (1/32 of the table) for one VSI's entries.
void BM_DeleteByIfVsi(benchmark::State& state, Shape s)
{
    uint32_t vsis = s.vsis;
    runDeletion(
        state, s, kPorts * vsis,
        [vsis](const Key& k) { return static_cast<int64_t>(portNo(k.ifIndex) * vsis + k.vsi); },
        [vsis](uint32_t g) { PBB_ucpw_DeleteByIfVsi(g_ports[g / vsis], g % vsis); });
}

void BM_DeleteAll(benchmark::State& state, Shape s)
{
    runDeletion(
        state, s, 1, [](const Key&) { return int64_t{0}; }, [](uint32_t) { PBB_ucpw_DeleteAll(); });
}

// ---- memory --------------------------------------------------------------

size_t residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

size_t heapBytes()
{
    struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;  // small blocks in use and blocks of their own mapping
}

// What a table of the shape takes per entry: from the allocator's count
// (entries, slot bitmaps, hash buckets, with the allocator's overhead) and
// from the process's resident size.
void BM_MemoryPerEntry(benchmark::State& state, Shape s)
{
    dropTable();
    double heap = 0, resident = 0;
    for (auto _ : state) {
        setUpSwitch();
        if (PBB_ucpw_Init() != PBB_OK) std::abort();
        std::vector<uint32_t> all(s.entries);
        std::iota(all.begin(), all.end(), 0u);
        std::vector<Key> keys;
        keys.reserve(all.size());
        for (uint32_t i : shuffled(s.entries, 6)) keys.push_back(keyOf(i, s));
        size_t heap0 = heapBytes(), rss0 = residentBytes();
        for (const Key& k : keys) addKey(k);
        heap = static_cast<double>(heapBytes() - heap0) / s.entries;
        resident = static_cast<double>(residentBytes() - rss0) / s.entries;
        PBB_ucpw_Exit();
    }
    state.counters["heap_bytes_per_entry"] = heap;
    state.counters["resident_bytes_per_entry"] = resident;
    state.counters["sizeof_entry"] = sizeof(PbbUcPw);
}

std::string shapeName(const Shape& s)
{
    return std::to_string(s.entries) + "/" + std::to_string(s.vsis) + (s.random ? "/random" : "/consecutive");
}

using Fn = void (*)(benchmark::State&, Shape);

benchmark::internal::Benchmark* add(const char* name, Fn fn, const Shape& s)
{
    return benchmark::RegisterBenchmark((std::string(name) + "/" + shapeName(s)).c_str(),
                                        [fn, s](benchmark::State& st) { fn(st, s); });
}

void registerAll()
{
    // Memory first: the resident size then grows with the table alone.
    for (uint32_t n : {256000u, 1000000u})
        add("BM_MemoryPerEntry", BM_MemoryPerEntry, {n, 1024, true})->Iterations(1)->Unit(benchmark::kMillisecond);

    // One table per shape, the four operations in turn.
    for (uint32_t n : pbbbench::kCurveEntries) {
        for (uint32_t vsis : pbbbench::kCurveVsis) {
            for (bool random : {false, true}) {
                Shape s{n, vsis, random};
                add("BM_Get", BM_Get, s)->MinTime(0.2);
                add("BM_Add", BM_Add, s)->Iterations(20)->Unit(benchmark::kMicrosecond);
                add("BM_Delete", BM_Delete, s)->Iterations(20)->Unit(benchmark::kMicrosecond);
                add("BM_GetNextByIndex", BM_GetNextByIndex, s)->MinTime(0.2);
            }
        }
    }

    add("BM_AddThatGrowsTheHash", BM_AddThatGrowsTheHash, {524289, 1024, true})
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);

    // Walks and bulk deletions over the older shapes.
    const Shape walkShapes[] = {{16000, 64, false}, {64000, 64, false}, {256000, 64, false}, {64000, 1, false}};
    for (const Shape& s : walkShapes) {
        add("BM_WalkVsi", BM_WalkVsi, s)->MinTime(0.2)->Unit(benchmark::kMicrosecond);
        add("BM_WalkAll", BM_WalkAll, s)->MinTime(0.2)->Unit(benchmark::kMicrosecond);
        add("BM_DeleteByVsi", BM_DeleteByVsi, s)->Iterations(16)->Unit(benchmark::kMicrosecond);
        add("BM_DeleteByIf", BM_DeleteByIf, s)->Iterations(8)->Unit(benchmark::kMicrosecond);
        add("BM_DeleteByVlan", BM_DeleteByVlan, s)->Iterations(8)->Unit(benchmark::kMicrosecond);
        add("BM_DeleteByVlanIf", BM_DeleteByVlanIf, s)->Iterations(16)->Unit(benchmark::kMicrosecond);
        add("BM_DeleteByIfVsi", BM_DeleteByIfVsi, s)->Iterations(16)->Unit(benchmark::kMicrosecond);
        add("BM_DeleteAll", BM_DeleteAll, s)->Iterations(3)->Unit(benchmark::kMillisecond);
    }

    // Whole tables learned from empty.
    const Shape wholeShapes[] = {{16000, 64, false}, {64000, 64, false}, {64000, 1, false}};
    for (const Shape& s : wholeShapes) {
        add("BM_AddShuffled", BM_AddShuffled, s)->Iterations(1)->Unit(benchmark::kMillisecond);
        add("BM_AddAscending", BM_AddAscending, s)->Iterations(1)->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
