// Readiness is reported only for a start-up the switch served.
#include "platform/service.h"
#include "platform/settings.h"
#include "platform/stub/logfile.h"
#include "platform/testing.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

namespace {

std::string g_problem;
std::string currentProblem() { return g_problem; }

// The death test's child writes where the parent looks: the directory the
// parent and its death-test children share, removed when the test ends.
std::string sharedDir() { return (pbbtest::deathTestDir() / "readiness").string(); }

void failStartupInChild()
{
    const std::string dir = sharedDir();
    plat::setRunDir(dir + "/run");
    plat::setLogFile(dir + "/pbb.log");
    g_problem = "the simulated switch at /x/sim.sock refused this process: pbb-sim serves another daemon (pid 42)";
    plat::setReadinessCheck(&currentProblem);
    (void)SERVICE_SetStatus(SERVICE_STATUS_READY);
}

TEST(Readiness, StartUpWithoutTheSwitchEndsTheProcessInsteadOfReportingReady)
{
    const std::string dir = sharedDir();
    std::filesystem::create_directories(dir);
    EXPECT_EXIT(failStartupInChild(), ::testing::ExitedWithCode(plat::SERVICE_STARTUP_FAILED_EXIT), "");
    const std::string log = pbbtest::readText(dir + "/pbb.log");
    EXPECT_NE(log.find("SERVICE err: pid "), std::string::npos) << log;
    EXPECT_NE(log.find("start-up failed, not reporting readiness: the switch did not serve it (the simulated switch "
                       "at /x/sim.sock refused this process: pbb-sim serves another daemon (pid 42)); exiting"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("start-up complete"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(dir + "/run/pbbd.status"));
}

}  // namespace
