#include "platform/testing.h"
#include "platform/timer.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// What the expiry functions saw, in order: the name each timer was given
// (pArg0 points at a std::string) and the clock in ticks.
struct Seen {
    std::string name;
    int tick;
    bool operator==(const Seen&) const = default;
};
std::vector<Seen> g_seen;
int g_tick = 0;
std::vector<const TIMER_PARAM_S*> g_params;

// What a timer does when it fires besides being seen.
struct Action {
    uint32_t hInstance = 0;
    uint32_t* puiDelete = nullptr;  // timer to delete (the caller's variable)
    bool bFinalize = false;
    bool bCreate = false;
    bool bTickAgain = false;
    uint32_t uiNestedResult = 0;
};

uint32_t onExpiry(void* pParam)
{
    auto* p = static_cast<TIMER_PARAM_S*>(pParam);
    g_params.push_back(p);
    g_seen.push_back({*static_cast<std::string*>(p->pArg0), g_tick});
    if (auto* a = static_cast<Action*>(p->pArg1)) {
        if (a->puiDelete != nullptr) Timer_Delete(a->hInstance, *a->puiDelete);
        if (a->bCreate) {
            static std::string child = "child";
            TIMER_PARAM_S c{&child, nullptr, 0, 0};
            Timer_Create(a->hInstance, TIMER_MODE_PERIODIC, 1000, onExpiry, &c);
        }
        if (a->bTickAgain) a->uiNestedResult = Timer_Tick_Announce(a->hInstance);
        if (a->bFinalize) Timer_Finalize(a->hInstance);
    }
    return 0;
}

class Timer : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_seen.clear();
        g_params.clear();
        g_tick = 0;
        h = Timer_Initialize(2, 1000, 128, 16);
        ASSERT_NE(h, 0u);
        Timer_Config(h, 1);
    }
    void TearDown() override
    {
        if (h != 0) Timer_Finalize(h);
        plat::testing::reset();
    }
    uint32_t create(std::string& name, uint64_t ms, uint32_t mode = TIMER_MODE_PERIODIC, Action* a = nullptr)
    {
        TIMER_PARAM_S p{&name, a, 0, 0};
        uint32_t id = Timer_Create(h, mode, ms, onExpiry, &p);
        EXPECT_NE(id, TIMER_INVALID_ID);
        EXPECT_NE(id, 0u);
        return id;
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i) {
            ++g_tick;
            EXPECT_EQ(Timer_Tick_Announce(h), 0u);
        }
    }
    std::vector<int> ticksOf(const std::string& name)
    {
        std::vector<int> out;
        for (const auto& s : g_seen)
            if (s.name == name) out.push_back(s.tick);
        return out;
    }
    uint32_t h = 0;
};

TEST_F(Timer, PeriodsAreCountedInTicksOfTheInstance)
{
    std::string one = "1s", three = "3s", fast = "400ms", odd = "1500ms";
    create(one, 1000);
    create(three, 3000);
    create(fast, 400);
    create(odd, 1500);
    ticks(9);
    EXPECT_EQ(ticksOf("1s"), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(ticksOf("3s"), (std::vector<int>{3, 6, 9}));
    EXPECT_EQ(ticksOf("400ms"), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9})) << "at most once a tick";
    EXPECT_EQ(ticksOf("1500ms"), (std::vector<int>{2, 3, 5, 6, 8, 9})) << "due at 1500, 3000, 4500 ...";
}

TEST_F(Timer, DueTimersRunInTheOrderTheyBecameDueThenCreationOrder)
{
    std::string late = "late", early = "early", a = "a", b = "b";
    create(late, 1500);   // due at 1500
    create(early, 1200);  // due at 1200, created later
    create(a, 2000);
    create(b, 2000);
    ticks(2);
    EXPECT_EQ(g_seen, (std::vector<Seen>{{"early", 2}, {"late", 2}, {"a", 2}, {"b", 2}}));
}

TEST_F(Timer, OnceModeFiresOnceAndIsGone)
{
    std::string once = "once";
    uint32_t id = create(once, 2000, TIMER_MODE_ONCE);
    ticks(5);
    EXPECT_EQ(ticksOf("once"), (std::vector<int>{2}));
    EXPECT_NE(Timer_Delete(h, id), 0u) << "deleted by the library after firing";
}

TEST_F(Timer, ParameterBlockIsCopiedAndTheCopyIsStable)
{
    std::string first = "first", other = "other";
    TIMER_PARAM_S p{&first, nullptr, 7, 8};
    ASSERT_NE(Timer_Create(h, TIMER_MODE_PERIODIC, 1000, onExpiry, &p), TIMER_INVALID_ID);
    p.pArg0 = &other;  // after creation the caller's block no longer matters
    ticks(2);
    EXPECT_EQ(ticksOf("first"), (std::vector<int>{1, 2}));
    ASSERT_EQ(g_params.size(), 2u);
    EXPECT_NE(g_params[0], &p);
    EXPECT_EQ(g_params[0], g_params[1]);
    EXPECT_EQ(g_params[0]->uiArg2, 7u);
    EXPECT_EQ(g_params[0]->uiArg3, 8u);
}

TEST_F(Timer, DeletedInsideItsOwnExpiryNeverFiresAgain)
{
    for (uint32_t mode : {TIMER_MODE_PERIODIC, TIMER_MODE_ONCE}) {
        g_seen.clear();
        std::string self = "self";
        uint32_t id = TIMER_INVALID_ID;
        Action act{h, &id};
        id = create(self, 1000, mode, &act);
        ticks(4);
        EXPECT_EQ(ticksOf("self").size(), 1u) << "mode " << mode;
    }
}

