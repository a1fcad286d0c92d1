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

TEST(DebugSwitch, ClearOnlyForOperationOneAndOnlyTheMaskBits)
{
    g_uiPbbDbgFlag = PBB_DBG_ERROR;
    PBB_log_SetDebugSwitch(0, 0x6);
    PBB_log_SetDebugSwitch(1, 0x2);
    PBB_log_SetDebugSwitch(0xFFFF, 0x80000000u);
    EXPECT_EQ(PBB_log_GetDebugSwitch(), 0x80000005u);
    EXPECT_EQ(PBB_log_IsDebugSwitchOn(PBB_DBG_EVENT), 0u);
    EXPECT_EQ(PBB_log_IsDebugSwitchOn(PBB_DBG_EVENT | PBB_DBG_PKT), 1u);
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
    EXPECT_NE(lines[0].find(" pbb["), std::string::npos) << "identity shown";
    EXPECT_NE(lines[0].find("PBB_TRACE info: PBB daemon init failed, ErrCode=0x80020002."), std::string::npos);
    EXPECT_NE(lines[1].find("PBB_JOINAGG_WARNING warning: member 7 joined"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("PKT debug: B-SA: 00:1e:83:00:10:ab"), std::string::npos) << lines[2];
}

// A list is printed in pieces; every piece after the first starts with a
// line break, so that the pieces of one list read as successive lines. The
// log file drops empty lines, so only the handed texts show the break.
TEST(LogOutput, ListPiecesAfterTheFirstStartWithALineBreak)
{
    pbbtest::PlatformDirs dirs;
    plat::testing::setRecording(true);
    // Built as the daemon's tables are: flushed whenever a piece is full.
    std::string buf;
    std::vector<std::string> pieces;
    uint16_t first = 1;
    for (int row = 0; row < 300; ++row) {
        buf += "entry " + std::to_string(row) + " 00:00:00:00:00:01 10\r\n";
        if (buf.size() >= PBB_LOG_PIECE || row == 299) {
            PBB_log_LoopPrint("EVENT", buf.c_str(), &first);
            EXPECT_EQ(first, 0);
            pieces.push_back(buf);
            buf.clear();
        }
    }
    auto handed = plat::testing::callsNamed("vsyslog2");
    plat::testing::reset();
    ASSERT_GT(pieces.size(), 2u);
    ASSERT_EQ(handed.size(), pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i)
        ASSERT_EQ(std::any_cast<plat::LogRecord>(handed[i].payload).text, (i ? "\r\n" : "") + pieces[i]) << i;
    auto lines = pbbtest::grepLines(dirs.logFile(), {"EVENT debug: entry "});
    ASSERT_EQ(lines.size(), 300u);
    EXPECT_NE(lines[299].find("entry 299 "), std::string::npos);
}

}  // namespace
