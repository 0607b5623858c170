// Every failure path, walked: the product built with its calls hooked (fault_hooks.h) runs a whole
// report, and each helper routine, once for each call it makes, with that call failing. Whatever
// fails, a run ends with a complete, valid document (status 0) or with status 2, the earlier document
// as it was and no temporary file; the leak listener checks that nothing is left behind either.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cfhelpers/cfhelpers.h"
#include "collectors/disk_serials.h"
#include "collectors/interfaces.h"
#include "fault/fault_injection.h"
#include "report/destination.h"
#include "report/report_writer.h"
#include "standin_testing.h"
#include "test_util.h"

namespace {

using testutil::ListFolder;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

const char kEarlier[] = "the earlier document\n";

// A machine whose capture takes every path: the platform expert with a blank serial (so the
// serial-number data is read too), disks of both passes and NVMe, a computer name, and more interfaces
// than the first interface request holds, the primary one last.
void InstallMachine() {
    using standin::Property;
    std::vector<standin::InterfaceInfo> interfaces(14);
    for (unsigned n = 0; n < interfaces.size(); ++n) {
        interfaces[n].name = "en" + std::to_string(13 - n);
        interfaces[n].index = n + 1;
        interfaces[n].linkAddress = {2, 0, 0, 0, 1, static_cast<unsigned char>(n)};
        interfaces[n].ipv6 = {{{0xfe, 0x80}}};
    }
    interfaces.back().ipv4 = {{{192, 0, 2, 1}}};
    standin::InstallInterfaces(interfaces);
    standin::InstallRegistry({
        {"IOEthernetInterface",
         {{"BSD Name", Property::String("en0")}, {"IOPrimaryInterface", Property::Boolean(true)}},
         {"IONetworkInterface"}},
        {"IOPlatformExpertDevice",
         {{"model", Property::Data(std::string("MacBookPro18,3\0", 15))},
          {"IOPlatformSerialNumber", Property::String("   ")},
          {"serial-number", Property::Data(std::string("Q6L\0ASSET\0\0\0\0C02ZW0AAMD6\0\0", 27))}}},
        {"AppleAHCIDiskDriver", {{"Serial Number", Property::String("  WD-AHCI-1  ")}}},
        {"ATADeviceNub", {{"device serial", Property::String("ATA-2")}}},
        {"IONVMeBlockStorageDevice",
         {{"Device Characteristics", Property::Dictionary({{"Serial Number", Property::String("NVME-3")}})}}},
    });
    standin::SetComputerName("fault <box>");
}

// Whether a text is the tool's whole document in its shape: 38 lines, the root end tag last. The
// distinct documents are checked against the schema once each, after the walk.
bool IsWholeDocument(const std::string &text) {
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    return lines == 38 && text.size() > 11 && text.compare(text.size() - 11, 11, "</QX:data>\n") == 0;
}

// Where a report goes: a new file, one in a folder that refuses temporary files (made in place), an
// earlier document that a rename replaces, or an earlier document written in place, as one with a
// second link is, or one on a mount point (a rename over it is refused with EBUSY): a failure may cut
// those short.
enum Where { kNewFile, kNewFileInPlace, kEarlierFile, kLinkedFile, kMountPoint };

struct RunCase {
    const char *what;
    Where where;
    std::vector<const char *> writerCalls;  // the writer's calls that the walk must fail
};

TEST(FaultLoop, EveryFailingCallOfAReport) {
    InstallMachine();
    // A temporary file written beside the destination, then renamed over it or copied onto it.
    const auto beside = [](std::initializer_list<const char *> then) {
        std::vector<const char *> calls = {"mkstemp", "fchmod", "fdopen", "fputs",
                                           "fprintf", "fflush", "fsync",  "fclose"};
        calls.insert(calls.end(), then);
        return calls;
    };
    const std::vector<const char *> aside = beside({"rename"}), copied = beside({"open", "read", "write", "close"});
    const RunCase cases[] = {
        {"a new file", kNewFile, aside},
        {"a new file where no temporary file may be made",
         kNewFileInPlace,
         {"open", "fstat", "fdopen", "ftruncate", "fputs", "fprintf", "fclose"}},
        {"an earlier document", kEarlierFile, aside},
        {"an earlier document with a second link",
         kLinkedFile,
         {"open", "fstat", "ftruncate", "fdopen", "fputs", "fprintf", "fclose"}},
        {"an earlier document on a mount point", kMountPoint, copied},
    };
    std::set<std::string> documents;
    // Each failure once alone, and once for good: the failing hook fails every later call too.
    for (const bool persistent : {false, true}) {
        long runs = 0;
        // EBUSY also takes the rename's fallback of writing a mount point in place.
        for (const int error : {EIO, ENOSPC, EINTR, EBUSY}) {
            for (const auto &c : cases) {
                const bool earlier = c.where != kNewFile && c.where != kNewFileInPlace,
                           inPlace = c.where == kLinkedFile || c.where == kMountPoint;
                if (c.where == kMountPoint) fault::RefuseEvery("rename", EBUSY);
                if (c.where == kNewFileInPlace) fault::RefuseEvery("mkstemp", EACCES);
                std::set<std::string> failedCalls;
                TempDir dir;
                const std::string path = dir / "out.xml", link = dir / "link.xml";
                std::vector<std::string> names = {"out.xml"};
                if (c.where == kLinkedFile) names.insert(names.begin(), "link.xml");
                long nth = 1;
                for (;; ++nth) {
                    unlink(path.c_str());
                    unlink(link.c_str());
                    if (earlier) {
                        ASSERT_TRUE(WriteFile(path, kEarlier));
                    }
                    if (c.where == kLinkedFile) {
                        ASSERT_EQ(::link(path.c_str(), link.c_str()), 0);
                    }
                    char program[] = "machineinfo";
                    std::string name = path;
                    char *argv[] = {program, &name[0], nullptr};
                    fault::FailNth(nth, error, persistent);
                    const int32_t status = WriteReport(2, argv);
                    ++runs;
                    const bool fired = fault::Fired();
                    const std::string at = fault::FiredAt();
                    const long occurrence = fault::FiredOccurrence();
                    fault::FailNth(0, 0);
                    const std::string where = std::string(c.what) + ", call " + std::to_string(nth) + " (" + at +
                                              ") failing " + (persistent ? "for good" : "once") + " with " +
                                              strerror(error);

                    std::string text;
                    const bool exists = ReadFile(path, &text);
                    std::vector<std::string> left = ListFolder(dir.path());
                    std::sort(left.begin(), left.end());
                    if (status == kStatusWritten) {
                        EXPECT_TRUE(exists && IsWholeDocument(text)) << where << "\n" << text;
                        documents.insert(text);
                    } else {
                        EXPECT_EQ(status, kStatusNotWritten) << where;
                        // A file written in place is cut short only by a failure after its truncation,
                        // which comes once the stream is there.
                        const bool beforeTruncation =
                            at == "open" || at == "fstat" || at == "fdopen" || at == "ftruncate";
                        if (inPlace && !beforeTruncation) {
                            EXPECT_TRUE(exists) << where;
                        } else if (earlier) {
                            EXPECT_EQ(text, kEarlier) << where;
                        } else {
                            EXPECT_FALSE(exists) << where;
                        }
                    }
                    EXPECT_EQ(left, exists ? names : std::vector<std::string>{}) << where;
                    if (c.where == kLinkedFile) {
                        std::string linked;
                        EXPECT_TRUE(ReadFile(link, &linked) && linked == text) << where << ": the second link was lost";
                    }
                    if (!fired) {
                        EXPECT_EQ(status, kStatusWritten) << c.what << ": a run that met no failure";
                        break;
                    }
                    failedCalls.insert(at);
                    if (occurrence > 1) failedCalls.insert(at + " again");
                    // A write that failed, the document's flush to the disk (the first fsync; the folder's
                    // after the rename is best effort), or a rename refused for another reason than a mount
                    // point is never success: the document on the disk cannot be trusted then.
                    const bool writeFailed =
                        at == "fputs" || at == "fprintf" || at == "fflush" || at == "fclose" || at == "write" ||
                        (at == "fsync" && occurrence == 1) || (at == "rename" && error != EBUSY) ||
                        // the copy onto a mount point: its reads, writes, flush and the close
                        // of what it wrote (the first close is the interface socket's)
                        (c.where == kMountPoint &&
                         (at == "open" || at == "read" || at == "fsync" || (at == "close" && occurrence == 2)));
                    if (writeFailed) {
                        EXPECT_EQ(status, kStatusNotWritten) << where;
                    }
                    ASSERT_LT(nth, 10000) << "a run that never ends its calls";
                }
                // The walk reached the writer's calls and the capture's: a hook that fell out would show here.
                fault::RefuseEvery(nullptr, 0);
                std::vector<const char *> reached = c.writerCalls;
                reached.insert(reached.end(), {"IORegistryEntryCreateCFProperty", "IOServiceGetMatchingServices",
                                               "SCDynamicStoreCopyComputerName", "socket", "RequestInterfaceList",
                                               "RequestInterfaceList again", "realloc"});
                for (const char *call : reached) {
                    EXPECT_EQ(failedCalls.count(call), 1u) << c.what << ": no run failed " << call;
                }
            }
        }
        printf("%s failures: %ld runs\n", persistent ? "persistent" : "single", runs);
    }
    for (const std::string &document : documents) {
        std::string message;
        EXPECT_TRUE(testutil::ValidatesAgainstSchema(document, &message)) << message << "\n" << document;
    }
    standin::UseLiveInterfaces();
}

// Runs that overlap on one destination: a look at the file (stat, lstat, fstat) that races another
// run's rename can find the replaced file with no link left. Whichever look that is, the run replaces
// the earlier document whole (a new file at the path) and never truncates it in place.
TEST(FaultLoop, AFileReplacedWhileLookedAtIsReplacedWhole) {
    InstallMachine();
    TempDir dir;
    const std::string path = dir / "out.xml";
    for (long nth = 1;; ++nth) {
        unlink(path.c_str());
        ASSERT_TRUE(WriteFile(path, kEarlier));
        struct stat before;
        ASSERT_EQ(stat(path.c_str(), &before), 0);
        char program[] = "machineinfo";
        std::string name = path;
        char *argv[] = {program, &name[0], nullptr};
        fault::ReportUnlinkedNth(nth);
        const int32_t status = WriteReport(2, argv);
        const bool looked = fault::ReportedUnlinked();
        fault::ReportUnlinkedNth(0);
        if (!looked) break;
        EXPECT_EQ(status, kStatusWritten) << "look " << nth;
        std::string text;
        EXPECT_TRUE(ReadFile(path, &text) && IsWholeDocument(text)) << "look " << nth;
        struct stat after;
        ASSERT_EQ(stat(path.c_str(), &after), 0);
        EXPECT_NE(after.st_ino, before.st_ino) << "look " << nth << ": the earlier file was written in place";
        EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"out.xml"}) << "look " << nth;
        ASSERT_LT(nth, 100);
    }
    standin::UseLiveInterfaces();
}

