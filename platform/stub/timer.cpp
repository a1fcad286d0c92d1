// Timer library: instances that keep a millisecond clock advanced only by
// Timer_Tick_Announce, each with a due queue ordered by (due time, creation
// sequence) so that timers run in the order they became due and in
// creation order on ties.
//
// A timer's record stays alive while its expiry function runs: deleting it
// from inside that function (or finalising the whole instance there) only
// marks it, and the tick frees it once the function has returned.
// One thread uses the library; expiry functions run inside the tick.

#include "platform/timer.h"

#include "platform/testing.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

namespace {

constexpr uint32_t TIMER_OK = 0;
constexpr uint32_t TIMER_ERR_INSTANCE = 1;  // no such instance
constexpr uint32_t TIMER_ERR_TIMER = 2;     // no such timer in the instance
constexpr uint32_t TIMER_ERR_BUSY = 3;      // a tick of the instance is already running

struct Timer {
    uint32_t uiId = 0;
    uint32_t uiMode = TIMER_MODE_ONCE;
    uint64_t ulPeriodMs = 0;
    uint64_t ulDue = 0;
    uint64_t ulSeq = 0;
    TIMER_FUNC pfExpiry = nullptr;
    TIMER_PARAM_S stParam{};
    bool bDeleted = false;
};

using DueKey = std::pair<uint64_t, uint64_t>;  // due time, creation sequence

struct Instance {
    uint32_t uiMode = 0;
    uint32_t uiTickMs = 0;
    uint32_t uiMaxTimers = 0;  // 0: no limit
    uint32_t uiOption = 0;
    uint64_t ulClockMs = 0;
    uint64_t ulNextSeq = 0;
    std::unordered_map<uint32_t, std::unique_ptr<Timer>> timers;
    std::map<DueKey, uint32_t> due;
    Timer* pstRunning = nullptr;  // the timer whose expiry function runs now
    bool bInTick = false;
    bool bFinalized = false;  // finalised from inside an expiry function
};

std::map<uint32_t, std::unique_ptr<Instance>> g_instances;
uint32_t g_uiLastHandle = 0;
uint32_t g_uiLastTimerId = 0;

std::string hex(const void* p)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

Instance* findInstance(uint32_t h)
{
    auto it = g_instances.find(h);
    return it == g_instances.end() ? nullptr : it->second.get();
}

uint32_t newHandle()
{
    do {
        ++g_uiLastHandle;
    } while (g_uiLastHandle == 0 || g_instances.count(g_uiLastHandle) != 0);
    return g_uiLastHandle;
}

// Identifiers are unique over all instances alive; never 0 nor the
// "no timer" value.
uint32_t newTimerId()
{
    for (;;) {
        ++g_uiLastTimerId;
        if (g_uiLastTimerId == 0 || g_uiLastTimerId == TIMER_INVALID_ID) continue;
        bool used = false;
        for (const auto& [h, inst] : g_instances) used = used || inst->timers.count(g_uiLastTimerId) != 0;
        if (!used) return g_uiLastTimerId;
    }
}

void recordCall(const char* name, const std::string& args, uint64_t result)
{
    if (plat::testing::recording()) plat::testing::record(name, args + " result=" + std::to_string(result));
}

// Removes a timer from its instance. The one whose expiry function runs
// right now is only marked; the tick frees it after the function returns.
void removeTimer(Instance& inst, uint32_t id)
{
    auto it = inst.timers.find(id);
    if (it == inst.timers.end()) return;
    Timer* t = it->second.get();
    inst.due.erase(DueKey{t->ulDue, t->ulSeq});
    if (t == inst.pstRunning) {
        t->bDeleted = true;
        it->second.release();  // owned by the running tick from now on
    }
    inst.timers.erase(it);
}

// Next due time of a periodic timer that has just fired: one period on,
// or, when a period is shorter than the tick, the first point after the
// clock (missed expiries are not made up; a timer fires at most once a tick).
uint64_t nextDue(const Timer& t, uint64_t clock)
{
    uint64_t next = t.ulDue + t.ulPeriodMs;
    if (next <= clock) next += ((clock - next) / t.ulPeriodMs + 1) * t.ulPeriodMs;
    return next;
}

}  // namespace

uint32_t Timer_Initialize(uint32_t uiMode, uint32_t uiTickMs, uint32_t uiMaxTimers, uint32_t uiWheelHint)
{
    std::string args = "mode=" + std::to_string(uiMode) + " tickMs=" + std::to_string(uiTickMs) +
                       " maxTimers=" + std::to_string(uiMaxTimers) + " wheel=" + std::to_string(uiWheelHint);
    if (auto f = plat::testing::fault("Timer_Initialize")) {
        recordCall("Timer_Initialize", args, static_cast<uint32_t>(*f));
        return static_cast<uint32_t>(*f);
    }
    uint32_t h = 0;
    if (uiTickMs != 0) {
        auto inst = std::make_unique<Instance>();
        inst->uiMode = uiMode;
        inst->uiTickMs = uiTickMs;
        inst->uiMaxTimers = uiMaxTimers;
        h = newHandle();
        g_instances.emplace(h, std::move(inst));
    }
    recordCall("Timer_Initialize", args, h);
    return h;
}

uint32_t Timer_Config(uint32_t hInstance, uint32_t uiOption)
{
    std::string args = "instance=" + std::to_string(hInstance) + " option=" + std::to_string(uiOption);
    if (auto f = plat::testing::fault("Timer_Config")) {
        recordCall("Timer_Config", args, static_cast<uint32_t>(*f));
        return static_cast<uint32_t>(*f);
    }
    Instance* inst = findInstance(hInstance);
    uint32_t rc = TIMER_ERR_INSTANCE;
    if (inst != nullptr) {
        inst->uiOption = uiOption;
        rc = TIMER_OK;
    }
    recordCall("Timer_Config", args, rc);
    return rc;
}

