// Roll-back when the daemon's own tables cannot take what the driver has
// already taken: allocations of one size are made to fail on demand, and
// the driver must be left holding exactly what the table holds.
#include "ctl_test.h"
#include "daemon/pbb_log.h"
#include "support/logread.h"

#include <cstdlib>

namespace {

// The next `fail` allocations of `size` bytes, after `skip` of them, fail.
struct AllocFault {
    size_t size = 0;
    int skip = 0;
    int fail = 0;
    bool hit(size_t bytes)
    {
        if (fail == 0 || bytes != size) return false;
        if (skip > 0) return --skip, false;
        return --fail, true;
    }
};
AllocFault g_fault;

}  // namespace

#if defined(PBB_SANITIZED)
#define CTL_ALLOC_FAULTS 0  // the sanitizer owns the allocator
#else
#define CTL_ALLOC_FAULTS 1

extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

extern "C" void* calloc(size_t n, size_t size) noexcept
{
    return g_fault.hit(n * size) ? nullptr : __libc_calloc(n, size);
}

extern "C" void* realloc(void* p, size_t size) noexcept
{
    return g_fault.hit(size) ? nullptr : __libc_realloc(p, size);
}
#endif

namespace ctltest {
namespace {

class Rollback : public Ctl {
protected:
    void SetUp() override
    {
        if (!CTL_ALLOC_FAULTS) GTEST_SKIP() << "allocation faults need the C library's allocator";
        Ctl::SetUp();
        vsi(1, "vsi-a", 1001);
        vsi(2, "vsi-b", 1002);
    }
    void TearDown() override
    {
        g_fault = {};
        if (CTL_ALLOC_FAULTS) Ctl::TearDown();
    }
    static void failAlloc(size_t size, int fail, int skip = 0) { g_fault = {size, skip, fail}; }
};

TEST_F(Rollback, NewEntryKeepsOnlyThePortsTheTableTook)
{
    for (uint32_t p : {a, b, c}) attach(1, p);

    failAlloc(sizeof(PbbMcPw), 1);  // no table entry: the driver's goes again
    PBB_ctl_ActiveVsi(1);
    expectMc(1, {});

    failAlloc(sizeof(PbbMcPort), 3);  // no port taken: neither entry stays
    PBB_ctl_ActiveVsi(1);
    expectMc(1, {});

    failAlloc(sizeof(PbbMcPort), 1, 1);  // the second port refused
    PBB_ctl_ActiveVsi(1);
    expectMc(1, {a, c});

    failAlloc(sizeof(PbbMcPort), 1);  // an added port the table cannot take
    PBB_ctl_ActiveMcPort(1, b);
    expectMc(1, {a, c});
}

TEST_F(Rollback, UplinkNodeThatCannotBeMadeIsReportedUnderTheErrorSwitchOnly)
{
    for (uint32_t flag : {0u, PBB_DBG_ERROR}) {
        g_uiPbbDbgFlag = flag;
        failAlloc(sizeof(PbbUplink), 1);
        EXPECT_EQ(PBB_vsi_AddUplink(1, a), nullptr);
        const auto lines = pbbtest::grepLines(dirs.logFile(), {"ERROR", "uplink node for VSI(VsiIndex 1)"});
        EXPECT_EQ(lines.size(), flag != 0 ? 1u : 0u) << "switch " << flag;
    }
    g_uiPbbDbgFlag = 0;
    EXPECT_EQ(_pbb_vsi_GetUplink(1, a), nullptr);
}

TEST_F(Rollback, UplinkRequestUndoesEveryNameItAdded)
{
    auto req = names({"vsi-a", "vsi-b", "vsi-c"});
    failAlloc(sizeof(PbbIfVsiCfgNode), 1, 2);
    EXPECT_EQ(PBB_ctl_AddUplink(a, 3, raw(req)), PBB_ERR);

    EXPECT_TRUE(PBB_ifcb_Get(a) != nullptr && cfgNames(a).empty()) << "the control block stays without names";
    EXPECT_EQ(PBB_ifcb_IsRunVsiExist(a, 1) + PBB_ifcb_IsRunVsiExist(a, 2), 0u);
    EXPECT_EQ(_pbb_vsi_GetUplink(1, a), nullptr);
    expectMc(1, {});
    expectMc(2, {});
    EXPECT_TRUE(keysOfType(g_hPbbUsedCfgDB, PBB_DBM_VT_IFVSI).empty());
}

}  // namespace
}  // namespace ctltest
