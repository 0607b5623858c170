// Every test binary's main, with a listener that checks after each test that it left nothing behind:
// the stand-in's live CF objects, registry handles and master ports, the process's open descriptors
// and its heap blocks in use are as they were before it. The tests run twice: the first round fills
// what lives for the process (constant strings, the master port, the C++ runtime's and GoogleTest's
// own), the second is checked; a descriptor closed that was open before fails either round.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <sstream>
#include <string>

#include "standin_testing.h"
#include "test_util.h"

#if !defined(MACHINEINFO_SANITIZED)
// Heap blocks in use, counted by wrappers around the C library's allocator (every operator new
// reaches them too). The sanitizer build keeps its own allocator and checks the heap itself.
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *block);
}

namespace {
std::atomic<long> gHeapBlocks{0};
void *Counted(void *block) {
    if (block != nullptr) gHeapBlocks.fetch_add(1, std::memory_order_relaxed);
    return block;
}
}  // namespace

extern "C" {
void *malloc(size_t size) { return Counted(__libc_malloc(size)); }
void *calloc(size_t count, size_t size) { return Counted(__libc_calloc(count, size)); }
void *memalign(size_t alignment, size_t size) { return Counted(__libc_memalign(alignment, size)); }
void *aligned_alloc(size_t alignment, size_t size) { return Counted(__libc_memalign(alignment, size)); }
int posix_memalign(void **block, size_t alignment, size_t size) {
    *block = Counted(__libc_memalign(alignment, size));
    return *block != nullptr ? 0 : ENOMEM;
}
void *realloc(void *block, size_t size) {
    if (block == nullptr) return malloc(size);
    void *moved = __libc_realloc(block, size);
    if (moved == nullptr && size == 0) gHeapBlocks.fetch_sub(1, std::memory_order_relaxed);  // freed
    return moved;
}
void free(void *block) {
    if (block != nullptr) gHeapBlocks.fetch_sub(1, std::memory_order_relaxed);
    __libc_free(block);
}
}
long HeapBlocks() { return gHeapBlocks.load(std::memory_order_relaxed); }
#else
long HeapBlocks() { return 0; }
#endif

namespace {

const char *gKept = nullptr;  // what the running test keeps on purpose

struct Snapshot {
    long objects = 0, handles = 0, ports = 0, heapBlocks = 0;
    std::set<int> descriptors;
};

std::set<int> OpenDescriptors() {
    std::set<int> fds;
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) return fds;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] != '.') fds.insert(atoi(entry->d_name));
    }
    fds.erase(dirfd(dir));
    closedir(dir);
    return fds;
}

// The heap is counted while the same blocks of the listener's own are in use at both ends: after the
// descriptors of the start are listed, and before those of the end are.
Snapshot Take(bool atStart) {
    Snapshot s;
    s.objects = standin::LiveObjectCount();
    s.handles = standin::LiveHandleCount();
    s.ports = standin::LiveMasterPortCount();
    if (!atStart) s.heapBlocks = HeapBlocks();
    s.descriptors = OpenDescriptors();
    if (atStart) s.heapBlocks = HeapBlocks();
    return s;
}

std::string Target(int fd) {
    char target[256] = "?";
    const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
    if (n > 0) target[n] = '\0';
    return target;
}

class LeakListener : public ::testing::EmptyTestEventListener {
    void OnTestIterationStart(const ::testing::UnitTest &, int iteration) override { checking_ = iteration > 0; }
    void OnTestStart(const ::testing::TestInfo &) override {
        gKept = nullptr;
        before_ = Snapshot();  // the last test's blocks go before the count
        before_ = Take(/* atStart */ true);
    }
    void OnTestEnd(const ::testing::TestInfo &info) override {
        const Snapshot after = Take(/* atStart */ false);
        if (info.result()->Failed()) return;
        std::ostringstream left;
        // A descriptor that was open before is never closed by a test, in either round.
        for (int fd : before_.descriptors) {
            if (after.descriptors.count(fd) == 0) left << " descriptor " << fd << " closed;";
        }
        if (checking_) {
            auto compare = [&left](const char *what, long before, long now) {
                if (now != before) left << " " << what << " " << before << " -> " << now << ";";
            };
            if (gKept == nullptr) {
                compare("CF objects", before_.objects, after.objects);
                compare("heap blocks", before_.heapBlocks, after.heapBlocks);
            }
            compare("registry handles", before_.handles, after.handles);
            compare("master ports", before_.ports, after.ports);
            for (int fd : after.descriptors) {
                if (before_.descriptors.count(fd) == 0) left << " descriptor " << fd << " (" << Target(fd) << ");";
            }
        }
        if (!left.str().empty()) ADD_FAILURE() << "left behind:" << left.str();
    }
    Snapshot before_;
    bool checking_ = false;
};

}  // namespace

namespace testutil {
void KeepsForProcess(const char *what) { gKept = what; }
}  // namespace testutil

int main(int argc, char **argv) {
    // The standard descriptors are open, as in a run from a shell or a service (a test runner may
    // close them), so that code which closes one it does not own is seen doing so.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1) open("/dev/null", O_RDWR);  // takes the lowest free number
    }
    ::testing::InitGoogleTest(&argc, argv);
    // Twice, unless asked otherwise: --gtest_repeat, or MACHINEINFO_TEST_ROUNDS (1 for a quick run
    // without the second round's leak checks, as the mutation runs take).
    const char *rounds = getenv("MACHINEINFO_TEST_ROUNDS");
    if (::testing::GTEST_FLAG(repeat) == 1) ::testing::GTEST_FLAG(repeat) = rounds != nullptr ? atoi(rounds) : 2;
    ::testing::UnitTest::GetInstance()->listeners().Append(new LeakListener);
    return RUN_ALL_TESTS();
}
