// The switch keeps its latest programming calls in a ring: once full, each
// call takes the oldest one's place. What `since` hands out must still be
// the calls after the number asked, oldest first, numbered without a gap,
// before the ring is full, as it fills and after it has wrapped.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/model/program_log.h"

namespace {

// The numbers since() hands out, and whether each call's argument (its
// own number, given when it was added) is the one of that number.
std::vector<uint64_t> numbersSince(const sim::ProgramLog& log, uint64_t seq)
{
    std::vector<uint64_t> out;
    for (const sim::ProgramCall* c : log.since(seq)) {
        EXPECT_EQ(c->args, std::vector<uint32_t>{static_cast<uint32_t>(c->seq)});
        out.push_back(c->seq);
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
        while (log.last() < s.total) {
            sim::ProgramCall c;
            c.call = "L2VPN_FlushPwEntry";
            c.args = {static_cast<uint32_t>(log.last() + 1)};
            log.add(std::move(c));
        }
        SCOPED_TRACE(testing::Message() << s.total << " calls, since " << s.since);
        uint64_t first = s.total > kKeep ? s.total - kKeep + 1 : 1;
        EXPECT_EQ(log.dropped(), first - 1);
        EXPECT_EQ(numbersSince(log, s.since), range(std::max(first, s.since + 1), s.total));
    }
}

}  // namespace
