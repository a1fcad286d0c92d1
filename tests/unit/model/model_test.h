// Helpers of the switch-model tests: a fresh in-process switch with the
// call log on, and descriptor state checks.
#pragma once

#include <poll.h>

#include <gtest/gtest.h>

#include "platform/model/inproc.h"
#include "platform/testing.h"

namespace pbbtest {

class ModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::testing::reset();
        plat::testing::setRecording(true);
        sw = &plat::inproc::reset();
    }
    void TearDown() override
    {
        plat::inproc::reset();
        plat::testing::reset();
    }

    sim::SwitchModel* sw = nullptr;
};

// The poll events a descriptor reports now. The in-process services write
// to their descriptors before the model call returns, so no wait is needed.
inline short readyNow(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 ? p.revents : 0;
}

inline bool readable(int fd) { return (readyNow(fd) & POLLIN) != 0; }

}  // namespace pbbtest
