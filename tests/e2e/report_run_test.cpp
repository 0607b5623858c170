// The built tool end to end: the document's lines, its validity, destinations and exit statuses.
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "inventory/captured_text.h"
#include "standin_testing.h"
#include "test_util.h"

namespace {

using testutil::ReadFile;
testutil::RunResult RunTool(const std::vector<std::string> &argv) { return testutil::Run(argv); }
using testutil::RunResult;
using testutil::TempDir;
using testutil::WriteFile;

const char kDefault[] = "/tmp/inventory.xml";

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(text.substr(start, nl - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));  // an unterminated last line
    return lines;
}

// name -> value of every setting line, in order.
std::vector<std::pair<std::string, std::string>> Settings(const std::string &document) {
    static const std::regex kLine("<QX:setting name=\"([A-Za-z0-9]+)\" value=\"([^\"<]*)\" />");
    std::vector<std::pair<std::string, std::string>> settings;
    for (const auto &line : Lines(document)) {
        std::smatch m;
        if (std::regex_match(line, m, kLine)) settings.emplace_back(m[1], m[2]);
    }
    return settings;
}

std::string ExpectedComputerName() {
    std::string text, name;
    if (ReadFile("/etc/machine-info", &text)) name = standin::ParsePrettyHostname(text);
    if (name.empty()) {
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        name = host;
    }
    char escaped[64];
    EscapeCopy(escaped, sizeof escaped, name.c_str());
    return escaped;
}

void ExpectCompleteDocument(const std::string &document) {
    const auto lines = Lines(document);
    ASSERT_EQ(lines.size(), 38u) << document;
    EXPECT_EQ(document.back(), '\n');
    EXPECT_EQ(lines[0], "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>");
    EXPECT_EQ(lines[1], "<QX:data version=\"1.11\" xmlns:QX=\"http://schemas.machineinfo.example/movrel/quorvane\">");
    EXPECT_EQ(lines[2], "<QX:section name=\"MachineInfo\">");
    EXPECT_EQ(lines[36], "</QX:section>");
    EXPECT_EQ(lines[37], "</QX:data>");
    const auto settings = Settings(document);
    ASSERT_EQ(settings.size(), 33u);
    std::string message;
    EXPECT_TRUE(testutil::ValidatesAgainstSchema(document, &message)) << message;
}

