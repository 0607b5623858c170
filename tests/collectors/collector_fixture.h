// A fixture for collector tests: installs registries, and goes back to the live machine's registry
// and a working master port after each test. What the code under test obtained and did not give
// back is reported by the tests' leak listener.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "standin_testing.h"

class CollectorTest : public ::testing::Test {
  protected:
    void Install(const std::vector<standin::Service> &services) { standin::InstallRegistry(services); }
    void TearDown() override {
        standin::SetMasterPortResult(KERN_SUCCESS);
        standin::UseLiveRegistry();
    }
};