// A runner's own file that other runs keep replacing is looked at four times: replaced at three looks,
// it keeps its mode; at every look, it is written aside as a new file is, with a new file's mode.
TEST(FaultLoop, AFileReplacedAtEveryLookIsLookedAtFourTimes) {
    InstallMachine();
    const mode_t mask = umask(022);
    const std::pair<long, mode_t> cases[] = {{3, 0600}, {4, 0644}};
    for (const auto &c : cases) {
        TempDir dir;
        const std::string path = dir / "out.xml";
        ASSERT_TRUE(WriteFile(path, kEarlier));
        ASSERT_EQ(chmod(path.c_str(), 0600), 0);
        char program[] = "machineinfo";
        std::string name = path;
        char *argv[] = {program, &name[0], nullptr};
        fault::ReportUnlinkedNth(2, c.first);  // the first look follows links
        EXPECT_EQ(WriteReport(2, argv), kStatusWritten) << c.first << " looks";
        fault::ReportUnlinkedNth(0);
        struct stat after;
        ASSERT_EQ(stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, c.second) << c.first << " looks";
    }
    umask(mask);
    standin::UseLiveInterfaces();
}

// What one report does when a hook's call fails: every call of refused fails with refusedError, and
// the occurrence-th call of failed with error (found by walking the calls); a look (stat, lstat,
// fstat) reports links links left when unlinkedLook is set. Returns the status of the run in which that
// call failed, or -1 when no run reached it.
struct LookCase {
    const char *what;
    bool earlier, linked;  // an earlier document, and a second link to it
    const char *refused;
    int refusedError;
    const char *failed;
    long occurrence;
    int error;
    long unlinkedLook;
    unsigned links;  // the links that look reports
    int32_t status;
    bool inPlace;  // the earlier file is the one written (its inode kept)
};

