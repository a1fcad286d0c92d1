// A daemon that passes pbb-sim descriptors it cannot use (a regular file or
// a directory where an event channel or a packet socket belongs): the
// request is refused, that daemon is still served, and pbb-sim goes on.
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/result.h"
#include "platform/transport/link.h"
#include "support/logread.h"
#include "support/tempdir.h"
#include "unit/transport/sim_child.h"

namespace {

using plat::wire::Msg;

struct BadDescriptor {
    const char* name;
    Msg request;
    const char* path;  // opened read-only and passed along
};

class UnusableDescriptor : public ::testing::TestWithParam<BadDescriptor> {
protected:
    pbbtest::PlatformDirs dirs;
};

TEST_P(UnusableDescriptor, IsRefusedAndTheDaemonStaysServed)
{
    const BadDescriptor& bad = GetParam();
    pbbtest::SimChild sim;
    plat::transport::Link daemon;
    ASSERT_TRUE(daemon.ensure());

    std::string path = bad.path[0] == '/' ? bad.path : dirs.dir().sub(bad.path);
    if (bad.path[0] != '/') std::ofstream(path) << "plain\n";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << path;
    plat::wire::Writer body;  // the first service, or the daemon's socket number
    bad.request == Msg::OpenChannel ? body.u8(0) : body.u32(7);
    auto result = daemon.call(bad.request, body, fd);
    ::close(fd);
    ASSERT_TRUE(result.has_value()) << "pbb-sim did not answer the request";
    EXPECT_EQ(*result, PLAT_ERR_PARAM);

    // The same daemon goes on being served, and so does everybody else.
    EXPECT_EQ(daemon.call(Msg::Ping, {}), std::optional<uint32_t>(PLAT_OK));
    EXPECT_EQ(pbbtest::simStats()["sessions"], 1);
    EXPECT_EQ(pbbtest::grepLines(dirs.logFile(), {"that is not a socket; refused"}).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Descriptors, UnusableDescriptor,
                         ::testing::Values(BadDescriptor{"ChannelRegularFile", Msg::OpenChannel, "plain.txt"},
                                           BadDescriptor{"PacketDirectory", Msg::OpenPacket, "/"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
