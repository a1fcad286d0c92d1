// Files the platform writes: directories it (and pbb-sim) refuses,
// temporary and log files it does not create through a planted link, the
// modes it gives.
#include "platform/dbm.h"
#include "platform/service.h"
#include "platform/settings.h"
#include "platform/stub/logfile.h"
#include "platform/testing.h"
#include "support/logread.h"
#include "support/tempdir.h"
#include "tools/pbb-sim/server.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

class Files : public ::testing::Test {
protected:
    // The modes checked are what the platform asks for under the usual umask.
    void SetUp() override { umask_ = ::umask(022); }
    void TearDown() override
    {
        ::umask(umask_);
        plat::closeLogFile();
        plat::resetSettings();
        plat::testing::reset();
    }
    // The run store opened under the given state directory, the log beside it.
    uint32_t openStore(const std::string& stateDir, uint32_t* h)
    {
        plat::setStateDir(stateDir);
        plat::setLogFile(dir_.sub("pbb.log"));
        constexpr DBM_PARAM_S kRun{{1, 0, 2, 0, 0, 0, 0, 0}};
        return DBM_Open("lPBB", "pbb", 7, &kRun, h);
    }

    pbbtest::TempDir dir_;
    mode_t umask_ = 022;
};

struct DirCase {
    const char* what;
    mode_t mode;
    uid_t owner;  // 0: the process's own user
    const char* problem;  // part of the message; null when usable
};

class RunDirOwnership : public Files, public ::testing::WithParamInterface<DirCase> {};

TEST_P(RunDirOwnership, OnlyOurOwnDirectoryNobodyElseWritesIsUsed)
{
    const DirCase& c = GetParam();
    const uid_t owner = c.owner == 0 ? ::geteuid() : c.owner;
    if (owner != ::geteuid() && ::geteuid() != 0) GTEST_SKIP() << "giving a directory away needs root";
    const std::string run = dir_.sub("run");
    ASSERT_EQ(::mkdir(run.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(run.c_str(), c.mode), 0);
    ASSERT_EQ(::chown(run.c_str(), owner, static_cast<gid_t>(-1)), 0);
    plat::setRunDir(run);
    plat::setLogFile(dir_.sub("pbb.log"));

    const std::string why = plat::ensureDirProblem(run);
    const uint32_t rc = SERVICE_SetStatus(SERVICE_STATUS_READY);
    if (c.problem == nullptr) {
        EXPECT_EQ(why, "");
        EXPECT_EQ(rc, 0u);
        EXPECT_EQ(pbbtest::readText(plat::serviceStatusFile()).rfind("READY=1\n", 0), 0u);
        EXPECT_NE(pbbtest::readText(dir_.sub("pbb.log")).find("reports start-up complete"), std::string::npos);
    } else {
        EXPECT_NE(why.find(c.problem), std::string::npos) << why;
        EXPECT_NE(why.find(run), std::string::npos) << "the message names the directory: " << why;
        EXPECT_NE(rc, 0u);
        EXPECT_FALSE(std::filesystem::exists(plat::serviceStatusFile()));
        EXPECT_NE(pbbtest::readText(dir_.sub("pbb.log")).find("SERVICE err: run directory: " + why), std::string::npos)
            << pbbtest::readText(dir_.sub("pbb.log"));
        sim::SwitchModel model;
        pbbsim::Server sim(model);
        std::string simError;
        EXPECT_FALSE(sim.listen(&simError));
        EXPECT_NE(simError.find(why), std::string::npos) << "pbb-sim says why too: " << simError;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, RunDirOwnership,
    ::testing::Values(DirCase{"private", 0700, 0, nullptr}, DirCase{"group_writes", 0770, 0, nullptr},
                      DirCase{"others_write", 0777, 0, "writable by others (mode 0777)"},
                      DirCase{"others_write_sticky", 01777, 0, "writable by others (mode 1777)"},
                      DirCase{"another_owner", 0700, 65534, "belongs to uid 65534"}),
    [](const ::testing::TestParamInfo<DirCase>& i) { return std::string(i.param.what); });

// Neither the log nor the status file at its temporary name is written
// through a planted link. The log is group-readable; a missing run
// directory is created private to the group and is usable again once there.
TEST_F(Files, LogAndStatusFileAreNeverWrittenThroughALink)
{
    const std::string log = dir_.sub("pbb.log");
    plat::setLogFile(log);
    plat::writeLog(LOG_DAEMON | LOG_INFO, "pbbd", "TEST", "first line");
    plat::closeLogFile();
    EXPECT_EQ(modeOf(log) & 07777, 0640u);
    EXPECT_NE(pbbtest::readText(log).find("first line"), std::string::npos);

    const std::string victim = dir_.sub("victim");
    std::ofstream(victim) << "keep me\n";
    const std::string linked = dir_.sub("linked.log");
    ASSERT_EQ(::symlink(victim.c_str(), linked.c_str()), 0);
    plat::setLogFile(linked);
    plat::writeLog(LOG_DAEMON | LOG_INFO, "pbbd", "TEST", "must not land in the victim");
    plat::closeLogFile();

    const std::string run = dir_.sub("a/b/run");
    plat::setRunDir(run);
    EXPECT_EQ(plat::ensureDirProblem(run), "");
    EXPECT_EQ(modeOf(run) & 07777, 0750u);
    ASSERT_TRUE(plat::ensureDir(run));
    const std::string temp = plat::serviceStatusFile() + ".tmp." + std::to_string(::getpid());
    ASSERT_EQ(::symlink(victim.c_str(), temp.c_str()), 0);
    ASSERT_EQ(SERVICE_SetStatus(SERVICE_STATUS_READY), 0u);
    EXPECT_EQ(pbbtest::readText(victim), "keep me\n");
    EXPECT_EQ(pbbtest::readText(plat::serviceStatusFile()).rfind("READY=1\n", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(temp)));
}

// A store and the files beside it are readable by their owner only. A store
// is refused in a state directory others write, naming it, and is not
// created through a planted link.
TEST_F(Files, StoresAreTheOwnersAloneAndRefusedWhereOthersReachThem)
{
    uint32_t h = DBM_INVALID_HANDLE;
    ASSERT_EQ(openStore(dir_.sub("state"), &h), DBM_OK) << pbbtest::readText(dir_.sub("pbb.log"));
    const std::string store = dir_.sub("state/dbm/pbb/lPBB.db");
    for (const std::string& f : {store, store + "-wal", store + "-shm", store + ".lock"}) {
        ASSERT_TRUE(std::filesystem::exists(f)) << f;
        EXPECT_EQ(modeOf(f) & 07777, 0600u) << f;
    }
    DBM_Close(h);

    const std::string open = dir_.sub("open");
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    EXPECT_EQ(openStore(open, &h), DBM_ERR_STORE);
    EXPECT_FALSE(std::filesystem::exists(open + "/dbm"));
    plat::closeLogFile();
    const std::string log = pbbtest::readText(dir_.sub("pbb.log"));
    EXPECT_NE(log.find(open + " is writable by others (mode 0777)"), std::string::npos) << log;

    ASSERT_TRUE(plat::ensureDir(dir_.sub("linked/dbm/pbb")));
    const std::string victim = dir_.sub("victim");
    ASSERT_EQ(::symlink(victim.c_str(), dir_.sub("linked/dbm/pbb/lPBB.db").c_str()), 0);
    EXPECT_EQ(openStore(dir_.sub("linked"), &h), DBM_ERR_STORE);
    EXPECT_FALSE(std::filesystem::exists(victim));
}

}  // namespace
