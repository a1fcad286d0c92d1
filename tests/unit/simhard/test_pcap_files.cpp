// pcap files read and written by the command language without trusting
// them: both byte orders are read, only regular Ethernet captures of
// bounded size, a FIFO never blocks, a failed write is not retried, and a
// link left where the temporary file goes is never followed.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/model/unique_fd.h"
#include "support/tempdir.h"
#include "tools/simcmd/frames.h"
#include "tools/simcmd/simcmd.h"

namespace {

class PcapFiles : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return dir.sub(name); }
    static std::vector<simcmd::Frame> sample(uint32_t count)
    {
        simcmd::FrameFields f;
        f.isid = 5;
        f.payload.assign(46, 0);
        return simcmd::buildBurst(f, count);
    }

    pbbtest::TempDir dir;
};

std::string refusal(const std::string& p)
{
    try {
        simcmd::readPcap(p);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(read)";
}

TEST_F(PcapFiles, BigEndianFilesAreRead)
{
    simcmd::Frame fr = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x08, 0x00};
    std::vector<uint8_t> b = {0xa1, 0xb2, 0xc3, 0xd4, 0, 2, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 0, 1,
                              0,    0,    0,    1,    0, 0, 0, 0, 0, 0, 0, 14, 0, 0, 0, 14};
    b.insert(b.end(), fr.begin(), fr.end());
    std::ofstream(path("be.pcap"), std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    EXPECT_EQ(simcmd::readPcap(path("be.pcap")), std::vector<simcmd::Frame>{fr});
}

// Every refusal names the file and says why. (A text file is refused in the
// system tests.)
TEST_F(PcapFiles, OnlyBoundedRegularEthernetCapturesAreRead)
{
    simcmd::writePcap(path("cut.pcap"), sample(1));
    std::filesystem::resize_file(path("cut.pcap"), 24 + 16 + 10);
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    simcmd::writePcap(path("raw.pcap"), {});
    std::fstream(path("raw.pcap"), std::ios::in | std::ios::out | std::ios::binary).seekp(20).put(101);  // LINKTYPE_RAW
    // Larger than a pcap may be, without taking the space.
    std::ofstream(path("huge.pcap")).close();
    std::filesystem::resize_file(path("huge.pcap"), simcmd::kPcapBytesMax + 1);
    // More records than a pcap may hold: empty ones, 16 bytes each.
    simcmd::writePcap(path("many.pcap"), {});
    std::ofstream(path("many.pcap"), std::ios::binary | std::ios::app) << std::string(16 * (simcmd::kPcapFramesMax + 1), '\0');
    const std::pair<const char*, const char*> cases[] = {
        {"cut.pcap", "record 1 is cut short"},
        {"raw.pcap", "not Ethernet"},
        {"fifo", "not a regular file"},  // no writer: opening must not wait for one
        {"huge.pcap", "larger than 134217728 bytes"},
        {"many.pcap", "more than 1000000 frames"},
    };
    for (const auto& [name, says] : cases) {
        std::string said = refusal(path(name));
        EXPECT_NE(said.find(says), std::string::npos) << name << ": " << said;
        EXPECT_NE(said.find(path(name)), std::string::npos) << said;
    }
}

TEST_F(PcapFiles, AFailedWriteIsReportedNotRetried)
{
    // A file size limit makes the second write fail (EFBIG) once the first
    // has filled it; the writer must give up, not retry.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(simcmd::writePcap(path("big.pcap"), sample(1)), std::runtime_error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_DFL);
}

// Written in process (pbb-simctl opens the file of a running simulator
// itself): a link left where the temporary file goes is replaced.
TEST_F(PcapFiles, ALinkLeftAtTheTemporaryPathIsNotFollowed)
{
    std::ofstream(path("victim")) << "keep me";
    std::filesystem::create_symlink(path("victim"), path("out.pcap") + ".tmp");
    simcmd::writePcap(path("out.pcap"), sample(2));
    EXPECT_EQ(simcmd::readPcap(path("out.pcap")), sample(2));
    EXPECT_EQ(std::filesystem::file_size(path("victim")), 7u);
}

TEST_F(PcapFiles, WritingThroughADescriptorReplacesTheContentsOfARegularFileOnly)
{
    std::ofstream(path("old.pcap")) << std::string(10000, 'x');
    {
        plat::UniqueFd fd(::open(path("old.pcap").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
        simcmd::writePcap(fd.get(), "old.pcap", sample(3));
    }
    EXPECT_EQ(simcmd::readPcap(path("old.pcap")), sample(3));
    for (auto [p, flags] : {std::pair{std::string("/dev/null"), O_WRONLY}, {path("old.pcap"), O_RDONLY}}) {
        plat::UniqueFd fd(::open(p.c_str(), flags | O_CLOEXEC));
        EXPECT_THROW(simcmd::writePcap(fd.get(), p, sample(1)), std::runtime_error) << p;
    }
    EXPECT_EQ(simcmd::readPcap(path("old.pcap")), sample(3));
}

TEST_F(PcapFiles, ABurstLargerThanItsLimitIsRefusedBeforeItIsBuilt)
{
    sim::SwitchModel model;
    ASSERT_EQ(simcmd::loadTopology(model, simcmd::defaultTopology(), "default").status, 0);
    // 20,000 frames of 30,000 bytes: 600 MB.
    std::string payload(60000, 'a');
    auto o = simcmd::run(model, nullptr,
                         {"frame", "write", path("big.pcap"), "--count", "20000", "--isid", "1", "--payload", payload},
                         false);
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("a burst holds at most 134217728"), std::string::npos) << o.err;
    EXPECT_FALSE(std::filesystem::exists(path("big.pcap")));
}

}  // namespace