int32_t RunLookCase(const LookCase &c, const TempDir &dir, ino_t *inode) {
    const std::string path = dir / "out.xml", link = dir / "link.xml";
    for (long nth = 1; nth < 200; ++nth) {
        unlink(path.c_str());
        unlink(link.c_str());
        if (c.earlier && !WriteFile(path, kEarlier)) return -1;
        if (c.linked && ::link(path.c_str(), link.c_str()) != 0) return -1;
        struct stat before;
        *inode = stat(path.c_str(), &before) == 0 ? before.st_ino : 0;
        char program[] = "machineinfo";
        std::string name = path;
        char *argv[] = {program, &name[0], nullptr};
        if (c.refused != nullptr) fault::RefuseEvery(c.refused, c.refusedError);
        if (c.failed != nullptr) fault::FailNth(nth, c.error);
        if (c.unlinkedLook != 0) fault::ReportUnlinkedNth(c.unlinkedLook, 1, c.links);
        const int32_t status = WriteReport(2, argv);
        const bool hit = c.failed == nullptr || (fault::Fired() && std::string(fault::FiredAt()) == c.failed &&
                                                 fault::FiredOccurrence() == c.occurrence);
        const bool reached = c.failed == nullptr || fault::Fired();
        fault::FailNth(0, 0);
        fault::RefuseEvery(nullptr, 0);
        fault::ReportUnlinkedNth(0);
        if (hit) return status;
        if (!reached) return -1;
    }
    return -1;
}

