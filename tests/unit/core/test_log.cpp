// Debug switches and the print operations.
#include "daemon/pbb_log.h"
#include "platform/stub/log_record.h"
#include "platform/testing.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <any>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(DebugSwitch, SetAndClearOnlyTheMaskBits)
{
    g_uiPbbDbgFlag = PBB_DBG_ERROR;
    PBB_log_SetDebugSwitch(0, 0x6);
    EXPECT_EQ(PBB_log_GetDebugSwitch(), 0x7u);
    PBB_log_SetDebugSwitch(1, 0x2);
    EXPECT_EQ(PBB_log_GetDebugSwitch(), 0x5u);
    // Every operation other than 1 sets.
    PBB_log_SetDebugSwitch(2, 0x80000000u);
    PBB_log_SetDebugSwitch(0xFFFF, 0x10);
    EXPECT_EQ(PBB_log_GetDebugSwitch(), 0x80000015u);
    EXPECT_EQ(PBB_log_IsDebugSwitchOn(PBB_DBG_EVENT), 0u);
    EXPECT_EQ(PBB_log_IsDebugSwitchOn(PBB_DBG_EVENT | PBB_DBG_PKT), 1u);
    PBB_log_SetDebugSwitch(1, 0xFFFFFFFFu);
    EXPECT_EQ(PBB_log_GetDebugSwitch(), 0u);
}

TEST(LogOutput, EachKindCarriesItsTagAndSeverity)
{
    pbbtest::PlatformDirs dirs;
    PBB_log_Init();
    PBB_log_TracePrint("PBB daemon init failed, ErrCode=0x%lx.\r\n", 0x80020002ul);
    PBB_log_PrintLog(4, "PBB_JOINAGG_WARNING", "member %u joined\r\n", 7u);
    const unsigned char mac[6] = {0x00, 0x1e, 0x83, 0x00, 0x10, 0xab};
    PBB_log_Print("PKT", "B-SA: %M\r\n", mac);
    PBB_log_Exit();

    auto lines = pbbtest::readLines(dirs.logFile());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("PBB_TRACE info: PBB daemon init failed, ErrCode=0x80020002."), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("PBB_JOINAGG_WARNING warning: member 7 joined"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("PKT debug: B-SA: 00:1e:83:00:10:ab"), std::string::npos) << lines[2];
    EXPECT_NE(lines[0].find(" pbb["), std::string::npos) << "identity shown";
}

// The texts the log service was handed, in order.
std::vector<std::string> handedTexts()
{
    std::vector<std::string> out;
    for (const auto& c : plat::testing::callsNamed("vsyslog2"))
        out.push_back(std::any_cast<plat::LogRecord>(c.payload).text);
    return out;
}

// A list is printed in pieces; every piece after the first starts with a
// line break, so that the pieces of one list read as successive lines. The
// log file drops empty lines, so only the handed texts show the break.
TEST(LogOutput, ListPiecesAfterTheFirstStartWithALineBreak)
{
    pbbtest::PlatformDirs dirs;
    plat::testing::reset();
    plat::testing::setRecording(true);
    // Built as the daemon's tables are: flushed whenever a piece is full.
    std::string buf;
    std::vector<std::string> pieces;
    uint16_t first = 1;
    for (int row = 0; row < 300; ++row) {
        buf += "entry " + std::to_string(row) + " 00:00:00:00:00:01 10\r\n";
        if (buf.size() >= PBB_LOG_PIECE) {
            PBB_log_LoopPrint("EVENT", buf.c_str(), &first);
            EXPECT_EQ(first, 0);
            pieces.push_back(buf);
            buf.clear();
        }
    }
    PBB_log_LoopPrint("EVENT", buf.c_str(), &first);
    pieces.push_back(buf);
    auto texts = handedTexts();
    plat::testing::reset();

    ASSERT_GT(pieces.size(), 2u);
    ASSERT_EQ(texts.size(), pieces.size());
    EXPECT_EQ(texts[0], pieces[0]);
    for (size_t i = 1; i < texts.size(); ++i) ASSERT_EQ(texts[i], "\r\n" + pieces[i]) << "piece " << i;

    auto lines = pbbtest::grepLines(dirs.logFile(), {"EVENT debug: entry "});
    ASSERT_EQ(lines.size(), 300u);
    EXPECT_NE(lines[299].find("entry 299 "), std::string::npos);
}

}  // namespace
