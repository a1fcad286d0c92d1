#include "platform/testing.h"
#include "platform/timer.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// What the expiry functions saw, in order: the name each timer was given
// (pArg0 points at a std::string), the clock in ticks and the block.
struct Seen {
    std::string name;
    int tick;
    const TIMER_PARAM_S* block;
};
std::vector<Seen> g_seen;
int g_tick = 1;
uint32_t g_instance = 0;

// pArg1, when set, names a timer to delete when this one fires.
uint32_t onExpiry(void* pParam)
{
    auto* p = static_cast<TIMER_PARAM_S*>(pParam);
    g_seen.push_back({*static_cast<std::string*>(p->pArg0), g_tick, p});
    if (p->pArg1 != nullptr) Timer_Delete(g_instance, *static_cast<uint32_t*>(p->pArg1));
    return 0;
}

class Timer : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_instance = Timer_Initialize(2, 1000, 128, 16);
        ASSERT_NE(g_instance, 0u);
        Timer_Config(g_instance, 1);
    }
    void TearDown() override
    {
        if (g_instance != 0) Timer_Finalize(g_instance);
    }
    static uint32_t create(std::string& name, uint64_t ms, uint32_t* toDelete = nullptr)
    {
        // A block on the stack, as the daemon passes it: the timer keeps a copy.
        TIMER_PARAM_S p{&name, toDelete, 7, 8};
        return Timer_Create(g_instance, TIMER_MODE_PERIODIC, ms, onExpiry, &p);
    }
    static std::vector<int> ticksOf(const std::string& name)
    {
        std::vector<int> out;
        for (const auto& s : g_seen)
            if (s.name == name) out.push_back(s.tick);
        return out;
    }
};

TEST_F(Timer, PeriodsInTicksInDueOrderDeletionsInsideAnExpiryAndTheLimit)
{
    std::string one = "1s", three = "3s", odd = "1500ms", self = "self", killer = "killer", victim = "victim";
    uint32_t selfId = TIMER_INVALID_ID, victimId = TIMER_INVALID_ID;
    create(one, 1000);
    selfId = create(self, 1000, &selfId);
    create(killer, 1000, &victimId);
    victimId = create(victim, 1000);
    create(odd, 1500);
    create(three, 3000);
    for (; g_tick <= 6; ++g_tick) EXPECT_EQ(Timer_Tick_Announce(g_instance), 0u);
    EXPECT_EQ(ticksOf("1s"), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(ticksOf("3s"), (std::vector<int>{3, 6}));
    EXPECT_EQ(ticksOf("1500ms"), (std::vector<int>{2, 3, 5, 6})) << "due at 1500, 3000, 4500 ...";
    EXPECT_EQ(ticksOf("self"), (std::vector<int>{1})) << "deleted inside its own expiry";
    EXPECT_TRUE(ticksOf("victim").empty()) << "not even in the tick it was deleted in";
    EXPECT_NE(Timer_Delete(g_instance, victimId), 0u) << "already gone";
    // Tick 2: what became due first runs first, then in creation order.
    std::vector<std::string> second;
    for (const auto& s : g_seen)
        if (s.tick == 2) second.push_back(s.name);
    EXPECT_EQ(second, (std::vector<std::string>{"1500ms", "1s", "killer"}));
    // The copy of the block is handed to every expiry, not the caller's.
    std::set<const TIMER_PARAM_S*> blocks;
    for (const auto& s : g_seen)
        if (s.name == "1s") blocks.insert(s.block);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ((*blocks.begin())->uiArg2 * 10 + (*blocks.begin())->uiArg3, 78u);

    // An instance holds at most its limit: 4 timers left, 124 more fit.
    for (int i = 0; i < 124; ++i) ASSERT_NE(create(one, 1000), TIMER_INVALID_ID);
    EXPECT_EQ(create(one, 1000), TIMER_INVALID_ID);
}

}  // namespace