// A destination found changed (gone, made by another run, its other link gone) is looked at again; a
// folder that refuses temporary files, for any of the reasons a file system gives, has the file made
// in place; a rename across devices becomes a copy in place, and a copy onto what cannot be flushed is
// no failure.
TEST(FaultLoop, ADestinationFoundChangedIsLookedAtAgain) {
    InstallMachine();
    const LookCase cases[] = {
        {"a shared file gone at its open", true, true, nullptr, 0, "open", 1, ENOENT, 0, 0, kStatusWritten, true},
        {"a new file made meanwhile by another run", false, false, "mkstemp", EACCES, "open", 1, EEXIST, 0, 0,
         kStatusWritten, false},
        {"a file gone when asked whether it may be written", true, false, nullptr, 0, "faccessat", 1, ENOENT, 0, 0,
         kStatusWritten, false},
        {"a file that may not be written", true, false, nullptr, 0, "faccessat", 1, EACCES, 0, 0, kStatusNotWritten,
         true},
        {"a folder without the permission for a temporary file", false, false, "mkstemp", EPERM, nullptr, 0, 0, 0, 0,
         kStatusWritten, false},
        {"a read-only folder for temporary files", false, false, "mkstemp", EROFS, nullptr, 0, 0, 0, 0, kStatusWritten,
         false},
        {"a rename across devices", true, false, "rename", EXDEV, nullptr, 0, 0, 0, 0, kStatusWritten, true},
        {"a copy onto what cannot be flushed", true, false, "rename", EXDEV, "fsync", 2, EINVAL, 0, 0, kStatusWritten,
         true},
        // looks: the link's resolution (lstat), the check (stat), then the opened file's (fstat)
        {"a shared file replaced before its open", true, true, nullptr, 0, nullptr, 0, 0, 3, 0, kStatusWritten, true},
        {"a shared file whose other link went before its open", true, true, nullptr, 0, nullptr, 0, 0, 3, 1,
         kStatusWritten, true},
    };
    for (const auto &c : cases) {
        TempDir dir;
        ino_t before = 0;
        const int32_t status = RunLookCase(c, dir, &before);
        EXPECT_EQ(status, c.status) << c.what;
        std::string text;
        const bool exists = ReadFile(dir / "out.xml", &text);
        if (status == kStatusWritten) {
            EXPECT_TRUE(exists && IsWholeDocument(text)) << c.what << "\n" << text;
        } else {
            EXPECT_EQ(text, c.earlier ? kEarlier : "") << c.what;
        }
        struct stat after;
        const bool kept = stat((dir / "out.xml").c_str(), &after) == 0 && after.st_ino == before;
        if (c.earlier) {
            EXPECT_EQ(kept, c.inPlace) << c.what;
        }
        if (c.linked) {
            std::string linked;
            EXPECT_TRUE(ReadFile(dir / "link.xml", &linked) && linked == text)
                << c.what << ": the second link was lost";
        }
        EXPECT_EQ(ListFolder(dir.path()).size(), c.linked ? 2u : 1u) << c.what << ": a temporary file was left";
    }
    standin::UseLiveInterfaces();
}

