// The switch-model tests' fixture: a fresh in-process switch with the call
// log on.
#pragma once

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

}  // namespace pbbtest