TEST(ReportRun, StandardOutputDocument) {
    RunResult r = RunTool({MACHINEINFO_BINARY, "-"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.stdErr, "");
    ExpectCompleteDocument(r.stdOut);
    const auto settings = Settings(r.stdOut);
    ASSERT_EQ(settings.size(), 33u);
    EXPECT_EQ(settings[0].first, "ComputerMakeWMI");
    EXPECT_EQ(settings[16].first, "ComputerName");
    EXPECT_EQ(settings[16].second, ExpectedComputerName());
    EXPECT_EQ(settings[31], std::make_pair(std::string("InventoryVersion"), std::string("1.11")));
    for (int row : {7, 8, 9, 10, 11, 29, 30, 32}) EXPECT_EQ(settings[row].second, "") << settings[row].first;
    // The twins carry the same values.
    for (int row = 0; row < 3; ++row) EXPECT_EQ(settings[row].second, settings[row + 3].second);
    for (int n = 0; n < 4; ++n) {
        EXPECT_TRUE(std::regex_match(settings[18 + 3 * n].second, std::regex("[0-9a-f]{12}")));
        EXPECT_TRUE(std::regex_match(settings[19 + 3 * n].second, std::regex("[0-9]{1,3}(\\.[0-9]{1,3}){3}")));
    }
}

// The tool under test is an executable of this test program's own architecture, so a cross build
// tests the cross-built tool: position-independent, and without an interpreter when linked statically.
TEST(ReportRun, ToolIsBuiltForThisArchitecture) {
#if defined(__aarch64__)
    const Elf64_Half machine = EM_AARCH64;
#elif defined(__x86_64__)
    const Elf64_Half machine = EM_X86_64;
#else
    GTEST_SKIP() << "no architecture to compare with";
    const Elf64_Half machine = EM_NONE;
#endif
    std::string elf;
    ASSERT_TRUE(ReadFile(MACHINEINFO_BINARY, &elf));
    Elf64_Ehdr header;
    ASSERT_GE(elf.size(), sizeof header);
    memcpy(&header, elf.data(), sizeof header);
    ASSERT_EQ(memcmp(header.e_ident, ELFMAG, SELFMAG), 0);
    EXPECT_EQ(header.e_ident[EI_CLASS], ELFCLASS64);
    EXPECT_EQ(header.e_machine, machine);
    EXPECT_EQ(header.e_type, ET_DYN);
    bool interpreter = false;
    for (Elf64_Half i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr program;
        const size_t at = header.e_phoff + static_cast<size_t>(i) * header.e_phentsize;
        ASSERT_LE(at + sizeof program, elf.size());
        memcpy(&program, elf.data() + at, sizeof program);
        if (program.p_type == PT_INTERP) interpreter = true;
    }
    EXPECT_EQ(interpreter, !MACHINEINFO_STATIC_BUILD);
}

TEST(ReportRun, AnyDashArgumentMeansStandardOutput) {
    for (const char *arg : {"-anything", "--", "-o", "-/tmp/x"}) {
        RunResult r = RunTool({MACHINEINFO_BINARY, arg, "ignored"});
        EXPECT_EQ(r.status, 0) << arg;
        EXPECT_EQ(Lines(r.stdOut).size(), 38u) << arg;
    }
}

TEST(ReportRun, NamedFileAndExtraArgumentsIgnored) {
    // Also with standard input closed, as some schedulers start a job: the temporary file, or a file
    // with a second link that is written in place, then takes descriptor 0, a descriptor like any other.
    for (const char *script : {"exec \"$0\" \"$1\" \"$2\"", "exec \"$0\" \"$1\" \"$2\" <&-"}) {
        for (const bool linked : {false, true}) {
            TempDir dir;
            if (linked) {
                ASSERT_TRUE(WriteFile(dir / "out.xml", "earlier"));
                ASSERT_EQ(link((dir / "out.xml").c_str(), (dir / "link.xml").c_str()), 0);
            }
            RunResult r = RunTool({"/bin/sh", "-c", script, MACHINEINFO_BINARY, dir / "out.xml", dir / "second.xml"});
            EXPECT_EQ(r.status, 0) << script << (linked ? ", a second link" : "");
            EXPECT_EQ(r.stdOut, "");
            std::string doc;
            ASSERT_TRUE(ReadFile(dir / (linked ? "link.xml" : "out.xml"), &doc)) << script;
            ExpectCompleteDocument(doc);
            EXPECT_EQ(testutil::ListFolder(dir.path()).size(), linked ? 2u : 1u) << script;
        }
    }
}

TEST(ReportRun, UnopenableDestinationsGiveStatusTwo) {
    TempDir dir;
    for (const std::string &dest : {dir.path(), dir / "missing/out.xml", std::string()}) {
        RunResult r = RunTool({MACHINEINFO_BINARY, dest});
        EXPECT_EQ(r.status, 2) << dest;
        EXPECT_EQ(r.stdOut, "") << dest;
        EXPECT_EQ(r.stdErr, "") << dest;
    }
    EXPECT_TRUE(testutil::ListFolder(dir.path()).empty());
}

TEST(ReportRun, WriteFailureIsReported) {
    RunResult r = RunTool({MACHINEINFO_BINARY, "/dev/full"});
    EXPECT_EQ(r.status, 2);
    // Standard output that cannot be written is a failure too.
    r = RunTool({"/bin/sh", "-c", "exec \"$0\" - > /dev/full", MACHINEINFO_BINARY});
    EXPECT_EQ(r.status, 2);
}

struct LimitCase {
    const char *what;
    const char *script;   // run with the tool as $0 and the destination as $1
    const char *earlier;  // the destination's text before the run, or null for none
    const char *after;    // its text after, or null for none
};

// A file-size limit makes the write fail after the open succeeded: the tool ends with status 2 (not
// killed by SIGXFSZ), the earlier document stays, and no temporary file is left.
TEST(ReportRun, FileSizeLimitsGiveStatusTwo) {
    const LimitCase cases[] = {
        {"no room at all, a new file", "ulimit -f 0; exec \"$0\" \"$1\"", nullptr, nullptr},
        {"one block, an earlier document", "ulimit -f 1; exec \"$0\" \"$1\"", "earlier", "earlier"},
        {"standard output to a file", "ulimit -f 1; exec \"$0\" - > \"$1\"", nullptr, nullptr},
    };
    for (const auto &c : cases) {
        TempDir dir;
        const std::string out = dir / "out.xml";
        if (c.earlier != nullptr) {
            ASSERT_TRUE(WriteFile(out, c.earlier));
        }
        RunResult r = RunTool({"/bin/sh", "-c", c.script, MACHINEINFO_BINARY, out});
        EXPECT_EQ(r.status, 2) << c.what << ": -1 is a death by signal";
        std::string text;
        const bool exists = ReadFile(out, &text);
        if (c.after != nullptr) {
            EXPECT_EQ(text, c.after) << c.what;
        } else if (std::string(c.script).find(" - ") == std::string::npos) {
            EXPECT_FALSE(exists) << c.what;
        }
        const std::vector<std::string> left = testutil::ListFolder(dir.path());
        EXPECT_LE(left.size(), 1u) << c.what;
    }
}

bool CanUnshareMount() {
    if (geteuid() != 0 || access("/usr/bin/unshare", X_OK) != 0) return false;
    return testutil::Run({"/usr/bin/unshare", "-m", "/bin/true"}).status == 0;
}

// A signal that ends a run from outside (a service stopped, a terminal closed or interrupted) while
// the document is being written removes the temporary file; the process still dies of that signal,
// and the earlier document stays. The run is held inside the capture by a disk whose serial file is
// a FIFO that nobody writes (a /sys/block of its own, in a private mount namespace).
TEST(ReportRun, EndingSignalsRemoveTheTemporaryFile) {
    if (!CanUnshareMount()) GTEST_SKIP() << "needs root and unshare -m for a /sys/block of its own";
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        TempDir dir;
        const std::string out = dir / "out.xml";
        ASSERT_TRUE(WriteFile(out, "earlier"));
        const char *script =
            "mount -t tmpfs none /sys/block && mkdir /sys/block/sda && mkfifo /sys/block/sda/serial && "
            "exec \"$0\" \"$1\"";
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            signal(SIGINT, SIG_DFL);
            execl("/usr/bin/unshare", "unshare", "-m", "/bin/sh", "-c", script, MACHINEINFO_BINARY, out.c_str(),
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        bool writing = false;  // the temporary file is there: the run is past its open
        for (int waited = 0; waited < 1000 && !writing; ++waited) {
            for (const std::string &name : testutil::ListFolder(dir.path())) writing = writing || name != "out.xml";
            if (!writing) usleep(10000);
        }
        EXPECT_TRUE(writing) << "the run never created its temporary file";
        kill(child, signalNumber);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber)
            << strsignal(signalNumber) << " " << status;
        EXPECT_EQ(testutil::ListFolder(dir.path()), std::vector<std::string>{"out.xml"}) << strsignal(signalNumber);
        std::string text;
        ReadFile(out, &text);
        EXPECT_EQ(text, "earlier") << strsignal(signalNumber);
    }
}

