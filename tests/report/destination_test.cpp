// Opening and committing destinations: temporary file and rename for the runner's own files, in place
// for shared files and devices, failures that leave the earlier file alone.
#include "report/destination.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "inventory/store.h"
#include "report/report_writer.h"

#include "test_util.h"

namespace {

using testutil::ListFolder;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

// Writes text through a destination; the signal actions a run sets while its temporary file stands
// are the caller's again after it, whatever the outcome.
bool WriteDocument(const std::string &name, const std::string &text, bool writes_ok = true) {
    struct sigaction before, after;
    sigaction(SIGTERM, nullptr, &before);
    Destination d;
    bool ok = OpenDestination(&d, name.c_str());
    if (ok) {
        fputs(text.c_str(), d.stream);
        ok = FinishDestination(&d, writes_ok);
    }
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler) << name << ": the run's signal handler was left in place";
    return ok;
}

TEST(Destination, NewFileIsCreatedWithUmaskMode) {
    TempDir dir;
    const mode_t old = umask(027);
    ASSERT_TRUE(WriteDocument(dir / "new.xml", "doc"));
    umask(old);
    std::string text;
    ASSERT_TRUE(ReadFile(dir / "new.xml", &text));
    EXPECT_EQ(text, "doc");
    struct stat info;
    ASSERT_EQ(stat((dir / "new.xml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(Destination, ExistingFileIsReplacedAndKeepsItsMode) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "doc.xml", "old contents that are longer"));
    ASSERT_EQ(chmod((dir / "doc.xml").c_str(), 0604), 0);
    ASSERT_TRUE(WriteDocument(dir / "doc.xml", "new"));
    std::string text;
    ReadFile(dir / "doc.xml", &text);
    EXPECT_EQ(text, "new");
    struct stat info;
    ASSERT_EQ(stat((dir / "doc.xml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0604u);
}

TEST(Destination, FailedWriteKeepsTheEarlierFile) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "doc.xml", "earlier"));
    EXPECT_FALSE(WriteDocument(dir / "doc.xml", "partial", /* writes_ok */ false));
    std::string text;
    ReadFile(dir / "doc.xml", &text);
    EXPECT_EQ(text, "earlier");
}

TEST(Destination, ExplicitSymbolicLinkReplacesItsTarget) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "target.xml", "old"));
    ASSERT_EQ(symlink("target.xml", (dir / "link.xml").c_str()), 0);
    ASSERT_TRUE(WriteDocument(dir / "link.xml", "new"));
    std::string text;
    ReadFile(dir / "target.xml", &text);
    EXPECT_EQ(text, "new");
    struct stat info;
    ASSERT_EQ(lstat((dir / "link.xml").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
}

TEST(Destination, DanglingLinkCreatesItsTarget) {
    TempDir dir;
    ASSERT_EQ(symlink((dir / "made.xml").c_str(), (dir / "link.xml").c_str()), 0);
    ASSERT_TRUE(WriteDocument(dir / "link.xml", "doc"));
    std::string text;
    ASSERT_TRUE(ReadFile(dir / "made.xml", &text));
    EXPECT_EQ(text, "doc");
}

TEST(Destination, LinkLoopFails) {
    TempDir dir;
    ASSERT_EQ(symlink("b", (dir / "a").c_str()), 0);
    ASSERT_EQ(symlink("a", (dir / "b").c_str()), 0);
    EXPECT_FALSE(WriteDocument(dir / "a", "doc"));
}

TEST(Destination, UnopenableNames) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "file", "kept"));
    Destination d;
    EXPECT_FALSE(OpenDestination(&d, dir.path().c_str()));                                      // a directory
    EXPECT_FALSE(OpenDestination(&d, (dir / "missing/doc.xml").c_str()));                       // a missing folder
    EXPECT_FALSE(OpenDestination(&d, (dir / "file/out.xml").c_str()));                          // through a file
    EXPECT_FALSE(OpenDestination(&d, (dir / std::string(NAME_MAX + 1, 'n')).c_str()));          // too long a name
    EXPECT_FALSE(OpenDestination(&d, ("/" + std::string(kDestinationPathSize, 'p')).c_str()));  // too long a path
    EXPECT_LT(strnlen(d.finalPath, sizeof d.finalPath), sizeof d.finalPath) << "the path was not copied past its room";
    EXPECT_STREQ(d.tempPath, "");
    EXPECT_FALSE(OpenDestination(&d, ""));
    EXPECT_FALSE(OpenDestination(nullptr, "x"));
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"file"});
}

// A name without a folder, and a relative link to one, in the working folder: the document is made
// beside it there. A link whose target would make a path longer than a path can be is refused.
TEST(Destination, NamesWithoutAFolderAndOverlongLinks) {
    TempDir dir;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    ASSERT_EQ(symlink("out.xml", "link.xml"), 0);
    EXPECT_TRUE(WriteDocument("link.xml", "doc"));
    EXPECT_TRUE(WriteDocument("plain.xml", "plain"));
    ASSERT_EQ(chdir(cwd), 0);
    std::string text;
    EXPECT_TRUE(ReadFile(dir / "out.xml", &text) && text == "doc") << text;
    EXPECT_TRUE(ReadFile(dir / "plain.xml", &text) && text == "plain") << text;

    ASSERT_EQ(symlink(std::string(kDestinationPathSize - 8, 't').c_str(), (dir / "long.xml").c_str()), 0);
    Destination d;
    EXPECT_FALSE(OpenDestination(&d, (dir / "long.xml").c_str()));
    EXPECT_EQ(ListFolder(dir.path()).size(), 4u);  // link.xml, out.xml, plain.xml, long.xml
}

