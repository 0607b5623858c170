// Replays every seed and every kept regression input of the fuzz targets through their property
// checks: a failed property aborts, which fails the test.
#include <gtest/gtest.h>

#include <string>

#include "checks.h"
#include "test_util.h"

namespace {

class FuzzReplay : public ::testing::TestWithParam<size_t> {};

TEST_P(FuzzReplay, CorpusAndRegressions) {
    const FuzzCheck &check = kFuzzChecks[GetParam()];
    // Its check keeps every input's bundle, as Core Foundation keeps bundles (and checks the rest).
    if (std::string(check.name) == "bundle_version") testutil::KeepsForProcess("a bundle for every input");
    size_t replayed = 0;
    for (const char *kind : {"corpus", "regressions"}) {
        const std::string folder = std::string(MACHINEINFO_FUZZ_DIR) + "/" + kind + "/" + check.name;
        for (const auto &name : testutil::ListFolder(folder)) {
            std::string input;
            ASSERT_TRUE(testutil::ReadFile(folder + "/" + name, &input)) << folder << "/" << name;
            SCOPED_TRACE(folder + "/" + name);
            check.check(reinterpret_cast<const uint8_t *>(input.data()), input.size());
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0u) << "no seeds for " << check.name;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::Range<size_t>(0, kFuzzCheckCount),
                         [](const ::testing::TestParamInfo<size_t> &info) {
                             return std::string(kFuzzChecks[info.param].name);
                         });

}  // namespace