// A destination that is a mount point (a file bound in, as a container is handed one) cannot be
// replaced by a rename; it is written in place, as opening it would.
TEST(ReportRun, MountedFileIsWrittenInPlace) {
    if (!CanUnshareMount()) GTEST_SKIP() << "needs root and unshare -m to bind a file";
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "host.xml", "earlier"));
    ASSERT_TRUE(WriteFile(dir / "mounted.xml", "the mount point"));
    RunResult r =
        RunTool({"/usr/bin/unshare", "-m", "/bin/sh", "-c", "mount --bind \"$1\" \"$2\" && exec \"$0\" \"$2\"",
                 MACHINEINFO_BINARY, dir / "host.xml", dir / "mounted.xml"});
    EXPECT_EQ(r.status, 0) << r.stdErr;
    std::string text;
    ASSERT_TRUE(ReadFile(dir / "host.xml", &text));
    ExpectCompleteDocument(text);
    ReadFile(dir / "mounted.xml", &text);
    EXPECT_EQ(text, "the mount point");
    EXPECT_EQ(testutil::ListFolder(dir.path()), (std::vector<std::string>{"host.xml", "mounted.xml"}));
}

// Runs that overlap on one destination each replace it whole: a reader never finds it empty or cut,
// and every run succeeds.
TEST(ReportRun, OverlappingRunsReplaceTheDocumentWhole) {
    TempDir dir;
    const std::string out = dir / "out.xml";
    ASSERT_EQ(RunTool({MACHINEINFO_BINARY, out}).status, 0);
    std::atomic<bool> done(false);
    std::atomic<int> reads(0), torn(0);
    std::thread reader([&] {
        while (!done) {
            std::string text;
            if (ReadFile(out, &text)) {
                ++reads;
                if (Lines(text).size() != 38 || text.back() != '\n') ++torn;
            }
        }
    });
    const char *script =
        "failed=0; for round in 1 2 3 4 5 6; do pids=; for run in 1 2 3 4 5 6 7 8; do \"$0\" \"$1\" & "
        "pids=\"$pids $!\"; done; for pid in $pids; do wait $pid || failed=1; done; done; exit $failed";
    RunResult r = RunTool({"/bin/sh", "-c", script, MACHINEINFO_BINARY, out});
    done = true;
    reader.join();
    EXPECT_EQ(r.status, 0) << "a run failed";
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(torn.load(), 0) << "reads that found the document empty or cut, of " << reads.load();
    EXPECT_EQ(testutil::ListFolder(dir.path()), std::vector<std::string>{"out.xml"});
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    size_t start = s.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : s.substr(start);
}

