// Opening and committing destinations: temporary file and rename for regular files, in place for
// devices, failures that leave the earlier file alone.
#include "report/destination.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_util.h"

namespace {

using testutil::ListFolder;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

bool WriteDocument(const std::string &name, const std::string &text, bool writes_ok = true) {
    Destination d;
    if (!OpenDestination(&d, name.c_str())) return false;
    fputs(text.c_str(), d.stream);
    return FinishDestination(&d, writes_ok);
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
    EXPECT_EQ(ListFolder(dir.path()).size(), 1u);  // no temporary file left
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
    EXPECT_EQ(ListFolder(dir.path()).size(), 1u);
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
    Destination d;
    EXPECT_FALSE(OpenDestination(&d, dir.path().c_str()));                 // a directory
    EXPECT_FALSE(OpenDestination(&d, (dir / "missing/doc.xml").c_str()));  // a missing folder
    EXPECT_FALSE(OpenDestination(&d, ""));
    EXPECT_FALSE(OpenDestination(nullptr, "x"));
    EXPECT_TRUE(ListFolder(dir.path()).empty());
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
