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

// The other kinds of line, their tags and severities and the other
// conversions are matched where the daemon writes them (start-up failures,
// the packet socket's warning, a learned frame's dump).
TEST(LogOutput, ALineCarriesTimeIdentityTagAndSeverity)
{
    pbbtest::PlatformDirs dirs;
    PBB_log_Init();
    const unsigned char mac[6] = {0x00, 0x1e, 0x83, 0x00, 0x10, 0xab};
    PBB_log_Print("PKT", "B-SA: %M\r\n", mac);
    PBB_log_Exit();

    auto lines = pbbtest::readLines(dirs.logFile());
    ASSERT_EQ(lines.size(), 1u);
    const std::string head = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z pbb\[)" + std::to_string(::getpid()) + R"(\] )";
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(head + "PKT debug: B-SA: 00:1e:83:00:10:ab"))) << lines[0];
}

}  // namespace