std::string Escaped(const std::string &s) {
    char out[64];
    EscapeCopy(out, sizeof out, s.c_str());
    return out;
}

TEST(ReportRun, LiveMachineIdentityAndDisks) {
    // What the kernel exposes: the DMI product name, and the serials of the block devices that have a
    // device behind them (virtual devices such as loop and zram have none) and are not removable. Their
    // order is the fake trees' business; here the rows must be serials of those disks, the non-NVMe
    // ones first, and all of them when the machine has four or fewer.
    std::string model, make;
    if (ReadFile("/sys/class/dmi/id/product_name", &model)) model = Escaped(Trimmed(model));
    if (ReadFile("/sys/class/dmi/id/sys_vendor", &make)) {
        make = Escaped(Trimmed(make));
    } else if (ReadFile("/sys/firmware/devicetree/base/compatible", &make)) {
        const std::string first = make.substr(0, make.find('\0'));
        make = first.find(',') == std::string::npos ? "" : Escaped(first.substr(0, first.find(',')));
    }
    std::map<std::string, bool> disks;  // serial -> on an NVMe disk
    for (const auto &name : testutil::ListFolder("/sys/block")) {
        struct stat info;
        std::string serial, removable;
        if (stat(("/sys/block/" + name + "/device").c_str(), &info) != 0) continue;
        if (ReadFile("/sys/block/" + name + "/removable", &removable) && Trimmed(removable) == "1") continue;
        if (!ReadFile("/sys/block/" + name + "/serial", &serial) || Trimmed(serial).empty()) {
            ReadFile("/sys/block/" + name + "/device/serial", &serial);
        }
        if (!Trimmed(serial).empty()) disks[Escaped(Trimmed(serial))] = name.compare(0, 4, "nvme") == 0;
    }

    RunResult r = RunTool({MACHINEINFO_BINARY, "-"});
    ASSERT_EQ(r.status, 0);
    const auto settings = Settings(r.stdOut);
    ASSERT_EQ(settings.size(), 33u);
    EXPECT_EQ(settings[0].second, make);
    EXPECT_EQ(settings[3].second, make);
    EXPECT_EQ(settings[1].second, model);
    EXPECT_EQ(settings[4].second, model);
    std::set<std::string> rows;
    bool nvmeSeen = false;
    for (int n = 0; n < 4; ++n) {
        const std::string &row = settings[12 + n].second;
        if (row.empty()) continue;
        ASSERT_EQ(disks.count(row), 1u) << row << " is no serial of this machine's disks";
        EXPECT_TRUE(disks[row] || !nvmeSeen) << row << " after an NVMe disk";
        nvmeSeen = nvmeSeen || disks[row];
        rows.insert(row);
    }
    EXPECT_EQ(rows.size(), std::min<size_t>(disks.size(), 4)) << "every disk with a serial, up to four";
}