// Whether a destination's temporary file (".NAME.XXXXXX") is in folder.
bool LeftTemporaryFile(const std::string &folder) {
    const std::vector<std::string> names = ListFolder(folder);
    return std::any_of(names.begin(), names.end(), [](const std::string &name) { return name[0] == '.'; });
}

// The default destination looked at again: replaced at the first look or at every look, gone when
// asked whether it may be written, or not to be written. Run in a child process with a /tmp of its
// own (a private mount namespace), so that the machine's /tmp/inventory.xml is never touched; the
// child reports each case that went otherwise on standard error and exits with their number.
TEST(FaultLoop, TheDefaultDestinationFoundChangedIsLookedAtAgain) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a /tmp of its own";
    InstallMachine();
    fflush(nullptr);  // nothing of this process's output twice
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // The build tree stays reachable when it lies in the machine's /tmp (a coverage build writes
        // its counts there): its top folder is bound into the private /tmp.
        char self[4096];
        const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
        const std::string exe = length > 0 ? std::string(self, static_cast<size_t>(length)) : "";
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
        const int machineTmp = open("/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (machineTmp < 0 || mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) _exit(77);
        if (exe.compare(0, 5, "/tmp/") == 0) {
            const std::string top = exe.substr(5, exe.find('/', 5) - 5);
            const std::string from = "/proc/self/fd/" + std::to_string(machineTmp) + "/" + top;
            if (mkdir(("/tmp/" + top).c_str(), 0755) != 0 ||
                mount(from.c_str(), ("/tmp/" + top).c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
                _exit(79);
            }
        }
        close(machineTmp);
        const struct {
            const char *what;
            long unlinkedLook, looks;  // from the unlinkedLook-th look, looks of them report no link
            long failNth;
            int error;
            int32_t status;
        } cases[] = {
            {"replaced at the first look", 1, 1, 0, 0, kStatusWritten},
            {"replaced at every look", 1, 4, 0, 0, kStatusWritten},
            {"gone when asked whether it may be written", 0, 0, 2, ENOENT, kStatusWritten},  // lstat, faccessat
            {"not to be written", 0, 0, 2, EACCES, kStatusNotWritten},
        };
        int wrong = 0;
        for (const auto &c : cases) {
            std::string text;
            if (!WriteFile(kDefaultDestination, kEarlier)) _exit(78);
            if (c.unlinkedLook != 0) fault::ReportUnlinkedNth(c.unlinkedLook, c.looks);
            if (c.failNth != 0) fault::FailNth(c.failNth, c.error);
            char program[] = "machineinfo";
            char *argv[] = {program, nullptr};
            const int32_t status = WriteReport(1, argv);
            const bool reached = c.failNth == 0 || std::string(fault::FiredAt()) == "faccessat";
            fault::FailNth(0, 0);
            fault::ReportUnlinkedNth(0);
            ReadFile(kDefaultDestination, &text);
            const bool ok = reached && status == c.status &&
                            (status == kStatusWritten ? IsWholeDocument(text) : text == kEarlier) &&
                            !LeftTemporaryFile("/tmp");
            if (!ok) {
                fprintf(stderr, "%s: status %d, %s\n%s\n", c.what, status, reached ? "reached" : "not reached",
                        text.c_str());
                ++wrong;
            }
        }
        exit(wrong);  // exit, not _exit: a coverage build writes its counts at exit
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    standin::UseLiveInterfaces();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace of its own";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << ": cases went otherwise";
}

// After the rename, the folder that holds the destination is flushed, as its path names it: the
// folder part of the name, or the working folder for a name without one.
TEST(FaultLoop, TheDestinationsFolderIsFlushedAfterTheRename) {
    InstallMachine();
    TempDir dir;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    char program[] = "machineinfo";
    for (const std::string &name : {dir / "out.xml", std::string("here.xml")}) {
        std::string argument = name;
        char *argv[] = {program, &argument[0], nullptr};
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
        fault::NoteFolderOpened("");
        EXPECT_EQ(WriteReport(2, argv), kStatusWritten) << name;
        ASSERT_EQ(chdir(cwd), 0);
        EXPECT_EQ(std::string(fault::LastFolderOpened()), name[0] == '/' ? dir.path() : ".") << name;
    }
    standin::UseLiveInterfaces();
}

// A link that cannot be read (it changed, or the system refused) is no destination.
TEST(FaultLoop, AnUnreadableLinkRefusesTheDestination) {
    TempDir dir;
    ASSERT_EQ(symlink("out.xml", (dir / "link.xml").c_str()), 0);
    Destination d;
    fault::RefuseEvery("readlink", EIO);
    EXPECT_FALSE(OpenDestination(&d, (dir / "link.xml").c_str()));
    fault::RefuseEvery(nullptr, 0);
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"link.xml"});
}

