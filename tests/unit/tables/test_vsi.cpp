// VSI table: name matching (by scan and by the name index) and the table's
// start-up and release. The
// I-SID hash, uplink lists and walks are checked through the VSI events and
// the control tests.
#include "daemon/pbb_common.h"
#include "daemon/pbb_vsi.h"
#include "platform/model/inproc.h"
#include "platform/testing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

class VsiTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::testing::reset();
        plat::inproc::reset().setMaxVsiNum(1024);
        ASSERT_EQ(PBB_vsi_Init(), PBB_OK);
    }
    void TearDown() override { PBB_vsi_Exit(); }
};

TEST_F(VsiTable, NamesMatchOverAtMost32BytesLowestIndexFirst)
{
    PbbVsi* a = PBB_vsi_CreateVsi(3);
    PbbVsi* b = PBB_vsi_CreateVsi(9);
    std::strcpy(a->szVsiName, "vsi-a");
    EXPECT_EQ(PBB_vsi_CreateVsi(3), a) << "an existing record is handed back as it is";
    // A field written full, without a terminating NUL within its 32 bytes.
    std::memset(b->szVsiName, 'x', sizeof(b->szVsiName));
    EXPECT_EQ(PBB_vsi_GetIndexByName("vsi-a"), 3u);
    EXPECT_EQ(PBB_vsi_GetVsiByName("vsi-"), nullptr);
    EXPECT_EQ(PBB_vsi_GetVsiByName("vsi-ab"), nullptr);
    EXPECT_EQ(PBB_vsi_GetIndexByName("none"), PBB_VSI_INVALID_INDEX);
    EXPECT_EQ(PBB_vsi_GetVsiByName(std::string(32, 'x').c_str()), b);
    EXPECT_EQ(PBB_vsi_GetVsiByName(std::string(40, 'x').c_str()), b);
    EXPECT_EQ(PBB_vsi_GetVsiByName(std::string(31, 'x').c_str()), nullptr);
    std::strcpy(PBB_vsi_CreateVsi(1)->szVsiName, "vsi-a");
    EXPECT_EQ(PBB_vsi_GetIndexByName("vsi-a"), 1u);
}

// Lookups by name against a scan of the table from index 0, over a seeded
// sequence of creations (each named at once, as the daemon names a VSI,
// names shared by several VSIs among them), deletions and renames to a
// name no VSI holds, with runs of lookups between them long enough for
// the name index to be built and used.
TEST_F(VsiTable, LookupsByNameAnswerAsAScanFromTheLowestIndex)
{
    constexpr uint32_t kIndexes = 96;
    const std::vector<std::string> names = {"red", "green", "blue", "vsi-1", "vsi-10", std::string(31, 'n'),
                                            std::string(32, 'x')};
    auto scan = [&](const std::string& name) -> PbbVsi* {
        for (uint32_t i = 0; i < kIndexes; ++i) {
            PbbVsi* v = PBB_vsi_GetVsiByIndex(i);
            if (v != nullptr && std::strncmp(v->szVsiName, name.c_str(), PBB_VSI_NAME_LEN) == 0) return v;
        }
        return nullptr;
    };
    auto setName = [](PbbVsi* v, const std::string& name) {
        // A name of 32 characters fills the field without a NUL.
        std::memset(v->szVsiName, 0, sizeof v->szVsiName);
        std::memcpy(v->szVsiName, name.data(), std::min(name.size(), sizeof v->szVsiName));
    };
    std::mt19937 rng(20261208);
    uint32_t fresh = 0, lookups = 0, found = 0;
    for (int round = 0; round < 400; ++round) {
        const uint32_t at = rng() % kIndexes;
        switch (rng() % 4) {
        case 0:
        case 1:
            if (PBB_vsi_GetVsiByIndex(at) == nullptr) setName(PBB_vsi_CreateVsi(at), names[rng() % names.size()]);
            break;
        case 2: PBB_vsi_DeleteVsi(at); break;
        default:
            if (PBB_vsi_GetVsiByIndex(at) != nullptr) setName(PBB_vsi_GetVsiByIndex(at), "only-" + std::to_string(++fresh));
            break;
        }
        for (uint32_t k = rng() % 40; k > 0; --k) {
            std::string name = rng() % 8 == 0 ? "only-" + std::to_string(rng() % (fresh + 2))
                                              : names[rng() % names.size()];
            if (rng() % 16 == 0) name += "-and-more-than-thirty-two-characters";
            PbbVsi* want = scan(name);
            ASSERT_EQ(PBB_vsi_GetVsiByName(name.c_str()), want) << "round " << round << ", name " << name;
            ++lookups;
            found += want != nullptr;
        }
    }
    // The sequence looked up names held and names not held.
    EXPECT_GT(found, lookups / 4);
    EXPECT_LT(found, lookups);
}

TEST_F(VsiTable, ExitReleasesEverythingAndFailedInitLeavesNothing)
{
    EXPECT_EQ(g_uiPbbMaxVsiIndex, 1023u);
    for (uint32_t i = 0; i < 1024; ++i) {
        ASSERT_NE(PBB_vsi_CreateVsi(i), nullptr);
        PBB_vsi_SetISid(i, 100 + i);
        PBB_vsi_AddUplink(i, i + 1);
    }
    // Exit releases every record, I-SID node and uplink (the leak check
    // sees any left) and is safe twice, and again before the next Init.
    PBB_vsi_Exit();
    PBB_vsi_Exit();
    EXPECT_EQ(PBB_vsi_CreateVsi(0), nullptr);
    plat::testing::failCall("L2VPN_GetMaxVsiNum", 5);
    EXPECT_EQ(PBB_vsi_Init(), PBB_ERR);
    // The array is released again when the hash table cannot be made.
    plat::testing::failCall("HASH_Create", 0);
    EXPECT_EQ(PBB_vsi_Init(), PBB_ERR);
    EXPECT_EQ(g_ppstVsi, nullptr);
    EXPECT_EQ(g_pstPbb_IsidHashTbl, nullptr);
    EXPECT_EQ(g_uiPbbMaxVsiIndex, 0u);
}

}  // namespace
