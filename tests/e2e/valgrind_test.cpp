// The real tool under valgrind memcheck: no memory errors and no lost memory, to standard output, to
// a named file and to the default path. Valgrind cannot follow the allocator of a static executable,
// so it runs the dynamically linked twin of the same sources.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace {

TEST(Valgrind, NoErrorsNoLeaks) {
#ifdef MACHINEINFO_SANITIZED
    GTEST_SKIP() << "the sanitizer build checks memory itself; valgrind cannot run it";
#endif
    if (MACHINEINFO_CROSS_BUILD) GTEST_SKIP() << "valgrind runs programs of its own architecture only";
    if (access("/usr/bin/valgrind", X_OK) != 0) GTEST_SKIP() << "needs valgrind";
    testutil::TempDir dir;
    // Standard output, a named file, and no argument (the default path).
    for (const std::string &destination : {std::string("-"), dir / "out.xml", std::string()}) {
        std::vector<std::string> argv = {"/usr/bin/valgrind",
                                         "--quiet",
                                         "--error-exitcode=99",
                                         "--leak-check=full",
                                         "--show-leak-kinds=definite,indirect",
                                         "--errors-for-leak-kinds=definite,indirect",
                                         MACHINEINFO_DYNAMIC_BINARY};
        if (!destination.empty()) argv.push_back(destination);
        testutil::RunResult r = testutil::Run(argv);
        EXPECT_EQ(r.status, 0) << destination << "\n" << r.stdErr;
        EXPECT_EQ(r.stdErr, "") << destination;
    }
    unlink("/tmp/inventory.xml");
}

}  // namespace