// The interface list's failures and what they return: 0 when the failed call set errno, -1 when it set
// none, and -1 without memory; the table stays empty whichever it was.
TEST(FaultLoop, InterfaceListFailuresAndTheirResults) {
    InstallMachine();
    const struct {
        const char *call;
        int error;
        int32_t result;
    } cases[] = {
        {"socket", EMFILE, 0},           {"socket", 0, -1},      {"RequestInterfaceList", EINVAL, 0},
        {"RequestInterfaceList", 0, -1}, {"calloc", ENOMEM, -1},
    };
    for (const auto &c : cases) {
        InterfaceRecord table[16];
        memset(table, 0, sizeof table);
        fault::RefuseEvery(c.call, c.error);
        EXPECT_EQ(CaptureInterfaces(table, 16), c.result) << c.call << " failing with errno " << c.error;
        fault::RefuseEvery(nullptr, 0);
        EXPECT_STREQ(table[0].name, "") << c.call;
    }
    // A disk class whose lookup fails counts no disk, and the other classes still fill their slots.
    for (const char *call : {"IOServiceMatching", "IOServiceGetMatchingServices"}) {
        char slots[4][kTextSize];
        memset(slots, 'Q', sizeof slots);
        fault::RefuseEvery(call, 0);
        EXPECT_EQ(CaptureDiskSerials(slots, 4), 0) << call;
        fault::RefuseEvery(nullptr, 0);
        for (const auto &slot : slots) EXPECT_STREQ(slot, "") << call;
        // The third class's lookup (NVMe) failing alone: the first two fill their slots.
        int32_t filled = -1;
        for (long nth = 1; nth < 100 && filled == -1; ++nth) {
            fault::FailNth(nth, 0);
            const int32_t result = CaptureDiskSerials(slots, 4);
            if (fault::Fired() && std::string(fault::FiredAt()) == call && fault::FiredOccurrence() == 3) {
                filled = result;
            }
            fault::FailNth(0, 0);
        }
        EXPECT_EQ(filled, 2) << call;
        EXPECT_STREQ(slots[0], "WD-AHCI-1");
        EXPECT_STREQ(slots[1], "ATA-2");
    }
    standin::UseLiveInterfaces();
    standin::UseLiveRegistry();
    standin::UseLiveComputerName();
}

TEST(FaultLoop, AFailedLookAtTheDefaultDestinationRefusesIt) {
    Destination d;
    memset(&d, 0xAB, sizeof d);
    fault::FailNth(1, EIO);
    EXPECT_FALSE(OpenDestination(&d, nullptr));
    EXPECT_STREQ(fault::FiredAt(), "lstat");
    fault::FailNth(1, EIO);
    EXPECT_EQ(WriteReport(2, nullptr), kStatusNotWritten) << "no argument vector is no argument";
    EXPECT_STREQ(fault::FiredAt(), "lstat");
    fault::FailNth(0, 0);
    EXPECT_FALSE(FinishDestination(&d, true)) << "a destination that did not open has no stream to finish";
    TempDir dir;
    memset(&d, 1, sizeof d);  // each flag set (a bool of 1 is true; 0xAB would be no bool at all)
    ASSERT_TRUE(OpenDestination(&d, (dir / "out.xml").c_str()));
    EXPECT_FALSE(d.toStandardOutput) << "a file is no standard output, whatever the record held";
    EXPECT_TRUE(FinishDestination(&d, true));
    EXPECT_FALSE(FinishDestination(nullptr, true));
}

