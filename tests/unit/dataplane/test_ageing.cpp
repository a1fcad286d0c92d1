// Ageing: customer addresses go after the age time; programmed backbone
// addresses without traffic are reported aged by every slot that holds
// them, cancelled when traffic resumes, reported again while still
// programmed; the customer table stays bounded.
#include "platform/model/line_report.h"
#include "tests/unit/dataplane/dataplane_test.h"

namespace {

using namespace dptest;

std::vector<uint16_t> slotsOf(const std::vector<sim::AgeReport>& reports, uint32_t type)
{
    std::vector<uint16_t> out;
    for (const auto& r : reports) {
        EXPECT_EQ(r.ageType, type);
        EXPECT_EQ(std::make_tuple(r.vsi, r.isid), std::make_tuple(1u, 100u));
        EXPECT_EQ(r.entries, (std::vector<std::pair<Mac, uint16_t>>{{kR1, 20}}));
        out.push_back(r.slot);
    }
    return out;
}

TEST(BackboneAgeing, ReportedByEveryHoldingSlotCancelledAgainAndSplitToFitAMessage)
{
    Lab lab;
    lab.m.addSlot(3);                                        // no MAC-in-MAC
    lab.m.addSlot(4, {.present = false, .minm = true});      // board out
    lab.m.addSlot(5, {.normal = false, .minm = true});       // faulty
    dp::BackboneAger ager;
    const std::vector<uint16_t> holders{1, 2}, none{};
    EXPECT_EQ(slotsOf(ager.sweep(lab.m, 1000, 5000), 1), none) << "followed from now on";
    ager.hit({1, kR1}, 3000);
    EXPECT_EQ(slotsOf(ager.sweep(lab.m, 7999, 5000), 1), none);
    EXPECT_EQ(slotsOf(ager.sweep(lab.m, 8000, 5000), 1), holders);
    EXPECT_EQ(slotsOf(ager.sweep(lab.m, 12999, 5000), 1), none) << "not again within the age time";
    EXPECT_EQ(slotsOf(ager.sweep(lab.m, 13000, 5000), 1), holders) << "still programmed: again";
    ager.hit({1, kR1}, 14000);
    EXPECT_EQ(slotsOf(ager.resumed(lab.m), 2), holders);
    EXPECT_EQ(slotsOf(ager.resumed(lab.m), 2), none);
    EXPECT_EQ(slotsOf(ager.sweep(lab.m, 18999, 5000), 1), none) << "traffic counts from the hit";
    EXPECT_EQ(std::make_pair(ager.agedReported(), ager.cancelledReported()), std::make_pair(2ul, 1ul));

    lab.program(L2VPN_MINM_ADD_UC, 1, kR1, {lab.u2});
    EXPECT_EQ(slotsOf(ager.sweep(lab.m, 19000, 5000), 1), none) << "programmed anew: followed anew";
    EXPECT_EQ(ager.tracks().at({1, kR1}).port, lab.u2);
    lab.program(L2VPN_MINM_DEL_UC, 1, kR1, {});
    ager.hit({1, kR1}, 19500);
    EXPECT_EQ(slotsOf(ager.sweep(lab.m, 99999, 5000), 1), none);
    EXPECT_TRUE(ager.tracks().empty());

    // Long reports split to fit a message.
    lab.program(L2VPN_MINM_ADD_UC, 1, kR1, {lab.u1});
    for (uint32_t i = 0; i < 512; ++i)
        lab.program(L2VPN_MINM_ADD_UC, 2, Mac{0x02, 1, 0, 0, uint8_t(i >> 8), uint8_t(i)}, {lab.u1});
    dp::BackboneAger fresh;
    fresh.sweep(lab.m, 0, 10);
    auto reports = fresh.sweep(lab.m, 10, 10);
    std::vector<size_t> sizes;
    for (const auto& r : reports) {
        sizes.push_back(r.entries.size());
        EXPECT_NO_THROW(sim::encodeReport({r}));
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{1, 256, 256, 1, 256, 256})) << "per slot: VSI 1's R1, then VSI 2's";
}

TEST(CustomerAgeing, EntriesMoveAndTheTableStaysBounded)
{
    dp::CustomerTable t;
    dp::Location here{.port = 7}, there{.bmac = kR1, .remote = true};
    EXPECT_TRUE(t.learn(1, kA, here, 0));
    t.learn(1, kA, there, 4000);
    t.learn(2, kA, here, 0);
    EXPECT_EQ(*t.find(1, kA), there);
    EXPECT_EQ(t.expire(5000, 5000), 1u) << "VSI 2's";
    for (uint32_t i = 0; t.size() < dp::CustomerTable::kMaxEntries; ++i)
        t.learn(3, Mac{0, 0, 0, uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)}, here, 0);
    EXPECT_FALSE(t.learn(1, kB, here, 0)) << "full";
    EXPECT_TRUE(t.learn(1, kA, here, 0)) << "known addresses still move";
}

}  // namespace
