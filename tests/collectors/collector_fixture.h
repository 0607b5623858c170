// A fixture for collector tests: installs registries and checks that every CF object, registry handle
// and master port the code under test obtained was given back, after each case of a table as well as
// at the end. The check first empties the registry, so that an object the code kept a reference to
// outlives it and shows; the baseline is taken once per test, with the registry empty.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "standin_testing.h"

class CollectorTest : public ::testing::Test {
  protected:
    void Install(const std::vector<standin::Service> &services) {
        ExpectNothingLeaked();
        standin::InstallRegistry(services);
    }
    void ExpectNothingLeaked() {
        standin::InstallRegistry({});
        EXPECT_EQ(standin::LiveObjectCount(), objects_)
            << "CF objects leaked (checked before each install and at the end)";
        EXPECT_EQ(standin::LiveHandleCount(), handles_) << "registry handles leaked";
        EXPECT_LE(standin::LiveMasterPortCount(), ports_ + 1) << "master ports leaked";
    }
    void SetUp() override {
        standin::InstallRegistry({});
        objects_ = standin::LiveObjectCount();
        handles_ = standin::LiveHandleCount();
        ports_ = standin::LiveMasterPortCount();
    }
    void TearDown() override {
        ExpectNothingLeaked();
        standin::SetMasterPortResult(KERN_SUCCESS);
        standin::UseLiveRegistry();
    }

  private:
    long objects_ = 0, handles_ = 0, ports_ = 0;
};