uint32_t Timer_Create(uint32_t hInstance, uint32_t uiMode, uint64_t ulPeriodMs, TIMER_FUNC pfExpiry,
                      const TIMER_PARAM_S* pstParam)
{
    std::string args = "instance=" + std::to_string(hInstance) + " mode=" + std::to_string(uiMode) +
                       " periodMs=" + std::to_string(ulPeriodMs) +
                       " fn=" + hex(reinterpret_cast<const void*>(pfExpiry));
    if (auto f = plat::testing::fault("Timer_Create")) {
        recordCall("Timer_Create", args, static_cast<uint32_t>(*f));
        return static_cast<uint32_t>(*f);
    }
    Instance* inst = findInstance(hInstance);
    uint32_t id = TIMER_INVALID_ID;
    bool valid = inst != nullptr && (uiMode == TIMER_MODE_ONCE || uiMode == TIMER_MODE_PERIODIC) &&
                 ulPeriodMs != 0 && pfExpiry != nullptr &&
                 (inst->uiMaxTimers == 0 || inst->timers.size() < inst->uiMaxTimers) &&
                 inst->ulClockMs + ulPeriodMs > inst->ulClockMs;  // no overflow of the due time
    if (valid) {
        auto t = std::make_unique<Timer>();
        t->uiId = newTimerId();
        t->uiMode = uiMode;
        t->ulPeriodMs = ulPeriodMs;
        t->ulDue = inst->ulClockMs + ulPeriodMs;
        t->ulSeq = inst->ulNextSeq++;
        t->pfExpiry = pfExpiry;
        if (pstParam != nullptr) t->stParam = *pstParam;
        id = t->uiId;
        inst->due.emplace(DueKey{t->ulDue, t->ulSeq}, id);
        inst->timers.emplace(id, std::move(t));
    }
    recordCall("Timer_Create", args, id);
    return id;
}

uint32_t Timer_Delete(uint32_t hInstance, uint32_t uiTimerId)
{
    std::string args = "instance=" + std::to_string(hInstance) + " timer=" + std::to_string(uiTimerId);
    if (auto f = plat::testing::fault("Timer_Delete")) {
        recordCall("Timer_Delete", args, static_cast<uint32_t>(*f));
        return static_cast<uint32_t>(*f);
    }
    Instance* inst = findInstance(hInstance);
    uint32_t rc = TIMER_ERR_INSTANCE;
    if (inst != nullptr) {
        rc = inst->timers.count(uiTimerId) != 0 ? TIMER_OK : TIMER_ERR_TIMER;
        removeTimer(*inst, uiTimerId);
    }
    recordCall("Timer_Delete", args, rc);
    return rc;
}

uint32_t Timer_Tick_Announce(uint32_t hInstance)
{
    std::string args = "instance=" + std::to_string(hInstance);
    if (auto f = plat::testing::fault("Timer_Tick_Announce")) {
        recordCall("Timer_Tick_Announce", args, static_cast<uint32_t>(*f));
        return static_cast<uint32_t>(*f);
    }
    Instance* inst = findInstance(hInstance);
    if (inst == nullptr || inst->bInTick) {
        uint32_t rc = inst == nullptr ? TIMER_ERR_INSTANCE : TIMER_ERR_BUSY;
        recordCall("Timer_Tick_Announce", args, rc);
        return rc;
    }
    recordCall("Timer_Tick_Announce", args + " clockMs=" + std::to_string(inst->ulClockMs + inst->uiTickMs), TIMER_OK);

    inst->bInTick = true;
    inst->ulClockMs += inst->uiTickMs;
    const uint64_t clock = inst->ulClockMs;
    // Each pass takes the earliest due timer; a periodic one goes back into
    // the queue after the current clock, so it cannot run twice in a tick.
    while (!inst->bFinalized && !inst->due.empty() && inst->due.begin()->first.first <= clock) {
        auto head = inst->due.begin();
        Timer* t = inst->timers.at(head->second).get();
        inst->due.erase(head);
        if (t->uiMode == TIMER_MODE_PERIODIC) {
            t->ulDue = nextDue(*t, clock);
            inst->due.emplace(DueKey{t->ulDue, t->ulSeq}, t->uiId);
        }
        inst->pstRunning = t;
        t->pfExpiry(&t->stParam);
        inst->pstRunning = nullptr;

        if (t->bDeleted) {
            delete t;  // deleted inside its own expiry function
        } else if (t->uiMode == TIMER_MODE_ONCE && !inst->bFinalized) {
            inst->timers.erase(t->uiId);
        }
    }
    inst->bInTick = false;
    if (inst->bFinalized) delete inst;  // finalised from inside an expiry function
    return TIMER_OK;
}

uint32_t Timer_Finalize(uint32_t hInstance)
{
    std::string args = "instance=" + std::to_string(hInstance);
    if (auto f = plat::testing::fault("Timer_Finalize")) {
        recordCall("Timer_Finalize", args, static_cast<uint32_t>(*f));
        return static_cast<uint32_t>(*f);
    }
    auto it = g_instances.find(hInstance);
    if (it == g_instances.end()) {
        recordCall("Timer_Finalize", args, TIMER_ERR_INSTANCE);
        return TIMER_ERR_INSTANCE;
    }
    Instance* inst = it->second.get();
    if (inst->bInTick) {
        // The tick that runs the current expiry function frees the instance
        // when the function returns; the handle is gone already.
        inst->bFinalized = true;
        it->second.release();
    }
    g_instances.erase(it);
    recordCall("Timer_Finalize", args, TIMER_OK);
    return TIMER_OK;
}
