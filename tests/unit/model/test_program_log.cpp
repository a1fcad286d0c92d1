// The switch keeps its latest programming calls in a ring: once full, each
// call takes the oldest one's place. What `since` hands out must still be
// the calls after the number asked, oldest first, numbered without a gap,
// each with what it was added with, before the ring is full, as it fills
// and after it has wrapped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/model/program_log.h"

namespace {

// Call n as the log is given it: every third one a call with arguments
// (n and up to two more), the others entry requests of two names with 0
// to 4 ports (those of a multicast addition kept aside), each naming n in
// every field of its entry.
std::vector<uint32_t> argsOf(uint64_t n) { return std::vector<uint32_t>(1 + n % 3, static_cast<uint32_t>(n)); }
std::vector<uint32_t> portsOf(uint64_t n)
{
    std::vector<uint32_t> ports(n % 5);
    for (size_t i = 0; i < ports.size(); ++i) ports[i] = static_cast<uint32_t>(n + i);
    return ports;
}
bool withArgs(uint64_t n) { return n % 3 == 0; }
// Every field of the entry names n.
L2VPN_MINM_ENTRY_S entryOf(uint64_t n)
{
    auto b = static_cast<uint8_t>(n);
    auto w = static_cast<uint32_t>(n);
    return {w, w + 1, {b, 1, 2, 3, 4, b}, static_cast<uint16_t>(n + 2), w + 3, static_cast<uint16_t>(n + 4),
            {5, b, 6, 7, 8, b}, w + 5, w + 6, w + 7, nullptr, w + 8};
}
bool sameEntry(const L2VPN_MINM_ENTRY_S& a, const L2VPN_MINM_ENTRY_S& b)
{
    return std::memcmp(&a, &b, offsetof(L2VPN_MINM_ENTRY_S, puiPortList)) == 0 && a.puiPortList == b.puiPortList &&
           a.uiZero == b.uiZero;
}
// Requests of two names, the name by n.
const char* requestName(uint64_t n) { return n % 2 == 0 ? "L2VPN_AddMinMEntry" : "L2VPN_DelMinMEntry"; }

void addCall(sim::ProgramLog& log)
{
    uint64_t n = log.last() + 1;
    if (withArgs(n)) {
        std::vector<uint32_t> a = argsOf(n);
        if (a.size() == 1) log.add("L2VPN_SetInterface", 7, {a[0]});
        else if (a.size() == 2) log.add("L2VPN_SetInterface", 7, {a[0], a[1]});
        else log.add("L2VPN_SetInterface", 7, {a[0], a[1], a[2]});
        return;
    }
    sim::MinMRequest r{.client = 2, .op = L2VPN_MINM_ADD_MC, .entry = entryOf(n), .ports = portsOf(n)};
    log.add(requestName(n), 0, r);
}

// The numbers since() hands out, each call checked against what it was
// added with.
std::vector<uint64_t> numbersSince(const sim::ProgramLog& log, uint64_t seq, size_t max = SIZE_MAX)
{
    std::vector<uint64_t> out;
    for (const sim::ProgramCall& c : log.since(seq, max)) {
        if (withArgs(c.seq)) {
            EXPECT_EQ(c.call, "L2VPN_SetInterface");
            EXPECT_EQ(c.result, 7u);
            EXPECT_FALSE(c.minm);
            EXPECT_EQ(c.args, argsOf(c.seq));
        } else {
            EXPECT_EQ(c.call, requestName(c.seq));
            EXPECT_TRUE(c.args.empty());
            if (!c.minm) {
                ADD_FAILURE() << "call " << c.seq << " lost its request";
            } else {
                EXPECT_EQ(c.minm->client, 2u);
                EXPECT_TRUE(sameEntry(c.minm->entry, entryOf(c.seq))) << "call " << c.seq;
                EXPECT_EQ(c.minm->ports, portsOf(c.seq)) << "call " << c.seq;
            }
        }
        out.push_back(c.seq);
    }
    return out;
}

std::vector<uint64_t> range(uint64_t first, uint64_t last)
{
    std::vector<uint64_t> out;
    for (uint64_t s = first; s <= last; ++s) out.push_back(s);
    return out;
}

TEST(ProgramLog, HandsOutTheCallsAfterANumberOldestFirstBeforeAndAfterTheRingWraps)
{
    constexpr uint64_t kKeep = sim::ProgramLog::kKeep;
    sim::ProgramLog log;
    EXPECT_TRUE(log.since(0).empty());
    struct Step {
        uint64_t total;  // calls added by then
        uint64_t since;
    };
    // The ring not yet full, just full, one past, and wrapped more than once.
    for (Step s : {Step{3, 0}, Step{3, 1}, Step{kKeep, 0}, Step{kKeep, kKeep - 2}, Step{kKeep + 1, 0},
                   Step{kKeep + 1, 1}, Step{kKeep + 1, 5}, Step{2 * kKeep + 7, 0}, Step{2 * kKeep + 7, kKeep + 9},
                   Step{2 * kKeep + 7, 2 * kKeep + 6}, Step{2 * kKeep + 7, 2 * kKeep + 7}}) {
        while (log.last() < s.total) addCall(log);
        SCOPED_TRACE(testing::Message() << s.total << " calls, since " << s.since);
        uint64_t first = s.total > kKeep ? s.total - kKeep + 1 : 1;
        EXPECT_EQ(log.dropped(), first - 1);
        EXPECT_EQ(numbersSince(log, s.since), range(std::max(first, s.since + 1), s.total));
        // A cut list is the same list's beginning.
        uint64_t from = std::max(first, s.since + 1);
        EXPECT_EQ(numbersSince(log, s.since, 2), range(from, std::min(s.total, from + 1)));
    }
}

}  // namespace