TEST_F(Timer, DeletedInsideAnotherExpiryDoesNotRunEvenInTheSameTick)
{
    std::string killer = "killer", victim = "victim", bystander = "bystander";
    uint32_t victimId = TIMER_INVALID_ID;
    Action act{h, &victimId};
    create(killer, 1000, TIMER_MODE_PERIODIC, &act);
    victimId = create(victim, 1000);
    create(bystander, 1000);
    ticks(3);
    EXPECT_TRUE(ticksOf("victim").empty());
    EXPECT_EQ(ticksOf("bystander"), (std::vector<int>{1, 2, 3}));
}

TEST_F(Timer, CreatedInsideAnExpiryWaitsForItsPeriod)
{
    std::string parent = "parent";
    Action act{h};
    act.bCreate = true;
    create(parent, 2000, TIMER_MODE_ONCE, &act);
    ticks(4);
    EXPECT_EQ(ticksOf("child"), (std::vector<int>{3, 4}));
}

TEST_F(Timer, FinalizeInsideAnExpiryStopsTheTick)
{
    std::string first = "first", second = "second";
    Action act{h};
    act.bFinalize = true;
    create(first, 1000, TIMER_MODE_PERIODIC, &act);
    create(second, 1000);
    ++g_tick;
    EXPECT_EQ(Timer_Tick_Announce(h), 0u);
    EXPECT_EQ(g_seen, (std::vector<Seen>{{"first", 1}}));
    EXPECT_NE(Timer_Tick_Announce(h), 0u) << "the handle is gone";
    h = 0;
}

TEST_F(Timer, TickFromInsideAnExpiryIsRefused)
{
    std::string t = "t";
    Action act{h};
    act.bTickAgain = true;
    create(t, 1000, TIMER_MODE_PERIODIC, &act);
    ticks(1);
    EXPECT_NE(act.uiNestedResult, 0u);
    EXPECT_EQ(g_seen.size(), 1u);
}

TEST_F(Timer, FinalizeReleasesLiveTimersAndTheHandle)
{
    std::string a = "a";
    for (int i = 0; i < 10; ++i) create(a, 1000 * (i + 1));
    EXPECT_EQ(Timer_Finalize(h), 0u);  // LeakSanitizer reports any timer left
    EXPECT_EQ(Timer_Create(h, TIMER_MODE_PERIODIC, 1000, onExpiry, nullptr), TIMER_INVALID_ID);
    EXPECT_NE(Timer_Tick_Announce(h), 0u);
    EXPECT_NE(Timer_Finalize(h), 0u);
    h = 0;
}

TEST_F(Timer, IdentifiersAndRefusals)
{
    std::set<uint32_t> ids;
    std::string n = "n";
    for (int i = 0; i < 128; ++i) ids.insert(create(n, 1000));
    EXPECT_EQ(ids.size(), 128u);
    EXPECT_EQ(Timer_Create(h, TIMER_MODE_PERIODIC, 1000, onExpiry, nullptr), TIMER_INVALID_ID) << "128 timers at most";
    EXPECT_EQ(Timer_Delete(h, *ids.begin()), 0u);
    EXPECT_NE(Timer_Create(h, TIMER_MODE_PERIODIC, 1000, onExpiry, nullptr), TIMER_INVALID_ID);

    EXPECT_EQ(Timer_Create(h, TIMER_MODE_PERIODIC, 0, onExpiry, nullptr), TIMER_INVALID_ID);
    EXPECT_EQ(Timer_Create(h, TIMER_MODE_PERIODIC, 1000, nullptr, nullptr), TIMER_INVALID_ID);
    EXPECT_EQ(Timer_Create(h, 5, 1000, onExpiry, nullptr), TIMER_INVALID_ID);
    EXPECT_EQ(Timer_Create(h + 1000, TIMER_MODE_PERIODIC, 1000, onExpiry, nullptr), TIMER_INVALID_ID);
    EXPECT_NE(Timer_Delete(h, TIMER_INVALID_ID), 0u);
    EXPECT_EQ(Timer_Initialize(2, 0, 128, 16), 0u) << "a tick must have a length";
}

TEST_F(Timer, FaultsAndTheCallLog)
{
    plat::testing::setRecording(true);
    plat::testing::failCall("Timer_Initialize", 0);
    EXPECT_EQ(Timer_Initialize(2, 1000, 128, 16), 0u);
    plat::testing::failCall("Timer_Create", TIMER_INVALID_ID);
    EXPECT_EQ(Timer_Create(h, TIMER_MODE_PERIODIC, 1000, onExpiry, nullptr), TIMER_INVALID_ID);
    plat::testing::failCall("Timer_Tick_Announce", 5);
    std::string s = "s";
    create(s, 1000);
    EXPECT_EQ(Timer_Tick_Announce(h), 5u);
    EXPECT_TRUE(g_seen.empty()) << "a failed tick runs nothing";

    auto inits = plat::testing::callsNamed("Timer_Initialize");
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_EQ(inits[0].args, "mode=2 tickMs=1000 maxTimers=128 wheel=16 result=0");
    auto creates = plat::testing::callsNamed("Timer_Create");
    ASSERT_EQ(creates.size(), 2u);
    EXPECT_NE(creates[0].args.find("periodMs=1000"), std::string::npos);
    EXPECT_NE(creates[0].args.find("result=4294967295"), std::string::npos);
}

}  // namespace
