// A daemon that puts into its record ring what no library puts there (a
// message other than Records, a written count beyond the ring) and rings:
// pbb-sim ends that session as one that sent malformed messages, says why,
// and serves the next daemon.
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>

#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "platform/transport/link.h"
#include "platform/transport/paths.h"
#include "platform/transport/record_ring.h"
#include "platform/transport/unix_io.h"
#include "support/logread.h"
#include "unit/transport/sim_child.h"

namespace {

using plat::transport::RecordRing;
using plat::wire::Msg;

struct BadRing {
    const char* name;
    void (*spoil)(RecordRing& ring);
    const char* logged;
};

void putPing(RecordRing& ring)
{
    ASSERT_TRUE(ring.put(plat::wire::frame(Msg::Ping, plat::wire::Writer().u32(1).bytes())));
}

void writtenBeyondTheRing(RecordRing& ring)
{
    auto* head = static_cast<uint8_t*>(
        ::mmap(nullptr, RecordRing::kDataOffset, PROT_READ | PROT_WRITE, MAP_SHARED, ring.fd(), 0));
    ASSERT_NE(head, MAP_FAILED);
    const uint64_t written = ring.capacity() + 1;
    std::memcpy(head + RecordRing::kWrittenAt, &written, sizeof written);
    ::munmap(head, RecordRing::kDataOffset);
}

class SpoiltRing : public ::testing::TestWithParam<BadRing> {
protected:
    pbbtest::PlatformDirs dirs;
};

TEST_P(SpoiltRing, EndsTheSessionAndTheNextDaemonIsServed)
{
    pbbtest::SimChild sim;
    plat::UniqueFd sock = plat::transport::connectUnix(plat::transport::simSocketPath(), SOCK_STREAM, false);
    ASSERT_TRUE(sock.valid());
    // The introduction brings the shared counter and the ring.
    std::deque<plat::UniqueFd> fds;
    std::vector<uint8_t> buf(65536);
    while (fds.size() < 2) {
        ASSERT_TRUE(pbbtest::waitFor(sock.get(), POLLIN));
        ASSERT_GT(plat::transport::recvWithFds(sock.get(), buf, fds, 0), 0);
    }
    std::unique_ptr<RecordRing> ring = RecordRing::attach(std::move(fds[1]));
    ASSERT_TRUE(ring);
    GetParam().spoil(*ring);
    auto bell = plat::wire::frame(Msg::RingBell, plat::wire::Writer().u32(0).bytes());
    ASSERT_EQ(::send(sock.get(), bell.data(), bell.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bell.size()));

    EXPECT_TRUE(pbbtest::eventually([] { return pbbtest::simStats()["broken"] == 1; }));
    EXPECT_EQ(pbbtest::grepLines(dirs.logFile(), {GetParam().logged}).size(), 1u);
    plat::transport::Link next;
    ASSERT_TRUE(next.ensure());
    EXPECT_EQ(next.call(Msg::Ping, {}), std::optional<uint32_t>(0));
    EXPECT_EQ(pbbtest::simStats()["sessions"], 2);
}

INSTANTIATE_TEST_SUITE_P(Rings, SpoiltRing,
                         ::testing::Values(BadRing{"RequestInTheRing", putPing, "Ping in the record ring"},
                                           BadRing{"WrittenBeyondTheRing", writtenBeyondTheRing,
                                                   "count of written bytes is not believable"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
