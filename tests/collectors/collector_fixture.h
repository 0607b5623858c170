// A fixture for collector tests: installs a registry and checks, at the end, that every CF object,
// registry handle and master port the code under test obtained was given back.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "standin_testing.h"

class CollectorTest : public ::testing::Test {
  protected:
    void Install(const std::vector<standin::Service> &services) {
        standin::InstallRegistry(services);
        objects_ = standin::LiveObjectCount();
        handles_ = standin::LiveHandleCount();
        ports_ = standin::LiveMasterPortCount();
    }
    void SetUp() override { Install({}); }
    void TearDown() override {
        EXPECT_EQ(standin::LiveObjectCount(), objects_) << "CF objects leaked";
        EXPECT_EQ(standin::LiveHandleCount(), handles_) << "registry handles leaked";
        EXPECT_LE(standin::LiveMasterPortCount(), ports_ + 1) << "master ports leaked";
        standin::SetMasterPortResult(KERN_SUCCESS);
        standin::UseLiveRegistry();
    }

  private:
    long objects_ = 0, handles_ = 0, ports_ = 0;
};
