// Files named by control commands: pbb-sim uses the descriptor its client
// passed and opens no path itself; and the injector's limit.
#include <fcntl.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/tempdir.h"
#include "tools/simcmd/frames.h"
#include "unit/transport/sim_child.h"

namespace {

class ControlFiles : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return dirs.dir().sub(name); }

    pbbtest::PlatformDirs dirs;
    pbbtest::SimChild sim;
};

// Each request is refused (status 2); pbb-simctl passing the file it names
// is served in the system tests (pcap replay, hostile peers).
TEST_F(ControlFiles, ANamedFileIsUsedOnlyThroughThePassedDescriptor)
{
    struct Case {
        const char* what;
        std::vector<std::string> words;
        std::string open;   // passed open when set
        std::string named;  // the file the request names
        const char* says;
    };
    const std::string in = path("in.pcap"), out = path("out.pcap");
    simcmd::writePcap(in, simcmd::buildBurst(simcmd::FrameFields{}, 3));
    const Case cases[] = {
        {"read, not passed", {"frame", "pcap", "eth-1/0/1", in}, "", "", "pbb-sim opens no file"},
        {"read, another file passed", {"frame", "pcap", "eth-1/0/1", in}, in, path("other.pcap"),
         "pbb-sim opens no file"},
        {"named but not passed", {"frame", "pcap", "eth-1/0/1", in}, "", in, "no descriptor came"},
        {"write, not passed", {"frame", "write", out, "--isid", "9"}, "", "", "pbb-sim opens no file"},
        {"pcap-out, not passed", {"frame", "send", "eth-1/0/1", "--isid", "9", "--pcap-out", out}, "", "",
         "pbb-sim opens no file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        plat::UniqueFd fd;
        if (!c.open.empty())
            fd.reset(::open(c.open.c_str(), O_RDONLY | O_CLOEXEC));
        plat::transport::ControlClient client;  // one request on its own connection
        std::string error;
        ASSERT_TRUE(client.connect(plat::transport::controlSocketPath(), &error, 5000)) << error;
        auto r = client.call({c.words, false, "", c.named}, 10000, &error, fd.get());
        ASSERT_TRUE(r) << error;
        EXPECT_EQ(r->status, 2) << r->err;
        EXPECT_NE((r->out + r->err).find(c.says), std::string::npos) << r->out << r->err;
        EXPECT_FALSE(std::filesystem::exists(out)) << "pbb-sim made the file itself";
    }
}

TEST_F(ControlFiles, TheInjectorRefusesFramesPastItsLimit)
{
    // A paced burst of the most frames a burst may have stays waiting. Making
    // a million frames takes a while in an unoptimised build under load.
    auto first =
        pbbtest::simctl({"frame", "burst", "eth-1/0/1", "1000000", "--isid", "5", "--rate", "1"}, false, 120000);
    ASSERT_EQ(first.status, 0) << first.err;
    auto more = pbbtest::simctl({"frame", "send", "eth-1/0/1", "--isid", "5"});
    EXPECT_EQ(more.status, 1);
    EXPECT_NE(more.err.find("would pass its limit of 1000000 frames"), std::string::npos) << more.err;
    auto stats = pbbtest::simStats();
    EXPECT_GE(stats["frames"]["waiting"].get<size_t>(), 999990u);
}

}  // namespace
