// Frame building against byte layouts written out by hand, bursts, MAC text,
// and pcap files written and read back.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tools/simcmd/frames.h"

namespace {

using simcmd::Frame;

simcmd::FrameFields sample()
{
    simcmd::FrameFields f;
    f.bda = {0x00, 0x1e, 0x83, 0x00, 0x00, 0x64};
    f.bsa = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    f.bvid = 100;
    f.bpcp = 5;
    f.itagFlags = 0x40;
    f.isid = 0x0A0B0C;
    f.cda = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15};
    f.csa = {0x20, 0x21, 0x22, 0x23, 0x24, 0x25};
    f.payload = {0x08, 0x00, 0xde, 0xad};
    return f;
}

TEST(FrameBuild, LaysOutTheBackboneHeaderITagAndCustomerAddresses)
{
    Frame want = {0x00, 0x1e, 0x83, 0x00, 0x00, 0x64,   // B-DA
                  0x02, 0x00, 0x00, 0x00, 0x00, 0x01,   // B-SA
                  0x88, 0xa8, 0xa0, 0x64,               // B-Tag: PCP 5, VID 100
                  0x88, 0xe7, 0x40, 0x0a, 0x0b, 0x0c,   // I-Tag: flags, I-SID
                  0x10, 0x11, 0x12, 0x13, 0x14, 0x15,   // C-DA
                  0x20, 0x21, 0x22, 0x23, 0x24, 0x25,   // C-SA
                  0x08, 0x00, 0xde, 0xad};
    EXPECT_EQ(simcmd::buildFrame(sample()), want);
}

TEST(FrameBuild, CarriesAn8100BTagWhenAsked)
{
    auto f = sample();
    f.tpid = 0x8100;
    f.bpcp = 0;
    f.bvid = 0xFFF;
    Frame b = simcmd::buildFrame(f);
    ASSERT_GE(b.size(), 18u);
    EXPECT_EQ(b[12], 0x81);
    EXPECT_EQ(b[13], 0x00);
    EXPECT_EQ(b[14], 0x0f);
    EXPECT_EQ(b[15], 0xff);
    EXPECT_TRUE(simcmd::isPbbFrame(b));
}

TEST(FrameBuild, RecognisesOnlyITaggedFrames)
{
    Frame good = simcmd::buildFrame(sample());
    EXPECT_TRUE(simcmd::isPbbFrame(good));
    Frame wrongTpid = good;
    wrongTpid[12] = 0x91;
    EXPECT_FALSE(simcmd::isPbbFrame(wrongTpid));
    Frame wrongItag = good;
    wrongItag[17] = 0xe8;
    EXPECT_FALSE(simcmd::isPbbFrame(wrongItag));
    Frame cut(good.begin(), good.begin() + 33);   // C-SA one byte short
    EXPECT_FALSE(simcmd::isPbbFrame(cut));
}

TEST(FrameBurst, GivesEveryFrameItsOwnBsaCountingUp)
{
    auto f = sample();
    f.bsa = {0x02, 0x00, 0x00, 0x00, 0x00, 0xfe};
    auto frames = simcmd::buildBurst(f, 4);
    ASSERT_EQ(frames.size(), 4u);
    // the count carries into the next byte
    Frame::value_type want[4][6] = {{2, 0, 0, 0, 0, 0xfe}, {2, 0, 0, 0, 0, 0xff}, {2, 0, 0, 0, 1, 0}, {2, 0, 0, 0, 1, 1}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(std::equal(want[i], want[i] + 6, frames[i].begin() + 6)) << "frame " << i;
        // everything else is the same frame
        EXPECT_TRUE(std::equal(frames[0].begin() + 12, frames[0].end(), frames[i].begin() + 12));
    }
}

TEST(FrameBurst, RefusesARangePastTheLastMac)
{
    auto f = sample();
    f.bsa = {0xff, 0xff, 0xff, 0xff, 0xff, 0xfe};
    EXPECT_EQ(simcmd::buildBurst(f, 2).size(), 2u);
    EXPECT_THROW(simcmd::buildBurst(f, 3), std::invalid_argument);
}

TEST(MacText, ParsesBothSeparatorsAndRefusesTheMalformed)
{
    auto m = simcmd::parseMac("00:1E:83:0a:0B:ff");
    ASSERT_TRUE(m);
    EXPECT_EQ(*m, (sim::Mac{0x00, 0x1e, 0x83, 0x0a, 0x0b, 0xff}));
    EXPECT_EQ(simcmd::parseMac("02-00-00-00-00-01"), (sim::Mac{2, 0, 0, 0, 0, 1}));
    EXPECT_EQ(simcmd::formatMac(*m), "00:1e:83:0a:0b:ff");
    for (const char* bad : {"", "00:11:22:33:44", "00:11:22:33:44:5g", "00:11-22:33:44:55", "0011:22:33:44:55:6",
                            "00:11:22:33:44:55:66"})
        EXPECT_FALSE(simcmd::parseMac(bad)) << bad;
}

class PcapFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = std::filesystem::temp_directory_path() / ("simcmd-pcap-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string path(const char* name) const { return (dir / name).string(); }
    std::filesystem::path dir;
};

TEST_F(PcapFile, WrittenFramesReadBackInOrder)
{
    auto f = sample();
    auto frames = simcmd::buildBurst(f, 3);
    f.tpid = 0x8100;
    frames.push_back(simcmd::buildFrame(f));
    simcmd::writePcap(path("a.pcap"), frames);
    EXPECT_EQ(simcmd::readPcap(path("a.pcap")), frames);
}

TEST_F(PcapFile, HasTheClassicHeaderAndRecordLayout)
{
    Frame fr = simcmd::buildFrame(sample());
    simcmd::writePcap(path("b.pcap"), {fr});
    std::ifstream in(path("b.pcap"), std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(b.size(), 24 + 16 + fr.size());
    std::vector<uint8_t> head(b.begin(), b.begin() + 24);
    std::vector<uint8_t> want = {0xd4, 0xc3, 0xb2, 0xa1, 2, 0, 4, 0, 0, 0, 0, 0,
                                 0,    0,    0,    0,    0xff, 0xff, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(head, want);
    EXPECT_EQ(b[24 + 8], fr.size());    // captured length
    EXPECT_EQ(b[24 + 12], fr.size());   // length on the wire
    EXPECT_TRUE(std::equal(fr.begin(), fr.end(), b.begin() + 40));
}

TEST_F(PcapFile, ReadsBigEndianFiles)
{
    Frame fr = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x08, 0x00};
    std::vector<uint8_t> b = {0xa1, 0xb2, 0xc3, 0xd4, 0, 2, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 0, 1,
                              0,    0,    0,    1,    0, 0, 0, 0, 0, 0, 0, 14, 0, 0, 0, 14};
    b.insert(b.end(), fr.begin(), fr.end());
    std::ofstream(path("be.pcap"), std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                                           static_cast<std::streamsize>(b.size()));
    auto frames = simcmd::readPcap(path("be.pcap"));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], fr);
}

TEST_F(PcapFile, RefusesWhatIsNotAnEthernetPcapNamingTheFile)
{
    auto expectRefused = [&](const std::string& p, const std::string& what) {
        try {
            simcmd::readPcap(p);
            ADD_FAILURE() << "read " << p;
        } catch (const std::runtime_error& e) {
            std::string msg = e.what();
            EXPECT_NE(msg.find(p), std::string::npos) << msg;
            EXPECT_NE(msg.find(what), std::string::npos) << msg;
        }
    };
    expectRefused(path("missing.pcap"), "cannot open");
    std::ofstream(path("text.pcap")) << "hello, this is not a capture file";
    expectRefused(path("text.pcap"), "magic");

    simcmd::writePcap(path("cut.pcap"), {simcmd::buildFrame(sample())});
    std::filesystem::resize_file(path("cut.pcap"), 24 + 16 + 10);
    expectRefused(path("cut.pcap"), "record 1 is cut short");

    simcmd::writePcap(path("raw.pcap"), {});
    std::fstream f(path("raw.pcap"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(20);
    f.put(101);   // LINKTYPE_RAW
    f.close();
    expectRefused(path("raw.pcap"), "not Ethernet");
}

TEST_F(PcapFile, WriterAppendsToAnExistingCapture)
{
    auto frames = simcmd::buildBurst(sample(), 3);
    {
        simcmd::PcapWriter w(path("c.pcap"));
        w.write(frames[0]);
    }
    {
        simcmd::PcapWriter w(path("c.pcap"));
        w.write(frames[1]);
        w.write(frames[2]);
    }
    EXPECT_EQ(simcmd::readPcap(path("c.pcap")), frames);
}

TEST_F(PcapFile, WriterRefusesToAppendToAFileThatIsNotACapture)
{
    std::ofstream(path("notes.txt")) << "operator notes";
    EXPECT_THROW(simcmd::PcapWriter w(path("notes.txt")), std::runtime_error);
    std::ifstream in(path("notes.txt"));
    std::string s;
    std::getline(in, s);
    EXPECT_EQ(s, "operator notes");
}

}  // namespace
