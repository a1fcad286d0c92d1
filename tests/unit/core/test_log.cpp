// The print operations as they reach the log file: time, identity, tag,
// severity and the daemon's own conversions. The debug switches are checked
// through the management requests that set them, the pieces of a long list
// through the event texts printed in them.
#include "daemon/pbb_log.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <unistd.h>

namespace {

TEST(LogOutput, EachKindCarriesTimeIdentityTagAndSeverity)
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
    const std::string head = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z pbb\[)" + std::to_string(::getpid()) + R"(\] )";
    const char* rest[] = {"PBB_TRACE info: PBB daemon init failed, ErrCode=0x80020002\\.",
                          "PBB_JOINAGG_WARNING warning: member 7 joined", "PKT debug: B-SA: 00:1e:83:00:10:ab"};
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(std::regex_match(lines[i], std::regex(head + rest[i]))) << lines[i];
}

}  // namespace
