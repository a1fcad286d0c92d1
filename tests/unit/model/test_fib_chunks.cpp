// A multicast entry's port set may be programmed in chunks: consecutive adds
// for one VSI extend one set. Any other call on the tables ends the chunk,
// and the next add for the VSI starts a new set; the transport's copy of
// the tables follows the same rule to give the switch's answers.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/model/fib.h"
#include "platform/result.h"

namespace {

using Ports = std::vector<uint32_t>;

sim::McEntry chunk(uint32_t vsi, Ports ports)
{
    return sim::McEntry{vsi, 100 + vsi, sim::Mac{0x01, 0x1e, 0x83, 0, 0, static_cast<uint8_t>(vsi)}, 30, std::move(ports)};
}

struct Interruption {
    const char* name;
    std::function<void(sim::Fib&)> call;
};

void PrintTo(const Interruption& i, std::ostream* os) { *os << i.name; }

const sim::Mac kBMac{0x00, 0x0b, 0, 0, 0, 1};

class FibChunk : public ::testing::TestWithParam<Interruption> {};

TEST_P(FibChunk, EndsTheSetThatConsecutiveMulticastAddsExtend)
{
    sim::Fib fib;
    ASSERT_EQ(fib.addMulticast(chunk(2, {7})), PLAT_OK);  // VSI 2 for the calls that remove
    ASSERT_EQ(fib.addMulticast(chunk(1, {1, 2})), PLAT_OK);
    ASSERT_EQ(fib.addMulticast(chunk(1, {3, 1})), PLAT_OK);
    ASSERT_EQ(fib.working().mc.at(1).ports, (Ports{1, 2, 3})) << "consecutive adds extend one set";

    GetParam().call(fib);
    EXPECT_FALSE(fib.chunkVsi().has_value() && *fib.chunkVsi() == 1);
    ASSERT_EQ(fib.addMulticast(chunk(1, {4})), PLAT_OK);
    EXPECT_EQ(fib.working().mc.at(1).ports, (Ports{4})) << "the add after the call starts a new set";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, FibChunk,
    ::testing::Values(
        Interruption{"UnicastAdd", [](sim::Fib& f) { (void)f.addUnicast({2, 102, kBMac, {}, 30, 1, 0}, 100, 100); }},
        Interruption{"UnicastDeleteOfNothing", [](sim::Fib& f) { (void)f.delUnicast(2, kBMac); }},
        Interruption{"MulticastDelete", [](sim::Fib& f) { (void)f.delMulticast(2); }},
        Interruption{"PortAdded", [](sim::Fib& f) { (void)f.addMcPort(1, 9); }},
        Interruption{"PortRemoved", [](sim::Fib& f) { (void)f.delMcPort(1, 2); }},
        Interruption{"AnotherVsisAdd", [](sim::Fib& f) { (void)f.addMulticast(chunk(2, {8})); }},
        Interruption{"Flush", [](sim::Fib& f) { f.flush(); }},
        Interruption{"PbbMode", [](sim::Fib& f) { f.setPbbPort(5, true); }},
        Interruption{"Encapsulation", [](sim::Fib& f) { f.setEncap(1, 2); }},
        Interruption{"WindowOpened", [](sim::Fib& f) { f.openWindow(); }},
        Interruption{"NoWindowClosed", [](sim::Fib& f) { f.closeWindow(); }},
        Interruption{"VsiRemoved", [](sim::Fib& f) { f.dropVsi(2); }},
        Interruption{"RefusedRequest", [](sim::Fib& f) { f.endChunk(); }}),
    [](const auto& info) { return std::string(info.param.name); });

// A refresh window takes out the multicast entries not programmed again
// before it closes; a port added to an entry programs it again. A closed
// window marks nothing.
TEST(FibWindow, AMulticastPortAddedInsideTheWindowKeepsItsEntry)
{
    sim::Fib fib;
    ASSERT_EQ(fib.addMulticast(chunk(1, {1})), PLAT_OK);
    ASSERT_EQ(fib.addMulticast(chunk(2, {1})), PLAT_OK);
    fib.flush();
    fib.openWindow();
    ASSERT_EQ(fib.addMcPort(1, 2), PLAT_OK);
    fib.flush();
    fib.closeWindow();
    EXPECT_EQ(fib.committed().mc.count(1), 1u) << "programmed again inside the window";
    EXPECT_EQ(fib.committed().mc.count(2), 0u) << "not programmed again";
    EXPECT_TRUE(fib.staleMulticast().empty()) << "a closed window marks nothing";
}

}  // namespace