// The default destination, in a /tmp of each test's own (a private mount namespace): the machine's
// /tmp, and a document a scheduled job wrote there, are never touched, and no file another run left
// there matters. Whatever the run did, /tmp holds afterwards what it held before.
class DefaultDestination : public ::testing::Test {
  protected:
    void SetUp() override {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            GTEST_SKIP() << "needs root and a private mount namespace for a /tmp of its own";
        }
        // The machine's /tmp as this namespace sees it, before the private one covers it.
        const int machineTmp = open("/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC);  // owned: closed below
        const bool made =
            machineTmp >= 0 && mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") == 0 && KeepTrees(machineTmp);
        if (machineTmp >= 0) close(machineTmp);
        ASSERT_TRUE(made) << "no private /tmp with the build and source trees in it: " << strerror(errno);
        before_ = testutil::ListFolder("/tmp");
    }
    // The build and source trees stay where they are when they lie in the machine's /tmp: their
    // folders there are bound into the private one.
    static bool KeepTrees(int machineTmp) {
        for (const std::string path : {MACHINEINFO_BINARY, MACHINEINFO_SCHEMA}) {
            if (path.compare(0, 5, "/tmp/") != 0) continue;
            const std::string top = path.substr(5, path.find('/', 5) - 5);
            const std::string from = "/proc/self/fd/" + std::to_string(machineTmp) + "/" + top, to = "/tmp/" + top;
            if ((mkdir(to.c_str(), 0755) != 0 && errno != EEXIST) ||
                mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
                return false;
            }
        }
        return true;
    }
    void TearDown() override {
        if (IsSkipped()) return;
        if (unlink(kDefault) != 0) rmdir(kDefault);
        EXPECT_EQ(testutil::ListFolder("/tmp"), before_) << "left in /tmp";
    }
    std::vector<std::string> before_;
};

TEST_F(DefaultDestination, NoArgumentReplacesTheDefaultFile) {
    ASSERT_TRUE(WriteFile(kDefault, "earlier document"));
    RunResult r = RunTool({MACHINEINFO_BINARY});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.stdOut, "");
    std::string doc;
    ASSERT_TRUE(ReadFile(kDefault, &doc));
    ExpectCompleteDocument(doc);
}

TEST_F(DefaultDestination, SymbolicLinkIsNotWrittenThrough) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "victim", "precious"));
    ASSERT_EQ(symlink((dir / "victim").c_str(), kDefault), 0);
    RunResult r = RunTool({MACHINEINFO_BINARY});
    EXPECT_EQ(r.status, 0);
    std::string text;
    ReadFile(dir / "victim", &text);
    EXPECT_EQ(text, "precious");
    struct stat info;
    ASSERT_EQ(lstat(kDefault, &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
}

TEST_F(DefaultDestination, HardLinkedFileIsNotWrittenInto) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "victim", "precious"));
    ASSERT_EQ(link((dir / "victim").c_str(), kDefault), 0) << "needs /tmp and the temp folder on one filesystem";
    RunResult r = RunTool({MACHINEINFO_BINARY});
    EXPECT_EQ(r.status, 0);
    std::string text;
    ReadFile(dir / "victim", &text);
    EXPECT_EQ(text, "precious");
    ReadFile(kDefault, &text);
    EXPECT_EQ(Lines(text).size(), 38u);
}

