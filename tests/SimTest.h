// The fixtures of the tests that run on the simulated bus.
#pragma once

#include <gtest/gtest.h>

#include "sim/SimWorld.h"

// Every test starts on an empty bus at virtual time 0.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override { sim::World::Get().Reset(); }
    void TearDown() override { sim::World::Get().Reset(); }
    sim::World& world = sim::World::Get();
};

// A test of whole commands: besides, no device handle outlives its command.
class CommandTest : public SimTest {
protected:
    void TearDown() override {
        EXPECT_EQ(world.liveHandles, 0) << "a device handle outlived its command";
        SimTest::TearDown();
    }
};
