// Debug switches and the print operations.
#include "daemon/pbb_log.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

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

TEST(LogOutput, ListPiecesComeOutAsSuccessiveLines)
{
    pbbtest::PlatformDirs dirs;
    uint16_t first = 1;
    PBB_log_LoopPrint("EVENT", "row 0\r\nrow 1\r\n", &first);
    EXPECT_EQ(first, 0);
    PBB_log_LoopPrint("EVENT", "row 2\r\n", &first);
    PBB_log_LoopPrint("EVENT", "row 3\r\n", &first);
    EXPECT_EQ(first, 0);

    auto lines = pbbtest::grepLines(dirs.logFile(), {"EVENT debug: row "});
    ASSERT_EQ(lines.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(lines[i].find("row " + std::to_string(i)), std::string::npos) << lines[i];
}

TEST(LogOutput, ListLongerThanOnePieceLosesNothing)
{
    pbbtest::PlatformDirs dirs;
    // Built as the daemon's tables are: flushed whenever 800 characters gathered.
    std::string buf;
    uint16_t first = 1;
    for (int row = 0; row < 300; ++row) {
        buf += "entry " + std::to_string(row) + " 00:00:00:00:00:01 10\r\n";
        if (buf.size() >= PBB_LOG_PIECE) {
            PBB_log_LoopPrint("EVENT", buf.c_str(), &first);
            buf.clear();
        }
    }
    if (!buf.empty()) PBB_log_LoopPrint("EVENT", buf.c_str(), &first);
    auto lines = pbbtest::grepLines(dirs.logFile(), {"EVENT debug: entry "});
    ASSERT_EQ(lines.size(), 300u);
    EXPECT_NE(lines[299].find("entry 299 "), std::string::npos);
}

}  // namespace