TEST_F(DefaultDestination, FifoIsReplacedNotOpened) {
    // Opening a planted FIFO would block the run until someone reads it; the rename replaces it.
    ASSERT_EQ(mkfifo(kDefault, 0600), 0);
    RunResult r = RunTool({MACHINEINFO_BINARY});
    EXPECT_EQ(r.status, 0);
    struct stat info;
    ASSERT_EQ(lstat(kDefault, &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
}

TEST_F(DefaultDestination, FileSizeLimitGivesStatusTwo) {
    ASSERT_TRUE(WriteFile(kDefault, "earlier document"));
    RunResult r = RunTool({"/bin/sh", "-c", "ulimit -f 0; exec \"$0\"", MACHINEINFO_BINARY});
    EXPECT_EQ(r.status, 2);
    std::string text;
    ReadFile(kDefault, &text);
    EXPECT_EQ(text, "earlier document");
}

TEST_F(DefaultDestination, DirectoryGivesStatusTwo) {
    ASSERT_EQ(mkdir(kDefault, 0700), 0);
    RunResult r = RunTool({MACHINEINFO_BINARY});
    EXPECT_EQ(r.status, 2);
    struct stat info;
    ASSERT_EQ(lstat(kDefault, &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

TEST_F(DefaultDestination, OwnFileKeepsItsMode) {
    ASSERT_TRUE(WriteFile(kDefault, "earlier document"));
    ASSERT_EQ(chmod(kDefault, 0600), 0);
    EXPECT_EQ(RunTool({MACHINEINFO_BINARY}).status, 0);
    struct stat info;
    ASSERT_EQ(lstat(kDefault, &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    std::string doc;
    ReadFile(kDefault, &doc);
    EXPECT_EQ(Lines(doc).size(), 38u);
}

// Named destinations as an unprivileged user, set up by root: the outcome is that of opening the file
// for writing in place, owner and mode included.
struct UserCase {
    const char *what;
    const char *folder;  // "mine": the user's own; "root": root's, closed to the user; "sticky": root's, 1777
    uid_t owner;         // of the existing file
    mode_t mode;
    int status;  // 0: the document is written; 2: the file is left as it was
};

TEST(NamedDestination, AsAnUnprivilegedUser) {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
    const uid_t kUser = 65534;  // nobody
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    std::string binary;  // a copy the user may run, wherever the build tree lies
    ASSERT_TRUE(ReadFile(MACHINEINFO_BINARY, &binary));
    ASSERT_TRUE(WriteFile(dir / "machineinfo", binary));
    ASSERT_EQ(chmod((dir / "machineinfo").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir / "mine").c_str(), 0755), 0);
    ASSERT_EQ(chown((dir / "mine").c_str(), kUser, kUser), 0);
    ASSERT_EQ(mkdir((dir / "root").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir / "sticky").c_str(), 0755), 0);
    ASSERT_EQ(chmod((dir / "sticky").c_str(), 01777), 0);

    const UserCase cases[] = {
        {"own read-only file", "mine", kUser, 0444, 2},
        {"another user's file without write permission", "mine", 0, 0644, 2},
        {"another user's world-writable file in a sticky folder", "sticky", 0, 0666, 0},
        {"own file in a folder the user may not write", "root", kUser, 0640, 0},
    };
    for (const auto &c : cases) {
        const std::string path = dir / c.folder + "/" + "doc.xml";
        ASSERT_TRUE(WriteFile(path, "earlier"));
        ASSERT_EQ(chown(path.c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        RunResult r = RunTool(
            {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", dir / "machineinfo", path});
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.stdErr;
        std::string text;
        ReadFile(path, &text);
        if (c.status == 0) {
            ExpectCompleteDocument(text);
        } else {
            EXPECT_EQ(text, "earlier") << c.what;
        }
        struct stat info;
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, c.owner) << c.what;
        EXPECT_EQ(info.st_mode & 07777, c.mode) << c.what;
        ASSERT_EQ(unlink(path.c_str()), 0);
    }
}

}  // namespace
