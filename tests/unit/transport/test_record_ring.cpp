// The record ring between a daemon's platform library and pbb-sim: bytes
// come out whole and in order across wraps, a writer never overruns what
// pbb-sim has not taken, counts that are not believable are refused, and a
// sleeping pbb-sim's ask for a bell is seen by exactly one write.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "platform/transport/record_ring.h"

namespace {

using plat::UniqueFd;
using plat::transport::RecordRing;

// pbb-sim's ring and the library's view of it, as the introduction passes it.
struct Pair {
    RecordRing sim{RecordRing::kMinCapacity};
    std::unique_ptr<RecordRing> lib = RecordRing::attach(UniqueFd(::dup(sim.fd())));
};

TEST(RecordRing, BytesComeOutWholeAndInOrderAndAFullRingTakesNothing)
{
    Pair p;
    ASSERT_TRUE(p.lib);
    ASSERT_EQ(p.lib->capacity(), RecordRing::kMinCapacity);
    std::mt19937 rng(7);
    std::vector<uint8_t> sent, got;
    size_t waiting = 0;
    uint8_t next = 0;
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes(rng() % 700 + 1);
        for (auto& b : bytes) b = next++;
        bool fits = waiting + bytes.size() <= RecordRing::kMinCapacity;
        ASSERT_EQ(p.lib->put(bytes), fits) << "round " << round;
        if (fits) {
            sent.insert(sent.end(), bytes.begin(), bytes.end());
            waiting += bytes.size();
        } else {
            next = static_cast<uint8_t>(next - bytes.size());
        }
        if (rng() % 3 == 0) {
            ASSERT_TRUE(p.sim.take(got));
            waiting = 0;
        }
    }
    ASSERT_TRUE(p.sim.take(got));
    EXPECT_GT(sent.size(), 100 * RecordRing::kMinCapacity) << "the ring wrapped many times";
    EXPECT_EQ(got, sent);
}

TEST(RecordRing, ASleepingReaderIsRungForOnceAndNotWhileItLooks)
{
    Pair p;
    const std::vector<uint8_t> one{1};
    ASSERT_TRUE(p.lib->put(one));
    EXPECT_TRUE(p.lib->takeRingRequest()) << "a new ring asks for a bell";
    ASSERT_TRUE(p.lib->put(one));
    EXPECT_FALSE(p.lib->takeRingRequest()) << "one bell per ask";
    p.sim.askToRing();
    p.sim.withdrawAsk();
    ASSERT_TRUE(p.lib->put(one));
    EXPECT_FALSE(p.lib->takeRingRequest()) << "a reader that looks again needs none";
    p.sim.askToRing();
    ASSERT_TRUE(p.lib->put(one));
    EXPECT_TRUE(p.lib->takeRingRequest());
}

// Either side may be another program: counts in the shared memory that
// cannot be true make pbb-sim's take fail and the writer's put find no
// room, and memory that is no ring is not attached.
TEST(RecordRing, CountsThatCannotBeTrueAndForeignMemoryAreRefused)
{
    struct Case {
        const char* what;
        size_t at;
        uint64_t value;
        bool takes, puts;
    };
    const Case cases[] = {
        {"written more than the ring ahead", RecordRing::kWrittenAt, RecordRing::kMinCapacity + 1, false, true},
        {"written a whole ring ahead", RecordRing::kWrittenAt, RecordRing::kMinCapacity, true, false},
        {"taken beyond what was written", RecordRing::kTakenAt, 8, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pair p;
        auto* shared = static_cast<uint8_t*>(
            ::mmap(nullptr, RecordRing::kDataOffset, PROT_READ | PROT_WRITE, MAP_SHARED, p.sim.fd(), 0));
        ASSERT_NE(shared, MAP_FAILED);
        std::memcpy(shared + c.at, &c.value, sizeof c.value);
        std::vector<uint8_t> out;
        EXPECT_EQ(p.sim.take(out), c.takes);
        std::memcpy(shared + c.at, &c.value, sizeof c.value);
        EXPECT_EQ(p.lib->put(std::vector<uint8_t>{1}), c.puts);
        ::munmap(shared, RecordRing::kDataOffset);
    }

    EXPECT_THROW(RecordRing(RecordRing::kMinCapacity / 2), std::invalid_argument) << "too small";
    EXPECT_THROW(RecordRing(RecordRing::kMinCapacity * 3), std::invalid_argument) << "not a power of two";
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ::close(pipeEnds[1]);
    EXPECT_FALSE(RecordRing::attach(UniqueFd(pipeEnds[0])));
    RecordRing ring;
    ASSERT_EQ(::ftruncate(ring.fd(), RecordRing::kDataOffset + 3 * RecordRing::kMinCapacity), 0);
    EXPECT_FALSE(RecordRing::attach(UniqueFd(::dup(ring.fd())))) << "not a power of two";
    ASSERT_EQ(::ftruncate(ring.fd(), RecordRing::kDataOffset + RecordRing::kMinCapacity), 0);
    EXPECT_FALSE(RecordRing::attach(UniqueFd(::dup(ring.fd())))) << "the capacity it states is another";
}

}  // namespace
