#include "support/tempdir.h"

#include <gtest/gtest.h>

namespace {

// Removes what the test's death-test children left in their directory.
class DeathTestDirCleaner : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        std::error_code ec;
        std::filesystem::remove_all(pbbtest::deathTestDir(), ec);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests fork a child that runs the daemon's start-up; "threadsafe"
    // re-executes the binary so that the child starts from a clean process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    if (!pbbtest::inDeathTestChild()) ::testing::UnitTest::GetInstance()->listeners().Append(new DeathTestDirCleaner);
    return RUN_ALL_TESTS();
}
