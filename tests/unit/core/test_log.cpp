// The print operations: tag, severity and the daemon's own conversions.
// The debug switches are checked through the management requests that set
// them, the pieces of a long list through the event texts printed in them.
#include "daemon/pbb_log.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <string>

namespace {

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

}  // namespace
