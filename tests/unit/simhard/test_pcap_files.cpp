// pcap files read and written by the command language without trusting
// them: only regular files of bounded size are read, a FIFO never blocks,
// and a link left where the temporary file goes is never followed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST_F(PcapFiles, OnlyBoundedRegularFilesAreRead)
{
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    // Larger than a pcap may be, without taking the space.
    std::ofstream(path("huge.pcap")).close();
    std::filesystem::resize_file(path("huge.pcap"), simcmd::kPcapBytesMax + 1);
    // More records than a pcap may hold: empty ones, 16 bytes each.
    {
        simcmd::writePcap(path("many.pcap"), {});
        std::ofstream out(path("many.pcap"), std::ios::binary | std::ios::app);
        std::string empty(16, '\0');
        for (size_t i = 0; i <= simcmd::kPcapFramesMax; ++i) out << empty;
    }
    struct Case {
        std::string path;
        const char* says;
    };
    const Case cases[] = {
        {"/dev/zero", "not a regular file"},
        {path("fifo"), "not a regular file"},  // no writer: opening must not wait for one
        {dir.path(), "not a regular file"},
        {path("huge.pcap"), "larger than 134217728 bytes"},
        {path("many.pcap"), "more than 1000000 frames"},
    };
    for (const Case& c : cases) {
        std::string said = refusal(c.path);
        EXPECT_NE(said.find(c.says), std::string::npos) << c.path << ": " << said;
        EXPECT_NE(said.find(c.path), std::string::npos) << said;
    }
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
