// pcap files read and written by the command language without trusting
// them: both byte orders are read, only regular Ethernet captures of bounded
// size, a FIFO never blocks, a failed write is not retried, and a link left
// where the temporary file goes is never followed.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
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
    static std::string contents(const std::string& p)
    {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
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

// Every refusal names the file and says why. (Devices and directories are
// refused by the same check as the FIFO; the system tests pass them too.)
TEST_F(PcapFiles, OnlyBoundedRegularEthernetCapturesAreRead)
{
    std::ofstream(path("text.pcap")) << "hello, this is not a capture file";
    simcmd::writePcap(path("cut.pcap"), sample(1));
    std::filesystem::resize_file(path("cut.pcap"), 24 + 16 + 10);
    simcmd::writePcap(path("raw.pcap"), {});
    std::fstream(path("raw.pcap"), std::ios::in | std::ios::out | std::ios::binary).seekp(20).put(101);  // LINKTYPE_RAW
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    // Larger than a pcap may be, without taking the space.
    std::ofstream(path("huge.pcap")).close();
    std::filesystem::resize_file(path("huge.pcap"), simcmd::kPcapBytesMax + 1);
    // More records than a pcap may hold: empty ones, 16 bytes each.
    simcmd::writePcap(path("many.pcap"), {});
    std::ofstream(path("many.pcap"), std::ios::binary | std::ios::app) << std::string(16 * (simcmd::kPcapFramesMax + 1), '\0');
    const std::pair<const char*, const char*> cases[] = {
        {"missing.pcap", "cannot open"},
        {"text.pcap", "magic"},
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

TEST_F(PcapFiles, ALinkOrFileLeftAtTheTemporaryPathIsReplacedNotFollowed)
{
    const std::string target = path("out.pcap");
    const std::string victim = path("victim");
    std::ofstream(victim) << "keep me";
    struct Case {
        const char* what;
        std::function<void()> leave;
    };
    const Case cases[] = {
        {"a link to another file", [&] { std::filesystem::create_symlink(victim, target + ".tmp"); }},
        {"a link to nowhere", [&] { std::filesystem::create_symlink(path("nowhere"), target + ".tmp"); }},
        {"a stale file", [&] { std::ofstream(target + ".tmp") << "stale"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(target + ".tmp");
        c.leave();
        simcmd::writePcap(target, sample(2));
        EXPECT_EQ(simcmd::readPcap(target), sample(2));
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(target + ".tmp")));
        EXPECT_FALSE(std::filesystem::exists(path("nowhere")));
        EXPECT_EQ(contents(victim), "keep me");
    }
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

TEST(FileArguments, TheClientOpensTheFileEachCommandNames)
{
    struct Case {
        std::string line;
        std::optional<simcmd::FileArgument> file;
    };
    const Case cases[] = {
        {"frame pcap eth-1/0/1 a.pcap --rate 5", simcmd::FileArgument{"a.pcap", false}},
        {"frame pcap --rate 5 eth-1/0/1 b.pcap", simcmd::FileArgument{"b.pcap", false}},
        {"frame write w.pcap --count 3 --isid 1", simcmd::FileArgument{"w.pcap", true}},
        {"frame send 1 --isid 1 --pcap-out s.pcap", simcmd::FileArgument{"s.pcap", true}},
        {"frame burst 1 10 --isid 1 --rate 4 --pcap-out=b.pcap", simcmd::FileArgument{"b.pcap", true}},
        {"frame send 1 --isid 1", std::nullopt},
        {"frame pcap eth-1/0/1", std::nullopt},
        {"frame pcap eth-1/0/1 a.pcap --bogus 1", std::nullopt},
        {"link down eth-1/0/1", std::nullopt},
        {"show stats", std::nullopt},
    };
    for (const Case& c : cases) {
        auto got = simcmd::fileArgument(simcmd::split(c.line));
        ASSERT_EQ(got.has_value(), c.file.has_value()) << c.line;
        if (!got) continue;
        EXPECT_EQ(got->path, c.file->path) << c.line;
        EXPECT_EQ(got->write, c.file->write) << c.line;
    }
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