// A stream that met an error the writer did not see fails the run all the same: the earlier document
// stays, and no temporary file is left.
TEST(Destination, AStreamErrorFailsTheRun) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "doc.xml", "earlier"));
    Destination d;
    ASSERT_TRUE(OpenDestination(&d, (dir / "doc.xml").c_str()));
    fputs("partial", d.stream);
    EXPECT_EQ(fgetc(d.stream), EOF);  // reading a stream opened for writing sets its error
    EXPECT_FALSE(FinishDestination(&d, /* writes_ok */ true));
    std::string text;
    ReadFile(dir / "doc.xml", &text);
    EXPECT_EQ(text, "earlier");
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"doc.xml"});
}

TEST(Destination, LinkChainsUpToTheLimitAreFollowed) {
    for (const int links : {40, 41}) {
        TempDir dir;
        ASSERT_TRUE(WriteFile(dir / "target.xml", "old"));
        std::string next = "target.xml";
        for (int k = links; k >= 1; --k) {
            const std::string name = "l" + std::to_string(k);
            ASSERT_EQ(symlink(next.c_str(), (dir / name).c_str()), 0);
            next = name;
        }
        EXPECT_EQ(WriteDocument(dir / "l1", "new"), links == 40) << links << " links";
        std::string text;
        ReadFile(dir / "target.xml", &text);
        EXPECT_EQ(text, links == 40 ? "new" : "old") << links << " links";
    }
}

ino_t Inode(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

TEST(Destination, SharedFilesAreWrittenInPlace) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "doc.xml", "old"));
    ASSERT_EQ(link((dir / "doc.xml").c_str(), (dir / "other-name").c_str()), 0);
    const ino_t inode = Inode(dir / "doc.xml");
    ASSERT_TRUE(WriteDocument(dir / "doc.xml", "new"));
    std::string text;
    ReadFile(dir / "other-name", &text);
    EXPECT_EQ(text, "new");  // every name sees the one file
    EXPECT_EQ(Inode(dir / "doc.xml"), inode);

    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a file another owner";
    ASSERT_TRUE(WriteFile(dir / "theirs.xml", "old"));
    ASSERT_EQ(chown((dir / "theirs.xml").c_str(), 65534, 65534), 0);
    ASSERT_TRUE(WriteDocument(dir / "theirs.xml", "new"));
    ReadFile(dir / "theirs.xml", &text);
    EXPECT_EQ(text, "new");
    struct stat info;
    ASSERT_EQ(stat((dir / "theirs.xml").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);  // the owner stays
    EXPECT_EQ(info.st_gid, 65534u);
}

// The temporary name beside a path adds 9 bytes (".", ".XXXXXX" and the NUL). For the longest path
// where that still fits, the rename is used (a new inode); one byte longer, the file is written in
// place, and a new file there gets the mode the umask gives.
TEST(Destination, LongestPathThatFitsATemporaryName) {
    TempDir dir;
    std::string folder = dir.path();
    const size_t longest = kDestinationPathSize - 9;
    while (folder.size() + 1 + 200 + 1 + 20 < longest) {
        folder += "/" + std::string(200, 'd');
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    }
    const std::string fits = folder + "/" + std::string(longest - folder.size() - 1, 'f');
    const std::string over = fits + "g";
    ASSERT_EQ(fits.size(), longest);
    for (const std::string &path : {fits, over}) {
        ASSERT_TRUE(WriteFile(path, "old"));
        const ino_t inode = Inode(path);
        ASSERT_TRUE(WriteDocument(path, "new")) << path.size();
        std::string text;
        ReadFile(path, &text);
        EXPECT_EQ(text, "new") << path.size();
        EXPECT_EQ(Inode(path) != inode, path == fits) << path.size() << " bytes: renamed or in place";
        ASSERT_EQ(unlink(path.c_str()), 0);
    }
    const mode_t old = umask(077);
    ASSERT_TRUE(WriteDocument(over, "new"));
    umask(old);
    struct stat info;
    ASSERT_EQ(stat(over.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(Destination, RefusedOpenReadsNothingOfTheMachine) {
    memset(&gStore, 'Q', sizeof gStore);
    char program[] = "machineinfo", name[] = "/nonexistent-folder/doc.xml";
    char *argv[] = {program, name, nullptr};
    EXPECT_EQ(WriteReport(2, argv), 2);
    const char *bytes = reinterpret_cast<const char *>(&gStore);
    EXPECT_EQ(std::string(bytes, sizeof gStore), std::string(sizeof gStore, 'Q')) << "the capture pass ran";
    memset(&gStore, 0, sizeof gStore);
}

TEST(Destination, DevicesAreWrittenInPlace) {
    Destination d;
    ASSERT_TRUE(OpenDestination(&d, "/dev/null"));
    EXPECT_FALSE(d.replaceByRename);
    fputs("x", d.stream);
    EXPECT_TRUE(FinishDestination(&d, true));
    ASSERT_TRUE(OpenDestination(&d, "/dev/full"));
    fputs("x", d.stream);
    EXPECT_FALSE(FinishDestination(&d, true));  // the failed flush is reported
}

TEST(Destination, DashMeansStandardOutput) {
    Destination d;
    ASSERT_TRUE(OpenDestination(&d, "-anything"));
    EXPECT_TRUE(d.toStandardOutput);
    EXPECT_EQ(d.stream, stdout);
}

}  // namespace
