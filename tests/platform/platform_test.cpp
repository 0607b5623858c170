// The seam's own wrappers and the stand-in's computer name.
#include <SystemConfiguration/SystemConfiguration.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "standin_testing.h"
#include "test_util.h"

namespace {

CFStringRef Make(const char *utf8) {
    return CFStringCreateWithCString(kCFAllocatorDefault, utf8, kCFStringEncodingUTF8);
}

TEST(CopyCFStringBytes, BoundsAndWholeCharacters) {
    struct Case {
        const char *in;
        CFIndex size;
        const char *out;
    } cases[] = {
        {"serial", 64, "serial"},
        {"serial", 4, "ser"},
        {"serial", 1, ""},
        {"ab\xC3\xA9", 4, "ab"},
        {"ab\xC3\xA9", 5, "ab\xC3\xA9"},
        {"", 8, ""},
        {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 1, ""},  // no room: the platform may only measure
        {"\xC3\xA9", 2, ""},
        {"ab\xF0\x9F\x98\x80", 5, "ab"},  // a surrogate pair that does not fit is no unconvertible unit
    };
    for (const auto &c : cases) {
        CFStringRef s = Make(c.in);
        char buf[80];
        memset(buf, 'Z', sizeof buf);
        CopyCFStringBytes(s, kCFStringEncodingUTF8, buf, c.size);
        EXPECT_STREQ(buf, c.out) << c.in << " in " << c.size;
        EXPECT_EQ(std::string(buf + c.size, sizeof buf - c.size), std::string(sizeof buf - c.size, 'Z'))
            << c.in << " in " << c.size << ": written past the buffer";
        CFRelease(s);
    }
}

TEST(CopyCFStringBytes, NullsAndLossByte) {
    char buf[8] = "keep";
    EXPECT_EQ(CopyCFStringBytes(nullptr, kCFStringEncodingUTF8, buf, 0), 0);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(CopyCFStringBytes(nullptr, kCFStringEncodingUTF8, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(CopyCFStringBytes(CFSTR("x"), kCFStringEncodingUTF8, nullptr, 8), 0);
    // Each unpaired surrogate becomes "?", wherever it stands and whatever the platform's converter does.
    const struct {
        std::u16string units;
        CFIndex size;
        const char *out;
        CFIndex converted;
    } lossCases[] = {
        {u"o\xDC00k", 8, "o?k", 3},
        {u"\xDC00ok", 8, "?ok", 3},
        {u"a\xD800\xD800"
         u"b",
         8, "a??b", 4},
        {u"o\xDC00k", 3, "o?", 2},
        {u"\xE9\xDC00", 3, "\xC3\xA9", 1},
    };
    for (const auto &c : lossCases) {
        CFStringRef s =
            CFStringCreateWithCharacters(kCFAllocatorDefault, reinterpret_cast<const UniChar *>(c.units.data()),
                                         static_cast<CFIndex>(c.units.size()));
        EXPECT_EQ(CopyCFStringBytes(s, kCFStringEncodingUTF8, buf, c.size), c.converted) << c.out;
        EXPECT_STREQ(buf, c.out);
        CFRelease(s);
    }
}

TEST(GetPlatformExpert, RetriesAfterAFailedMasterPort) {
    standin::InstallRegistry({{"IOPlatformExpertDevice", {}}});
    if (standin::LiveMasterPortCount() == 0) {
        // Before the port is cached (the first round of the tests in this process).
        standin::SetMasterPortResult(KERN_FAILURE);
        EXPECT_EQ(GetPlatformExpert(), 0u);
        standin::SetMasterPortResult(KERN_SUCCESS);
    }
    io_service_t expert = GetPlatformExpert();
    EXPECT_NE(expert, 0u);
    IOObjectRelease(expert);
    // The port is now cached: a later failure of IOMasterPort does not matter.
    standin::SetMasterPortResult(KERN_FAILURE);
    expert = GetPlatformExpert();
    EXPECT_NE(expert, 0u);
    IOObjectRelease(expert);
    standin::SetMasterPortResult(KERN_SUCCESS);
    standin::InstallRegistry({});
    EXPECT_EQ(GetPlatformExpert(), 0u);
    standin::UseLiveRegistry();
}

TEST(ComputerName, PrettyHostnameParsing) {
    struct Case {
        const char *text;
        const char *name;
    } cases[] = {
        {"PRETTY_HOSTNAME=Office Mac\n", "Office Mac"},
        {"CHASSIS=laptop\nPRETTY_HOSTNAME=\"Tom's \\\"Mac\\\"\"\n", "Tom's \"Mac\""},
        {"PRETTY_HOSTNAME='a & b'\n", "a & b"},
        {"ICON_NAME=computer\n", ""},
        {"PRETTY_HOSTNAME=\n", ""},
        {"PRETTY_HOSTNAME=one\nPRETTY_HOSTNAME=two\n", "two"},
        {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(standin::ParsePrettyHostname(c.text), c.name) << c.text;
}

std::string NameNow() {
    CFStringRef name = SCDynamicStoreCopyComputerName(nullptr, nullptr);
    if (name == nullptr) return "<null>";
    char buf[256];
    CopyCFStringBytes(name, kCFStringEncodingUTF8, buf, sizeof buf);
    CFRelease(name);
    return buf;
}

TEST(ComputerName, LiveSourcesAndTestAnswers) {
    testutil::TempDir dir;
    testutil::WriteFile(dir / "machine-info", "PRETTY_HOSTNAME=Caf\xC3\xA9 \xFF Mac\n");
    standin::UseLiveComputerName(dir / "machine-info");
    EXPECT_EQ(NameNow(), "Caf\xC3\xA9 \xEF\xBF\xBD Mac");  // the bad byte is decoded as U+FFFD
    standin::UseLiveComputerName(dir / "absent");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(NameNow(), host);
    standin::SetComputerName("");
    EXPECT_EQ(NameNow(), "");
    standin::SetNoComputerName();
    EXPECT_EQ(NameNow(), "<null>");
    standin::UseLiveComputerName();
}

}  // namespace