// What a helper routine gave, as a text; "null", "version:0" and a non-zero code are its failures.
using Outcome = std::function<std::string()>;

std::string Text(char *heap) {
    if (heap == nullptr) return "null";
    std::string text = std::string("text:") + heap;
    free(heap);
    return text;
}

std::string Object(CFTypeRef object) {
    if (object == nullptr) return "null";
    std::string kind = "object:" + std::to_string(CFGetTypeID(object));
    if (CFGetTypeID(object) == CFDataGetTypeID())
        kind += "/" + std::to_string(CFDataGetLength(static_cast<CFDataRef>(object)));
    CFRelease(object);
    return kind;
}

std::string Code(IOReturn code) {
    char text[32];
    snprintf(text, sizeof text, "code:%x", static_cast<unsigned>(code));
    return text;
}

bool IsFailure(const std::string &outcome) {
    return outcome == "null" || outcome == "version:0" || (outcome.compare(0, 5, "code:") == 0 && outcome != "code:0");
}

// A string list whose elements a failed conversion cut short: the routine succeeds with them, as
// documented, but never loses or adds an element.
bool IsCutList(const std::string &outcome, const std::string &whole) {
    return outcome.compare(0, 5, "list:") == 0 && outcome.size() == whole.size() &&
           outcome.find('!') == std::string::npos;
}

CFStringRef Str(const std::string &s) {
    return CFStringCreateWithCString(kCFAllocatorDefault, s.c_str(), kCFStringEncodingUTF8);
}

using HelperTable = std::vector<std::pair<const char *, Outcome>>;

// Each helper once whole, then once for each call it makes with that call failing: it fails as it
// documents (or, for a string list, cuts an element short), or gives what it gave whole.
void WalkHelpers(const HelperTable &helpers) {
    for (const bool persistent : {false, true}) {
        for (const auto &helper : helpers) {
            const std::string whole = helper.second();
            EXPECT_TRUE(!IsFailure(whole) && whole.find_first_of("<!") == std::string::npos)
                << helper.first << " fails with nothing failing: " << whole;
            long nth = 1;
            for (;; ++nth) {
                fault::FailNth(nth, ENOMEM, persistent);
                const std::string outcome = helper.second();
                const bool fired = fault::Fired();
                const std::string at = fault::FiredAt();
                fault::FailNth(0, 0);
                if (!fired) break;
                EXPECT_TRUE(outcome == whole || IsFailure(outcome) || IsCutList(outcome, whole))
                    << helper.first << " with call " << nth << " (" << at << ") failing"
                    << (persistent ? " for good: " : ": ") << outcome;
                ASSERT_LT(nth, 1000);
            }
            EXPECT_GT(nth, 1) << helper.first << " made no hooked call";
        }
    }
}

TEST(FaultLoop, EveryFailingCallOfEachBundleHelper) {
    testutil::KeepsForProcess("bundles: Core Foundation keeps each bundle it reads for the process");
    static const TempDir folder;  // the bundle lives as long as Core Foundation keeps it
    const std::string bundle = folder / "F.bundle";
    ASSERT_EQ(system(("mkdir -p '" + bundle + "/Contents/Resources'").c_str()), 0);
    ASSERT_TRUE(WriteFile(bundle + "/Contents/Info.plist",
                          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                          "<key>CFBundleIdentifier</key><string>com.example.fault</string>"
                          "<key>CFBundleVersion</key><string>1.2.3</string></dict></plist>\n"));
    ASSERT_TRUE(WriteFile(bundle + "/Contents/Resources/defaults.plist", "x"));
    CFStringRef bundlePath = Str(bundle);
    CFURLRef bundleUrl = CFURLCreateWithFileSystemPath(kCFAllocatorDefault, bundlePath, kCFURLPOSIXPathStyle, true);
    CFBundleRef made = CFBundleCreate(kCFAllocatorDefault, bundleUrl);
    CFStringRef id = Str("com.example.fault"), name = Str("defaults"), type = Str("plist");
    WalkHelpers({
        {"CopyBundleResourcePath", [&] { return Text(CopyBundleResourcePath(id, name, type, nullptr)); }},
        {"GetBundleVersionByIdentifier", [&] { return "version:" + std::to_string(GetBundleVersionByIdentifier(id)); }},
        {"GetBundleVersion", [&] { return "version:" + std::to_string(GetBundleVersion(made)); }},
    });
    CFRelease(type);
    CFRelease(name);
    CFRelease(id);
    CFRelease(made);
    CFRelease(bundleUrl);
    CFRelease(bundlePath);
}

