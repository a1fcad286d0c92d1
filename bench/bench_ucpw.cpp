// Unicast pseudo-wire table at 16,000, 64,000 and 256,000 entries spread
// over 64 VSIs, and 64,000 in one VSI: adding, lookup by key, walks,
// paging, every bulk deletion and the memory an entry takes.
//
// Entries are spread over 32 ports and 16 B-VLANs; B-MACs are consecutive
// addresses of one block (02:00:00:xx:xx:xx), as a provider's backbone
// bridges are numbered. Arguments: entries, VSIs.
//
// The lookup benchmarks also run with two other hash setups that keep every
// observable behaviour of the table (equal keys land in one bucket, newest
// first): a mixing index function over the same key fields with the same
// 4096 buckets, and the same function with one bucket per entry. They are
// set up here by swapping the table's hash before any entry is added.
#include "daemon/pbb_common.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_ucpw.h"
#include "platform/model/inproc.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <malloc.h>
#include <map>
#include <numeric>
#include <random>
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

std::vector<uint32_t> g_ports;

Key keyOf(uint32_t i, uint32_t vsis)
{
    Key k{};
    k.vsi = i % vsis;
    uint32_t r = i / vsis;
    k.ifIndex = g_ports[r % kPorts];
    k.vlan = static_cast<uint16_t>(kFirstVlan + (r / kPorts) % kVlans);
    k.mac = {0x02, 0x00, 0x00, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    return k;
}

// Hash setups.
enum HashMode : int64_t { kSum4096 = 0, kMix4096 = 1, kMixPerEntry = 2 };
uint32_t g_mixMask = 0xFFF;

uint32_t mixIndex(const void* pKey)
{
    const auto* e = static_cast<const PbbUcPw*>(pKey);
    uint64_t x = 0;
    for (int i = 0; i < 6; ++i) x = (x << 8) | e->aucBMac[i];
    x ^= static_cast<uint64_t>(e->usBVlan) << 48;
    if (PBB_l2vpn_IsShareVsi() != 1) x ^= static_cast<uint64_t>(e->uiVsiIndex) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    return static_cast<uint32_t>(x) & g_mixMask;
}

void useHash(HashMode mode, uint32_t entries)
{
    if (mode == kSum4096) return;
    uint32_t buckets = PBB_UCPW_HASH_BUCKETS;
    if (mode == kMixPerEntry) {
        buckets = 1;
        while (buckets < entries) buckets <<= 1;
    }
    g_mixMask = buckets - 1;
    HASH_Destroy(g_pstPbb_BmacHashTbl, nullptr);
    g_pstPbb_BmacHashTbl = HASH_Create(buckets, mixIndex);
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

// Adds entries in descending index order: every VSI list then takes its
// new entry at the front, so filling costs no walk.
void fillDescending(const std::vector<uint32_t>& idx, uint32_t vsis)
{
    std::vector<uint32_t> order = idx;
    std::sort(order.rbegin(), order.rend());
    for (uint32_t i : order) addKey(keyOf(i, vsis));
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

// One filled table kept between benchmarks of the same shape.
struct Table {
    uint32_t entries = 0;
    uint32_t vsis = 0;
    HashMode mode = kSum4096;
    bool live = false;
};
Table g_table;

void ensureTable(uint32_t entries, uint32_t vsis, HashMode mode = kSum4096)
{
    if (g_table.live && g_table.entries == entries && g_table.vsis == vsis && g_table.mode == mode) return;
    PBB_ucpw_Exit();
    setUpSwitch();
    if (PBB_ucpw_Init() != PBB_OK) std::abort();
    useHash(mode, entries);
    std::vector<uint32_t> order(entries);
    std::iota(order.rbegin(), order.rend(), 0u);  // descending: no list walk
    scatterHeap(entries, 7);
    for (uint32_t i : order) addKey(keyOf(i, vsis));
    g_table = Table{entries, vsis, mode, true};
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

// ---- adding -------------------------------------------------------------

// Learning one more entry into a table of the given size: 1,000 entries
// spread over the table leave it (not timed) and are learned again in
// arbitrary order (timed).
void BM_Add(benchmark::State& state)
{
    uint32_t n = static_cast<uint32_t>(state.range(0));
    uint32_t vsis = static_cast<uint32_t>(state.range(1));
    ensureTable(n, vsis);
    constexpr uint32_t kBatch = 1000;
    std::vector<Key> batch;
    for (uint32_t j = 0; j < kBatch; ++j) batch.push_back(keyOf(static_cast<uint32_t>((uint64_t{j} * n) / kBatch), vsis));
    std::mt19937 rng(4);
    std::shuffle(batch.begin(), batch.end(), rng);
    for (auto _ : state) {
        state.PauseTiming();
        for (const Key& k : batch) PBB_ucpw_Delete(PBB_ucpw_Get(k.vsi, k.vlan, k.mac.data()));
        if (PBB_ucpw_GetTotalNum() != n - kBatch) std::abort();
        state.ResumeTiming();
        for (const Key& k : batch) addKey(k);
    }
    perEntry(state, kBatch);
}

// Learning order: arbitrary (shuffled).
void BM_AddShuffled(benchmark::State& state)
{
    uint32_t n = static_cast<uint32_t>(state.range(0));
    uint32_t vsis = static_cast<uint32_t>(state.range(1));
    std::vector<uint32_t> order = shuffled(n, 1);
    dropTable();
    for (auto _ : state) {
        state.PauseTiming();
        setUpSwitch();
        if (PBB_ucpw_Init() != PBB_OK) std::abort();
        state.ResumeTiming();
        for (uint32_t i : order) addKey(keyOf(i, vsis));
        state.PauseTiming();
        PBB_ucpw_Exit();
        state.ResumeTiming();
    }
    perEntry(state, n);
}

// Ascending B-MACs, as recovery reads each stored key's sorted list: every
// insert walks its whole VSI list.
void BM_AddAscending(benchmark::State& state)
{
    uint32_t n = static_cast<uint32_t>(state.range(0));
    uint32_t vsis = static_cast<uint32_t>(state.range(1));
    dropTable();
    for (auto _ : state) {
        state.PauseTiming();
        setUpSwitch();
        if (PBB_ucpw_Init() != PBB_OK) std::abort();
        state.ResumeTiming();
        for (uint32_t i = 0; i < n; ++i) addKey(keyOf(i, vsis));
        state.PauseTiming();
        PBB_ucpw_Exit();
        state.ResumeTiming();
    }
    perEntry(state, n);
}

// What an ordered index with a logarithmic insert (a balanced tree keyed by
// B-MAC, new entries behind equal ones) costs for the same shuffled order,
// as a reference for the linear insert of the VSI lists.
void BM_ReferenceOrderedTreeInsert(benchmark::State& state)
{
    uint32_t n = static_cast<uint32_t>(state.range(0));
    uint32_t vsis = static_cast<uint32_t>(state.range(1));
    std::vector<uint32_t> order = shuffled(n, 1);
    for (auto _ : state) {
        std::vector<std::multimap<uint64_t, uint32_t>> trees(vsis);
        for (uint32_t i : order) {
            Key k = keyOf(i, vsis);
            uint64_t m = 0;
            for (uint8_t b : k.mac) m = (m << 8) | b;
            trees[k.vsi].emplace_hint(trees[k.vsi].upper_bound(m), m, i);
        }
        benchmark::DoNotOptimize(trees.data());
    }
    perEntry(state, n);
}

// ---- lookups ------------------------------------------------------------

struct HashStats {
    uint32_t used = 0;
    uint32_t longest = 0;
    double meanProbe = 0;  // compares of a successful lookup, on average
};

HashStats hashStats()
{
    HashStats s;
    uint64_t sum = 0, entries = 0;
    for (uint32_t b = 0; b < g_pstPbb_BmacHashTbl->uiBuckets; ++b) {
        uint32_t len = 0;
        for (HASH_NODE_S* p = g_pstPbb_BmacHashTbl->ppstBuckets[b]; p != nullptr; p = p->pstNext) ++len;
        if (len != 0) ++s.used;
        s.longest = std::max(s.longest, len);
        sum += static_cast<uint64_t>(len) * (len + 1) / 2;
        entries += len;
    }
    s.meanProbe = entries == 0 ? 0 : static_cast<double>(sum) / static_cast<double>(entries);
    return s;
}

void BM_Get(benchmark::State& state)
{
    uint32_t n = static_cast<uint32_t>(state.range(0));
    uint32_t vsis = static_cast<uint32_t>(state.range(1));
    auto mode = static_cast<HashMode>(state.range(2));
    ensureTable(n, vsis, mode);
    std::vector<Key> keys;
    for (uint32_t i : shuffled(n, 2)) keys.push_back(keyOf(i, vsis));
    size_t at = 0;
    for (auto _ : state) {
        const Key& k = keys[at];
        PbbUcPw* e = PBB_ucpw_Get(k.vsi, k.vlan, k.mac.data());
        benchmark::DoNotOptimize(e);
        if (++at == keys.size()) at = 0;
    }
    HashStats s = hashStats();
    state.counters["buckets_used"] = s.used;
    state.counters["longest_chain"] = s.longest;
    state.counters["mean_probe"] = s.meanProbe;
    perEntry(state, 1, "time_per_lookup");
}

// ---- walks and paging ---------------------------------------------------

void BM_WalkVsi(benchmark::State& state)
{
    uint32_t n = static_cast<uint32_t>(state.range(0));
    uint32_t vsis = static_cast<uint32_t>(state.range(1));
    ensureTable(n, vsis);
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

void BM_WalkAll(benchmark::State& state)
{
    uint32_t n = static_cast<uint32_t>(state.range(0));
    uint32_t vsis = static_cast<uint32_t>(state.range(1));
    ensureTable(n, vsis);
    for (auto _ : state) {
        for (PbbUcPw* p = PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr); p != nullptr;
             p = PBB_ucpw_GetNext(PBB_UCPW_GET_ALL, p))
            benchmark::DoNotOptimize(p->uiIfIndex);
    }
    perEntry(state, n);
}

// One page of the management service: the entry after a B-MAC taken from
// anywhere in VSI 0. Paging a whole VSI costs this times its entry count.
void BM_GetNextByIndex(benchmark::State& state)
{
    uint32_t n = static_cast<uint32_t>(state.range(0));
    uint32_t vsis = static_cast<uint32_t>(state.range(1));
    ensureTable(n, vsis);
    std::vector<Key> keys;
    for (uint32_t i : shuffled(n / vsis, 3)) keys.push_back(keyOf(i * vsis, vsis));
    size_t at = 0;
    for (auto _ : state) {
        PbbUcPw* e = PBB_ucpw_GetNextByIndex(0, keys[at].mac.data());
        benchmark::DoNotOptimize(e);
        if (++at == keys.size()) at = 0;
    }
    perEntry(state, 1, "time_per_page");
}

// ---- bulk deletions -----------------------------------------------------
//
// Each iteration deletes one group (timed) and puts it back (not timed);
// groups rotate so that every iteration deletes a full one.

template <class Member, class Delete>
void runDeletion(benchmark::State& state, uint32_t groups, Member member, Delete del)
{
    uint32_t n = static_cast<uint32_t>(state.range(0));
    uint32_t vsis = static_cast<uint32_t>(state.range(1));
    ensureTable(n, vsis);
    std::vector<std::vector<uint32_t>> byGroup(groups);
    for (uint32_t i = 0; i < n; ++i) {
        int64_t g = member(keyOf(i, vsis));
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
        fillDescending(byGroup[g], vsis);
        g = (g + 1) % groups;
        state.ResumeTiming();
    }
    state.counters["entries_per_call"] = static_cast<double>(deleted) / static_cast<double>(state.iterations());
    perEntry(state, deleted / std::max<uint64_t>(1, state.iterations()));
}

void BM_DeleteByVsi(benchmark::State& state)
{
    uint32_t vsis = static_cast<uint32_t>(state.range(1));
    runDeletion(
        state, vsis, [](const Key& k) { return static_cast<int64_t>(k.vsi); },
        [](uint32_t g) { PBB_ucpw_DeleteByVsi(g); });
}

uint32_t portNo(uint32_t ifIndex)
{
    return static_cast<uint32_t>(std::find(g_ports.begin(), g_ports.end(), ifIndex) - g_ports.begin());
}

void BM_DeleteByIf(benchmark::State& state)
{
    runDeletion(
        state, kPorts, [](const Key& k) { return static_cast<int64_t>(portNo(k.ifIndex)); },
        [](uint32_t g) { PBB_ucpw_DeleteByIf(g_ports[g]); });
}

void BM_DeleteByVlan(benchmark::State& state)
{
    runDeletion(
        state, kVlans, [](const Key& k) { return static_cast<int64_t>(k.vlan - kFirstVlan); },
        [](uint32_t g) { PBB_ucpw_DeleteByVlan(static_cast<uint16_t>(kFirstVlan + g)); });
}

// Walks the B-VLAN's list (1/16 of the table) for one port's entries (1/32 of those).
void BM_DeleteByVlanIf(benchmark::State& state)
{
    runDeletion(
        state, kVlans * kPorts,
        [](const Key& k) { return static_cast<int64_t>((k.vlan - kFirstVlan) * kPorts + portNo(k.ifIndex)); },
        [](uint32_t g) { PBB_ucpw_DeleteByVlanIf(static_cast<uint16_t>(kFirstVlan + g / kPorts), g_ports[g % kPorts]); });
}

// Walks the port's list (1/32 of the table) for one VSI's entries.
void BM_DeleteByIfVsi(benchmark::State& state)
{
    uint32_t vsis = static_cast<uint32_t>(state.range(1));
    runDeletion(
        state, kPorts * vsis,
        [vsis](const Key& k) { return static_cast<int64_t>(portNo(k.ifIndex) * vsis + k.vsi); },
        [vsis](uint32_t g) { PBB_ucpw_DeleteByIfVsi(g_ports[g / vsis], g % vsis); });
}

void BM_DeleteAll(benchmark::State& state)
{
    runDeletion(
        state, 1, [](const Key&) { return int64_t{0}; }, [](uint32_t) { PBB_ucpw_DeleteAll(); });
}

// ---- memory -------------------------------------------------------------

// Heap bytes the table takes per entry (entry, its slot bitmap and the
// allocator's overhead), from the allocator's own count.
void BM_MemoryPerEntry(benchmark::State& state)
{
    uint32_t n = static_cast<uint32_t>(state.range(0));
    uint32_t vsis = static_cast<uint32_t>(state.range(1));
    dropTable();
    double perEntryBytes = 0;
    for (auto _ : state) {
        setUpSwitch();
        if (PBB_ucpw_Init() != PBB_OK) std::abort();
        std::vector<uint32_t> all(n);
        std::iota(all.begin(), all.end(), 0u);
        std::sort(all.rbegin(), all.rend());
        size_t before = mallinfo2().uordblks;
        for (uint32_t i : all) addKey(keyOf(i, vsis));
        size_t after = mallinfo2().uordblks;
        perEntryBytes = static_cast<double>(after - before) / n;
        PBB_ucpw_Exit();
    }
    state.counters["bytes_per_entry"] = perEntryBytes;
    state.counters["sizeof_entry"] = sizeof(PbbUcPw);
    state.counters["table_MiB"] = perEntryBytes * n / (1024.0 * 1024.0);
}

void Shapes(benchmark::internal::Benchmark* b)
{
    b->Args({16000, 64})->Args({64000, 64})->Args({256000, 64})->Args({64000, 1});
}

void HashShapes(benchmark::internal::Benchmark* b)
{
    for (int64_t mode : {kSum4096, kMix4096, kMixPerEntry}) {
        b->Args({16000, 64, mode})->Args({64000, 64, mode})->Args({256000, 64, mode})->Args({64000, 1, mode});
    }
}

}  // namespace

BENCHMARK(BM_Add)->Apply(Shapes)->Iterations(5)->Unit(benchmark::kMicrosecond);
// Whole tables from empty: only the smaller shapes (the larger ones take a
// minute and more, see BM_Add for the cost of one entry at their size).
BENCHMARK(BM_AddShuffled)->Args({16000, 64})->Args({64000, 64})->Args({16000, 1})->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddAscending)->Args({16000, 64})->Args({64000, 64})->Args({16000, 1})->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceOrderedTreeInsert)->Apply(Shapes)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Get)->Apply(HashShapes)->MinTime(0.2);
BENCHMARK(BM_WalkVsi)->Apply(Shapes)->MinTime(0.2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkAll)->Apply(Shapes)->MinTime(0.2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetNextByIndex)->Apply(Shapes)->MinTime(0.2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeleteByVsi)->Apply(Shapes)->Iterations(16)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeleteByIf)->Apply(Shapes)->Iterations(8)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeleteByVlan)->Apply(Shapes)->Iterations(8)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeleteByVlanIf)->Apply(Shapes)->Iterations(16)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeleteByIfVsi)->Apply(Shapes)->Iterations(16)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeleteAll)->Apply(Shapes)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryPerEntry)->Apply(Shapes)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
