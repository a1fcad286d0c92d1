// The forwarding tables look a key up from where the previous operation
// was, which is fast only when keys come in order. Whatever the order, the
// answers and the tables must be those of a plain lookup of every key: the
// switch's tables are driven here by runs of ascending, descending and
// scattered keys, through programming, deletion, flushes, refresh windows
// and VSI removal, beside a reference that looks every key up from the
// root, and both are compared after every step (whole tables, and each
// key as forwarding looks it up). A copy that keeps the
// working tables' keys only (the socket transport's) runs beside them: its
// answers and working keys must be the switch's all along.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/model/fib.h"
#include "platform/result.h"

namespace {

using sim::Mac;
using sim::UcEntry;
using sim::UcKey;

// The tables' rules, each key looked up on its own.
struct Reference {
    std::map<UcKey, UcEntry> working, committed;
    std::set<UcKey> dirty, stale;
    bool window = false;

    uint32_t add(const UcEntry& e, uint32_t maxTotal, uint32_t maxPerVsi)
    {
        UcKey key{e.vsi, e.bmac};
        if (working.count(key) == 0) {
            size_t inVsi = std::count_if(working.begin(), working.end(),
                                         [&](const auto& kv) { return kv.first.first == e.vsi; });
            if (working.size() >= maxTotal || inVsi >= maxPerVsi) return PLAT_ERR_NO_RESOURCE;
        }
        working[key] = e;
        dirty.insert(key);
        stale.erase(key);
        return PLAT_OK;
    }
    uint32_t del(const UcKey& key)
    {
        if (working.erase(key) == 0) return PLAT_ERR_NOT_FOUND;
        dirty.insert(key);
        return PLAT_OK;
    }
    void flush()
    {
        for (const UcKey& key : dirty) {
            if (working.count(key) != 0)
                committed[key] = working[key];
            else
                committed.erase(key);
        }
        dirty.clear();
    }
    void open()
    {
        window = true;
        stale.clear();
        for (const auto& [key, e] : working) stale.insert(key);
        for (const auto& [key, e] : committed) stale.insert(key);
    }
    void close()
    {
        if (!window) return;
        window = false;
        for (const UcKey& key : stale) {
            if (working.erase(key) != 0) dirty.insert(key);
            committed.erase(key);
        }
        stale.clear();
    }
    void drop(uint32_t vsi)
    {
        for (auto* t : {&working, &committed})
            std::erase_if(*t, [vsi](const auto& kv) { return kv.first.first == vsi; });
    }
};

enum class Order { Ascending, Descending, Scattered, Mixed };

struct Case {
    const char* name;
    Order order;
    uint32_t maxTotal;
    uint32_t maxPerVsi;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

constexpr uint32_t kVsis = 3;
constexpr uint32_t kMacs = 24;
constexpr uint32_t kNoLimit = 1u << 30;

// Keys that differ in high and low bytes alike, so that the tables' own
// order must be the reference's byte by byte.
Mac macOf(uint32_t n)
{
    return Mac{static_cast<uint8_t>(n % 3 * 0x42), 0x1b, static_cast<uint8_t>(n % 5), 0, static_cast<uint8_t>(n * 37),
               static_cast<uint8_t>(n % 2 * 0x81)};
}

class FibOrder : public ::testing::TestWithParam<Case> {};

TEST_P(FibOrder, EveryKeyIsFoundAsByAPlainLookup)
{
    const Case& c = GetParam();
    std::mt19937 rng(20261207);
    // All keys in the tables' order: a run takes consecutive ones.
    std::vector<UcKey> keys;
    for (uint32_t v = 0; v < kVsis; ++v)
        for (uint32_t m = 0; m < kMacs; ++m) keys.emplace_back(v, macOf(m));
    std::sort(keys.begin(), keys.end());

    sim::Fib fib;
    sim::KeyFib copy(sim::FibKeeps::WorkingOnly);
    Reference ref;
    std::string step;
    auto same = [&] {
        // The reference orders its keys with std::less: the tables must hold
        // the same entries in the same order.
        auto entry = [](const auto& a, const auto& b) { return a.first == b.first && a.second == b.second; };
        ASSERT_TRUE(std::ranges::equal(fib.working().uc, ref.working, entry)) << step;
        ASSERT_TRUE(std::ranges::equal(fib.committed().uc, ref.committed, entry)) << step;
        ASSERT_TRUE(std::ranges::equal(fib.staleUnicast(), ref.stale)) << step;
        // Forwarding's lookup of one key, which does not make the table.
        for (const UcKey& k : keys) {
            auto r = ref.committed.find(k);
            const UcEntry* e = fib.committedUnicast(k);
            ASSERT_EQ(e != nullptr, r != ref.committed.end()) << step;
            if (e != nullptr) {
                ASSERT_EQ(*e, r->second) << step;
            }
        }
        ASSERT_EQ(fib.windowOpen(), ref.window) << step;
        auto key = [](const auto& a, const auto& b) { return a.first == b.first; };
        ASSERT_TRUE(std::ranges::equal(copy.working().uc, fib.working().uc, key)) << step;
        ASSERT_TRUE(copy.working().mc == fib.working().mc) << step;
        ASSERT_TRUE(copy.committed().uc.empty()) << step;
    };

    auto flushAll = [&] {
        fib.flush();
        copy.flush();
        ref.flush();
    };
    uint32_t port = 0;
    for (int round = 0; round < 300; ++round) {
        Order order = c.order;
        if (order == Order::Mixed) order = static_cast<Order>(rng() % 3);
        // A run of keys: consecutive ones up or down, or any.
        size_t len = 1 + rng() % 12, at = rng() % keys.size();
        std::vector<UcKey> run;
        for (size_t i = 0; i < len; ++i) {
            if (order == Order::Ascending)
                run.push_back(keys[(at + i) % keys.size()]);
            else if (order == Order::Descending)
                run.push_back(keys[(at + keys.size() - i) % keys.size()]);
            else
                run.push_back(keys[rng() % keys.size()]);
        }
        uint32_t what = rng() % 20;
        // Runs that add (0 to 11) or delete (12 to 15), a few keys the
        // other way; before a window opens (16), a run of both, unflushed,
        // so that the window opens on tables that differ key by key.
        bool programs = what <= 16, flushes = what < 16;
        for (const UcKey& key : run) {
            bool add = what < 12 ? rng() % 5 != 0 : what < 16 ? rng() % 5 == 0 : rng() % 2 == 0;
            if (programs && add) {
                UcEntry e{key.first, 100 + key.first, key.second, {}, 30, ++port % 4, 0x14};
                step = "round " + std::to_string(round) + ": add to VSI " + std::to_string(key.first);
                uint32_t rc = fib.addUnicast(e, c.maxTotal, c.maxPerVsi);
                ASSERT_EQ(rc, ref.add(e, c.maxTotal, c.maxPerVsi)) << step;
                ASSERT_EQ(copy.addUnicast(e, c.maxTotal, c.maxPerVsi), rc) << step;
            } else if (programs) {
                step = "round " + std::to_string(round) + ": delete from VSI " + std::to_string(key.first);
                uint32_t rc = fib.delUnicast(key.first, key.second);
                ASSERT_EQ(rc, ref.del(key)) << step;
                ASSERT_EQ(copy.delUnicast(key.first, key.second), rc) << step;
            }
            // Most programming flushes each entry, some a whole run.
            if (flushes && rng() % 4 != 0) flushAll();
            ASSERT_NO_FATAL_FAILURE(same());
        }
        step = "round " + std::to_string(round) + ": table event " + std::to_string(what);
        if (what == 16) {
            fib.openWindow();
            copy.openWindow();
            ref.open();
        } else if (what == 17) {
            fib.closeWindow();
            copy.closeWindow();
            ref.close();
        } else if (what == 18 && rng() % 4 == 0) {
            uint32_t vsi = rng() % kVsis;
            fib.dropVsi(vsi);
            copy.dropVsi(vsi);
            ref.drop(vsi);
        } else if (what == 19) {
            // Otherwise changes stay unflushed into the next round: a window
            // opens on tables that differ.
            flushAll();
        }
        ASSERT_NO_FATAL_FAILURE(same());
    }
}

INSTANTIATE_TEST_SUITE_P(Orders, FibOrder,
                         ::testing::Values(Case{"Ascending", Order::Ascending, kNoLimit, kNoLimit},
                                           Case{"Descending", Order::Descending, kNoLimit, kNoLimit},
                                           Case{"Scattered", Order::Scattered, kNoLimit, kNoLimit},
                                           Case{"MixedRuns", Order::Mixed, kNoLimit, kNoLimit},
                                           Case{"MixedRunsAtTheLimits", Order::Mixed, 40, 18}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
