#include "platform/log.h"
#include "platform/settings.h"
#include "platform/stub/log_record.h"
#include "platform/testing.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <any>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void logf(uint32_t pri, const char* tag, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    vsyslog2(pri, "pbb", tag, fmt, args);
    va_end(args);
}

std::vector<std::string> lines(const std::string& file)
{
    std::vector<std::string> out;
    std::ifstream in(file);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

class Log : public ::testing::Test {
protected:
    void SetUp() override { plat::setLogFile(dir.file("pbbd.log")); }
    void TearDown() override { closelog2("pbb"); }
    pbbtest::TempRunDir dir;
};

TEST_F(Log, FileLinesCarryTimeIdentityTagSeverityAndText)
{
    const unsigned char mac[6] = {1, 2, 3, 4, 5, 6};
    logf(0x100000BE, "PBB_TRACE", "Failed to create timer : Period = %lu.\r\n", 1UL);
    logf(0x0100000F, "EVENT", "%M on %s\r\n", mac, "port");
    logf(0x010000B8 | 4, "PBB_JOINAGG_WARNING", "w\r\n");
    auto got = lines(dir.file("pbbd.log"));
    ASSERT_EQ(got.size(), 3u);
    const std::string pid = std::to_string(::getpid());
    const std::string stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z )";
    EXPECT_TRUE(std::regex_match(got[0], std::regex(stamp + R"(pbb\[)" + pid +
                                                    R"(\] PBB_TRACE info: Failed to create timer : Period = 1\.)")))
        << got[0];
    EXPECT_TRUE(std::regex_match(got[1], std::regex(stamp + R"(pbb\[\d+\] EVENT debug: 01:02:03:04:05:06 on port)")))
        << got[1];
    EXPECT_TRUE(std::regex_match(got[2], std::regex(stamp + R"(pbb\[\d+\] PBB_JOINAGG_WARNING warning: w)")))
        << got[2];
}

TEST_F(Log, EachLineOfTextIsALineAndEmptyOnesAreDropped)
{
    // The daemon's list pieces: the first alone, the next ones behind "\r\n".
    logf(0x0100000F, "EVENT", "%s", "No.   B-MAC");
    logf(0x0100000F, "EVENT", "\r\n%s", "0     row one\r\n1     row two\r\n");
    logf(0x0100000F, "EVENT", "a\n\nb\r\n\r\n");
    auto got = lines(dir.file("pbbd.log"));
    std::vector<std::string> texts;
    for (const auto& l : got) texts.push_back(l.substr(l.find("debug: ") + 7));
    EXPECT_EQ(texts, (std::vector<std::string>{"No.   B-MAC", "0     row one", "1     row two", "a", "b"}));
}

TEST_F(Log, CallLogKeepsTheFormattedTextAndFaultsLoseTheLine)
{
    plat::testing::setRecording(true);
    logf(0x0100000F, "ERROR", "vsi %u: %s\r\n", 7u, "no memory");
    auto calls = plat::testing::callsNamed("vsyslog2");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, "pri=0x0100000f ident=pbb tag=ERROR text=vsi 7: no memory\r\n");
    const auto* rec = std::any_cast<plat::LogRecord>(&calls[0].payload);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->uiPriority, 0x0100000Fu);
    EXPECT_EQ(rec->tag, "ERROR");
    EXPECT_EQ(rec->text, "vsi 7: no memory\r\n");

    plat::testing::failCall("vsyslog2", 0);
    logf(0x0100000F, "ERROR", "lost\r\n");
    logf(0x0100000F, "ERROR", "kept\r\n");
    auto got = lines(dir.file("pbbd.log"));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NE(got[1].find("kept"), std::string::npos);
}

TEST_F(Log, Closelog2ClosesTheFileAndTheNextLineReopensIt)
{
    logf(0x0100000F, "EVENT", "before\r\n");
    closelog2("pbb");
    // Rotated away while closed: the next line starts a new file.
    ASSERT_EQ(std::rename(dir.file("pbbd.log").c_str(), dir.file("pbbd.log.1").c_str()), 0);
    logf(0x0100000F, "EVENT", "after\r\n");
    auto fresh = lines(dir.file("pbbd.log"));
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_NE(fresh[0].find("after"), std::string::npos);
    EXPECT_EQ(lines(dir.file("pbbd.log.1")).size(), 1u);
}

}  // namespace