TEST(FaultLoop, EveryFailingCallOfEachFileAndStringHelper) {
    TempDir dir;
    const std::string plist = dir / "list.plist";
    ASSERT_TRUE(WriteFile(plist,
                          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                          "<key>Name</key><string>caf\xC3\xA9</string></dict></plist>\n"));
    CFStringRef plistPath = Str(plist);
    CFURLRef plistUrl = CFURLCreateWithFileSystemPath(kCFAllocatorDefault, plistPath, kCFURLPOSIXPathStyle, false);
    const std::vector<std::string> elements = {
        "\xE2\x82\xAC"
        "uro",
        "defaults"};
    CFStringRef word = Str(elements[0]), other = Str(elements[1]);
    const void *words[] = {word, other};
    CFArrayRef array = CFArrayCreate(kCFAllocatorDefault, words, 2, &kCFTypeArrayCallBacks);
    const void *keys[] = {CFSTR("Version")};
    const void *values[] = {CFSTR("1.2")};
    CFDictionaryRef dictionary = CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1,
                                                    &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    const std::string out = dir / "out.plist";
    WalkHelpers({
        {"CreateDataFromURL", [&] { return Object(CreateDataFromURL(plistUrl)); }},
        {"CreateDataFromPath",
         [&] {
             CFURLRef url = reinterpret_cast<CFURLRef>(0x1);
             const std::string data = Object(CreateDataFromPath(plist.c_str(), &url));
             if (data == "null") return url == nullptr ? data : std::string("null with a URL handed back");
             return data + " " + Object(url);
         }},
        {"CreatePropertyListFromPathString",
         [&] { return Object(CreatePropertyListFromPathString(plistPath, kCFPropertyListImmutable)); }},
        {"CreatePropertyListFromURL", [&] { return Object(CreatePropertyListFromURL(plistUrl, 0)); }},
        {"CreatePropertyListFromPath", [&] { return Object(CreatePropertyListFromPath(plist.c_str(), 0)); }},
        {"WritePropertyListToURL",
         [&] {
             CFStringRef outPath = Str(out);
             CFURLRef url = CFURLCreateWithFileSystemPath(kCFAllocatorDefault, outPath, kCFURLPOSIXPathStyle, false);
             const std::string code = Code(WritePropertyListToURL(dictionary, url));
             if (url != nullptr) CFRelease(url);
             CFRelease(outPath);
             return code;
         }},
        {"WritePropertyListToPath",
         [&] {
             return Code(WritePropertyListToPath(dictionary, reinterpret_cast<const UInt8 *>(out.data()),
                                                 static_cast<CFIndex>(out.size())));
         }},
        {"CreateCStringFromCFString", [&] { return Text(CreateCStringFromCFString(word)); }},
        {"CreateCStringList",
         [&] {
             char **list = reinterpret_cast<char **>(0x1);
             uint64_t size = 1;
             const IOReturn code = CreateCStringList(array, &list, &size);
             if (code != kIOReturnSuccess) {
                 return list == nullptr && size == 0 ? Code(code) : std::string("a failure that hands a list back");
             }
             // Each element as it came: whole (=), cut short (<, which the routine does not report), its
             // characters replaced by "?" where converting them failed for good (?), or other (!).
             std::string kinds = "list:";
             for (size_t i = 0; list[i] != nullptr; ++i) {
                 const std::string element = list[i];
                 kinds += i >= elements.size()                                   ? '!'
                          : element == elements[i]                               ? '='
                          : elements[i].compare(0, element.size(), element) == 0 ? '<'
                          : element.find_first_not_of('?') == std::string::npos && element.size() <= elements[i].size()
                              ? '?'
                              : '!';
             }
             FreeCStringList(list, size);
             free(list);
             return kinds;
         }},
    });
    CFRelease(dictionary);
    CFRelease(array);
    CFRelease(other);
    CFRelease(word);
    CFRelease(plistUrl);
    CFRelease(plistPath);
}

}  // namespace
