// The Core Foundation helpers on real files, bundles and property lists made in a temporary folder.
#include "cfhelpers/cfhelpers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "standin_testing.h"
#include "test_util.h"

namespace {

using testutil::TempDir;

void MakeFolders(const std::string &path) {
    const std::string command = "mkdir -p '" + path + "'";
    ASSERT_EQ(system(command.c_str()), 0);
}

std::string InfoPlist(const std::string &identifier, const std::string &versionElement) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\"><dict>\n"
           "<key>CFBundleIdentifier</key><string>" +
           identifier + "</string>\n" + versionElement + "</dict></plist>\n";
}

CFStringRef Str(const std::string &s) {
    return CFStringCreateWithCString(kCFAllocatorDefault, s.c_str(), kCFStringEncodingUTF8);
}

// A folder for bundles that lasts as long as the process: Core Foundation keeps a bundle for the
// process, read once, so bundles made again at the same place (in the second round of the tests) are
// the ones made first.
const TempDir &BundleFolder() {
    static const TempDir folder;
    return folder;
}

// A bundle in folder: Contents/Info.plist with the identifier and version element.
CFBundleRef MakeBundle(const std::string &folder, const std::string &identifier, const std::string &versionElement) {
    MakeFolders(folder + "/Contents/Resources");
    testutil::WriteFile(folder + "/Contents/Info.plist", InfoPlist(identifier, versionElement));
    CFStringRef path = Str(folder);
    CFURLRef url = CFURLCreateWithFileSystemPath(kCFAllocatorDefault, path, kCFURLPOSIXPathStyle, true);
    CFBundleRef bundle = CFBundleCreate(kCFAllocatorDefault, url);
    CFRelease(url);
    CFRelease(path);
    return bundle;
}

class HelpersTest : public ::testing::Test {
  protected:
    void TearDown() override { standin::SetUrlWriteFailsWithoutCode(false); }
    TempDir dir_;
};

struct VersionCase {
    std::string text;
    uint32_t result;
};

TEST_F(HelpersTest, BundleVersionTable) {
    const VersionCase cases[] = {
        {"1.2.3.4", 0x01020304},
        {"10.6.8", 0x0A060800},
        {"1.2.3.4.5", 0x01020304},
        {"1.2b", 0x01020000},
        {"Build 3.1", 0x03010000},
        {"ver2.5", 0},
        {"1.300", 0x012C0000},
        {"300", 0x2C000000},
        {"-1", 0xFF000000},
        {"", 0},
        {"1.2.3.4.5.6.7.8.9.10", 0},
        {"12345678901234567890", 0},
        {"1.2.3.4.5.6.7.8.9.1", 0x01020304},  // 19 bytes: still fits
        {"3.1.4", 0x03010400},
        {"1.2b3", 0x01020000},     // a stage and a non-release build number end the numbers
        {"2.0.1d17", 0x02000100},  // a development build
        {"4.5a1", 0x04050000},
        {"10.0fc2", 0x0A000000},
        {"0.0.0.1", 0x00000001},
        {"255.255.255.255", 0xFFFFFFFF},
        {"256", 0},  // a number one past 8 bits carries out of the top field
    };
    int n = 0;
    for (const auto &c : cases) {
        const std::string id = "com.example.version" + std::to_string(n);
        CFBundleRef bundle = MakeBundle(BundleFolder() / ("V" + std::to_string(n++) + ".bundle"), id,
                                        "<key>CFBundleVersion</key><string>" + c.text + "</string>\n");
        ASSERT_NE(bundle, nullptr);
        CFStringRef identifier = Str(id);
        EXPECT_EQ(GetBundleVersionByIdentifier(identifier), c.result) << '"' << c.text << '"';
        EXPECT_EQ(GetBundleVersion(bundle), c.result) << '"' << c.text << '"';
        CFRelease(identifier);
        CFRelease(bundle);
    }
}

TEST_F(HelpersTest, BundleVersionFailures) {
    EXPECT_EQ(GetBundleVersion(nullptr), 0u);
    EXPECT_EQ(PackVersionText(nullptr), 0u);
    CFBundleRef numeric = MakeBundle(BundleFolder() / "N.bundle", "com.example.numeric",
                                     "<key>CFBundleVersion</key><integer>5</integer>\n");
    EXPECT_EQ(GetBundleVersion(numeric), 0u);
    CFBundleRef none = MakeBundle(BundleFolder() / "E.bundle", "com.example.none", "");
    EXPECT_EQ(GetBundleVersion(none), 0u);
    CFStringRef unknown = Str("com.example.absent");
    EXPECT_EQ(GetBundleVersionByIdentifier(unknown), 0u);
    CFRelease(unknown);
    CFRelease(numeric);
    CFRelease(none);
    // A released bundle is still found by its identifier: bundles are kept for the process.
    CFStringRef kept = Str("com.example.numeric");
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(kept), numeric);
    CFRelease(kept);
}

// What Core Foundation adds to a bundle: one object a folder, and the numeric form of its version.
TEST_F(HelpersTest, BundlesAreMadeOncePerFolderWithANumericVersion) {
    const struct {
        const char *text;
        UInt32 numeric;
    } cases[] = {{"1.2.3", 0x01238000}, {"10.6.8", 0x10688000}, {"2.0.1d17", 0x02012011}, {"1.2b3", 0x01206003},
                 {"4", 0x04008000},     {"ver2.5", 0},          {"1.2.3.4", 0},           {"1.2d", 0},
                 {"3.1a256", 0}};
    int n = 0;
    for (const auto &c : cases) {
        const std::string folder = BundleFolder() / ("Numeric" + std::to_string(n++) + ".bundle");
        CFBundleRef bundle = MakeBundle(folder, "com.example.numeric." + std::to_string(n),
                                        "<key>CFBundleVersion</key><string>" + std::string(c.text) + "</string>\n");
        CFBundleRef again = MakeBundle(folder, "com.example.other", "");
        EXPECT_EQ(again, bundle) << "the bundle of a folder is made once";
        const void *value = CFDictionaryGetValue(CFBundleGetInfoDictionary(bundle), CFSTR("CFBundleNumericVersion"));
        UInt32 numeric = 1;
        ASSERT_NE(value, nullptr) << c.text;
        CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &numeric);
        EXPECT_EQ(numeric, c.numeric) << c.text;
        CFRelease(again);
        CFRelease(bundle);
    }
}

TEST_F(HelpersTest, MainBundleVersion) {
    // This test program is in no bundle: its main bundle has an empty information dictionary.
    EXPECT_EQ(GetBundleVersionByIdentifier(nullptr), 0u);
    // The probe copied into an application bundle reads that bundle's version.
    const std::string app = dir_ / "Probe.app";
    MakeFolders(app + "/Contents/MacOS");
    testutil::WriteFile(app + "/Contents/Info.plist",
                        InfoPlist("com.example.probe", "<key>CFBundleVersion</key><string>2.5.1</string>\n"));
    const std::string copy = "cp '" MACHINEINFO_PROBE "' '" + app + "/Contents/MacOS/probe'";
    ASSERT_EQ(system(copy.c_str()), 0);
    testutil::RunResult r = testutil::Run({app + "/Contents/MacOS/probe"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.stdOut, "0x02050100\n");
}

struct ResourceCase {
    const char *name;
    const char *type;
    const char *subdirectory;
    const char *expected;  // relative to the bundle, or null
};

TEST_F(HelpersTest, ResourcePaths) {
    const std::string folder = BundleFolder() / "R.bundle";
    CFBundleRef bundle = MakeBundle(folder, "com.example.resources", "");
    MakeFolders(folder + "/Contents/Resources/images");
    MakeFolders(folder + "/Contents/Resources/Base.lproj/nibs");
    MakeFolders(folder + "/Contents/Resources/\xE8\xB3\x87\xE6\x96\x99\xE5\xA4\xBE");  // three-byte characters
    testutil::WriteFile(folder + "/Contents/Resources/defaults.plist", "x");
    testutil::WriteFile(folder + "/Contents/Resources/README", "x");
    testutil::WriteFile(folder + "/Contents/Resources/images/icon.png", "x");
    testutil::WriteFile(folder + "/Contents/Resources/Base.lproj/nibs/Main.nib", "x");
    testutil::WriteFile(folder + "/Contents/Resources/\xE8\xB3\x87\xE6\x96\x99\xE5\xA4\xBE/\xE5\x9C\x96.png", "x");
    const ResourceCase cases[] = {
        {"defaults", "plist", nullptr, "/Contents/Resources/defaults.plist"},
        {"defaults", ".plist", nullptr, "/Contents/Resources/defaults.plist"},
        {"README", nullptr, nullptr, "/Contents/Resources/README"},
        {"icon", "png", "images", "/Contents/Resources/images/icon.png"},
        {"Main", "nib", "nibs", "/Contents/Resources/Base.lproj/nibs/Main.nib"},
        {"\xE5\x9C\x96", "png", "\xE8\xB3\x87\xE6\x96\x99\xE5\xA4\xBE",
         "/Contents/Resources/\xE8\xB3\x87\xE6\x96\x99\xE5\xA4\xBE/\xE5\x9C\x96.png"},
        {"missing", "plist", nullptr, nullptr},
        {"icon", "png", nullptr, nullptr},
    };
    CFStringRef id = Str("com.example.resources");
    for (const auto &c : cases) {
        CFStringRef name = Str(c.name);
        CFStringRef type = c.type != nullptr ? Str(c.type) : nullptr;
        CFStringRef sub = c.subdirectory != nullptr ? Str(c.subdirectory) : nullptr;
        char *path = CopyBundleResourcePath(id, name, type, sub);
        if (c.expected == nullptr) {
            EXPECT_EQ(path, nullptr) << c.name;
        } else {
            ASSERT_NE(path, nullptr) << c.name;
            EXPECT_EQ(std::string(path), folder + c.expected);
        }
        free(path);
        CFRelease(name);
        if (type != nullptr) CFRelease(type);
        if (sub != nullptr) CFRelease(sub);
    }
    CFStringRef other = Str("com.example.other");
    CFStringRef name = Str("defaults");
    EXPECT_EQ(CopyBundleResourcePath(other, name, nullptr, nullptr), nullptr);
    EXPECT_EQ(CopyBundleResourcePath(nullptr, name, nullptr, nullptr), nullptr);
    EXPECT_EQ(CopyBundleResourcePath(id, nullptr, nullptr, nullptr), nullptr);
    CFRelease(other);
    CFRelease(name);
    CFRelease(id);
    CFRelease(bundle);
}

std::string DataText(CFDataRef data) {
    return std::string(reinterpret_cast<const char *>(CFDataGetBytePtr(data)),
                       static_cast<size_t>(CFDataGetLength(data)));
}

TEST_F(HelpersTest, DataFromUrlAndPath) {
    testutil::WriteFile(dir_ / "file.bin", std::string("a\0b", 3));
    CFURLRef url = nullptr;
    CFDataRef data = CreateDataFromPath((dir_ / "file.bin").c_str(), &url);
    ASSERT_NE(data, nullptr);
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(DataText(data), std::string("a\0b", 3));
    CFDataRef again = CreateDataFromURL(url);  // the URL handed back is a usable one
    EXPECT_TRUE(CFEqual(again, data));
    CFRelease(again);
    CFRelease(data);
    CFRelease(url);

    data = CreateDataFromPath((dir_ / "file.bin").c_str(), nullptr);
    EXPECT_NE(data, nullptr);
    CFRelease(data);

    const CFURLRef kUntouched = reinterpret_cast<CFURLRef>(0x1);
    url = kUntouched;
    EXPECT_EQ(CreateDataFromPath(nullptr, &url), nullptr);
    EXPECT_EQ(url, kUntouched);
    EXPECT_EQ(CreateDataFromPath((dir_ / "missing").c_str(), &url), nullptr);
    EXPECT_EQ(url, nullptr);
    url = kUntouched;
    EXPECT_EQ(CreateDataFromPath(dir_.path().c_str(), &url), nullptr);  // a directory
    EXPECT_EQ(url, nullptr);
    url = kUntouched;
    EXPECT_EQ(CreateDataFromPath("bad \xFF utf-8", &url), nullptr);
    EXPECT_EQ(url, nullptr);
    EXPECT_EQ(CreateDataFromURL(nullptr), nullptr);
}

const char kBinaryPlist[] =
    "\x62\x70\x6c\x69\x73\x74\x30\x30\xd3\x01\x02\x03\x04\x05\x09\x54\x44\x61\x74\x61\x54\x4c\x69\x73\x74\x54\x4e"
    "\x61\x6d\x65\x42\x00\x01\xa3\x06\x07\x08\x10\x01\x13\xff\xff\xff\xff\xff\xff\xff\xfe\x09\x64\x00\x63\x00\x61"
    "\x00\x66\x00\xe9\x08\x0f\x14\x19\x1e\x21\x25\x27\x30\x31\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00"
    "\x00\x00\x0a\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x3a";

void ExpectSample(CFPropertyListRef plist) {
    ASSERT_NE(plist, nullptr);
    ASSERT_EQ(CFGetTypeID(plist), CFDictionaryGetTypeID());
    CFDictionaryRef dict = static_cast<CFDictionaryRef>(plist);
    CFStringRef nameKey = CFSTR("Name");
    CFTypeRef name = GetDictionaryValueOfType(dict, CFStringGetTypeID(), nameKey);
    ASSERT_NE(name, nullptr);
    char *text = CreateCStringFromCFString(static_cast<CFStringRef>(name));
    EXPECT_STREQ(text, "caf\xC3\xA9");
    free(text);
    CFTypeRef list = GetDictionaryValueOfType(dict, CFArrayGetTypeID(), CFSTR("List"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(CFArrayGetCount(static_cast<CFArrayRef>(list)), 3);
    int64_t second = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(CFArrayGetValueAtIndex(static_cast<CFArrayRef>(list), 1)),
                     kCFNumberSInt64Type, &second);
    EXPECT_EQ(second, -2);
    EXPECT_EQ(CFArrayGetValueAtIndex(static_cast<CFArrayRef>(list), 2), kCFBooleanTrue);
    CFTypeRef data = GetDictionaryValueOfType(dict, CFDataGetTypeID(), CFSTR("Data"));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(CFDataGetLength(static_cast<CFDataRef>(data)), 2);
}

TEST_F(HelpersTest, PropertyListsFromXmlAndBinaryFiles) {
    const std::string xml = dir_ / "sample.plist";
    testutil::WriteFile(xml,
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                        "<key>Name</key><string>caf\xC3\xA9</string>"
                        "<key>List</key><array><integer>1</integer><integer>-2</integer><true/></array>"
                        "<key>Data</key><data>AAE=</data></dict></plist>\n");
    const std::string binary = dir_ / "sample.bplist";
    testutil::WriteFile(binary, std::string(kBinaryPlist, sizeof kBinaryPlist - 1));
    for (const std::string &path : {xml, binary}) {
        CFPropertyListRef a = CreatePropertyListFromPath(path.c_str(), kCFPropertyListImmutable);
        ExpectSample(a);
        CFStringRef pathString = Str(path);
        CFPropertyListRef b = CreatePropertyListFromPathString(pathString, kCFPropertyListMutableContainers);
        ExpectSample(b);
        CFURLRef url = CFURLCreateWithFileSystemPath(kCFAllocatorDefault, pathString, kCFURLPOSIXPathStyle, false);
        CFPropertyListRef c = CreatePropertyListFromURL(url, kCFPropertyListMutableContainersAndLeaves);
        ExpectSample(c);
        EXPECT_TRUE(CFEqual(a, b));
        EXPECT_TRUE(CFEqual(b, c));
        for (CFTypeRef o : {a, b, c}) {
            if (o != nullptr) CFRelease(o);
        }
        CFRelease(url);
        CFRelease(pathString);
    }
}

// Forms Core Foundation reads besides plain XML, and how it writes a dictionary: keys in the order of
// their UTF-16 units, strings whole.
TEST_F(HelpersTest, PropertyListFormsAsCoreFoundationReadsAndWrites) {
    const UInt8 bytes[] = {0, 1};
    CFDataRef data = CFDataCreate(kCFAllocatorDefault, bytes, 2);
    const void *abKeys[] = {CFSTR("a")}, *abValues[] = {CFSTR("b")};
    CFDictionaryRef ab = CFDictionaryCreate(kCFAllocatorDefault, abKeys, abValues, 1, &kCFTypeDictionaryKeyCallBacks,
                                            &kCFTypeDictionaryValueCallBacks);
    const void *items[] = {CFSTR("1"), CFSTR("2")};
    CFArrayRef oneTwo = CFArrayCreate(kCFAllocatorDefault, items, 2, &kCFTypeArrayCallBacks);
    const std::pair<std::string, CFTypeRef> cases[] = {
        {"\xEF\xBB\xBF<?xml version=\"1.0\"?><plist><string>hello</string></plist>", CFSTR("hello")},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><string>caf\xE9</string></plist>", CFSTR("caf\u00E9")},
        {"\"hello\"", CFSTR("hello")},
        {"{ a = b; }", ab},
        {"a = b;", ab},
        {"/* strings file */ \"a\" = \"b\";\n", ab},
        {"( 1, 2 )", oneTwo},
        {"<0001>", data},
    };
    int n = 0;
    for (const auto &c : cases) {
        const std::string path = dir_ / ("form" + std::to_string(n++));
        testutil::WriteFile(path, c.first);
        CFPropertyListRef read = CreatePropertyListFromPath(path.c_str(), 0);
        EXPECT_TRUE(read != nullptr && CFEqual(read, c.second)) << c.first;
        if (read != nullptr) CFRelease(read);
    }
    CFRelease(oneTwo);
    CFRelease(ab);
    CFRelease(data);

    CFStringRef withNul = CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>("a\0b"), 3,
                                                  kCFStringEncodingUTF8, false);
    const void *keys[] = {CFSTR("big"), CFSTR("alpha"), CFSTR("Beta")};
    const void *values[] = {withNul, CFSTR("1"), CFSTR("2")};
    CFDictionaryRef dict = CFDictionaryCreate(kCFAllocatorDefault, keys, values, 3, &kCFTypeDictionaryKeyCallBacks,
                                              &kCFTypeDictionaryValueCallBacks);
    const std::string out = dir_ / "sorted.plist";
    ASSERT_EQ(
        WritePropertyListToPath(dict, reinterpret_cast<const UInt8 *>(out.data()), static_cast<CFIndex>(out.size())),
        kIOReturnSuccess);
    std::string text;
    ASSERT_TRUE(testutil::ReadFile(out, &text));
    const size_t beta = text.find("<key>Beta</key>"), alpha = text.find("<key>alpha</key>");
    EXPECT_TRUE(beta < alpha && alpha < text.find("<key>big</key>")) << text;
    CFPropertyListRef back = CreatePropertyListFromPath(out.c_str(), 0);
    EXPECT_TRUE(back != nullptr && CFEqual(back, dict)) << "the string holding NUL comes back whole";
    if (back != nullptr) CFRelease(back);
    CFRelease(dict);
    CFRelease(withNul);
}

TEST_F(HelpersTest, FilesThatHoldNoPropertyList) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"empty", ""},
        {"text", "just some text\n"},
        {"broken", "<?xml version=\"1.0\"?><plist><dict><key>a</key>"},
        {"badutf8", "<plist version=\"1.0\"><string>\xFF\xFE</string></plist>"},
        {"truncatedbinary", std::string(kBinaryPlist, 40)},
        {"keywithoutvalue", "<plist><dict><key>a</key></dict></plist>"},
        {"twovalues", "<plist version=\"1.0\"><true/><false/></plist>"},
        {"spacedinteger", "<plist><integer> 5 </integer></plist>"},
        {"emptyinteger", "<plist><integer></integer></plist>"},
        {"wordinteger", "<plist><integer>abc</integer></plist>"},
        {"unfinishedtext", "{ a = b;"},
    };
    for (const auto &file : files) {
        testutil::WriteFile(dir_ / file.first, file.second);
        EXPECT_EQ(CreatePropertyListFromPath((dir_ / file.first).c_str(), 0), nullptr) << file.first;
        CFStringRef path = Str(dir_ / file.first);
        EXPECT_EQ(CreatePropertyListFromPathString(path, 0), nullptr) << file.first;
        CFRelease(path);
    }
    EXPECT_EQ(CreatePropertyListFromPath((dir_ / "missing").c_str(), 0), nullptr);
    EXPECT_EQ(CreatePropertyListFromPath(dir_.path().c_str(), 0), nullptr);
    EXPECT_EQ(CreatePropertyListFromPath(nullptr, 0), nullptr);
    EXPECT_EQ(CreatePropertyListFromPathString(nullptr, 0), nullptr);
    EXPECT_EQ(CreatePropertyListFromURL(nullptr, 0), nullptr);
}

TEST_F(HelpersTest, WritesAndTheirCodes) {
    const void *keys[] = {CFSTR("Version")};
    const void *values[] = {CFSTR("1.2")};
    CFDictionaryRef plist = CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                                               &kCFTypeDictionaryValueCallBacks);
    const std::string out = dir_ / "out.plist";
    EXPECT_EQ(
        WritePropertyListToPath(plist, reinterpret_cast<const UInt8 *>(out.data()), static_cast<CFIndex>(out.size())),
        kIOReturnSuccess);
    CFPropertyListRef back = CreatePropertyListFromPath(out.c_str(), 0);
    EXPECT_TRUE(CFEqual(back, plist));
    if (back != nullptr) CFRelease(back);

    // A one-byte path, relative to the working folder, is a path like any other.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    EXPECT_EQ(WritePropertyListToPath(plist, reinterpret_cast<const UInt8 *>("p"), 1), kIOReturnSuccess);
    CFPropertyListRef shortBack = CreatePropertyListFromPath("p", 0);
    EXPECT_TRUE(shortBack != nullptr && CFEqual(shortBack, plist));
    if (shortBack != nullptr) CFRelease(shortBack);
    CFDataRef shortData = CreateDataFromPath("p", nullptr);
    EXPECT_NE(shortData, nullptr);
    if (shortData != nullptr) CFRelease(shortData);
    ASSERT_EQ(chdir(cwd), 0);

    // A length that counts the C string's NUL, and a file's path that ends in "/", name the same file.
    for (const std::string &same : {out + std::string(1, '\0'), out + "/"}) {
        ASSERT_EQ(unlink(out.c_str()), 0);
        EXPECT_EQ(WritePropertyListToPath(plist, reinterpret_cast<const UInt8 *>(same.data()),
                                          static_cast<CFIndex>(same.size())),
                  kIOReturnSuccess);
        CFPropertyListRef again = CreatePropertyListFromPath(same.c_str(), 0);
        EXPECT_TRUE(again != nullptr && CFEqual(again, plist));
        if (again != nullptr) CFRelease(again);
    }
    EXPECT_EQ(testutil::ListFolder(dir_.path()).size(), 2u);  // out.plist and p

    const UInt8 *bytes = reinterpret_cast<const UInt8 *>(out.data());
    EXPECT_EQ(WritePropertyListToPath(plist, bytes, 0), static_cast<IOReturn>(0xe00002c2));
    EXPECT_EQ(WritePropertyListToPath(plist, bytes, -3), static_cast<IOReturn>(0xe00002c2));
    EXPECT_EQ(WritePropertyListToPath(nullptr, bytes, 4), static_cast<IOReturn>(0xe00002c2));
    EXPECT_EQ(WritePropertyListToPath(plist, nullptr, 4), static_cast<IOReturn>(0xe00002c2));
    EXPECT_EQ(WritePropertyListToPath(plist, reinterpret_cast<const UInt8 *>("/tmp/a\0b"), 8),
              static_cast<IOReturn>(0xe0000001));
    const std::string missing = dir_ / "no/such/folder.plist";
    EXPECT_EQ(WritePropertyListToPath(plist, reinterpret_cast<const UInt8 *>(missing.data()),
                                      static_cast<CFIndex>(missing.size())),
              -10);
    EXPECT_EQ(WritePropertyListToPath(plist, reinterpret_cast<const UInt8 *>(dir_.path().data()),
                                      static_cast<CFIndex>(dir_.path().size())),
              -10);

    // Something that is no property list cannot be serialised.
    CFStringRef path = Str(out);
    CFURLRef url = CFURLCreateWithFileSystemPath(kCFAllocatorDefault, path, kCFURLPOSIXPathStyle, false);
    EXPECT_EQ(WritePropertyListToURL(url, url), static_cast<IOReturn>(0xe00002c2));
    EXPECT_EQ(WritePropertyListToURL(plist, nullptr), static_cast<IOReturn>(0xe00002c2));
    EXPECT_EQ(WritePropertyListToURL(nullptr, url), static_cast<IOReturn>(0xe00002c2));
    // A refused write that leaves no code of its own is still reported as a failure.
    standin::SetUrlWriteFailsWithoutCode(true);
    EXPECT_EQ(WritePropertyListToURL(plist, url), kIOReturnError);
    CFRelease(url);
    CFRelease(path);
    CFRelease(plist);
}

TEST_F(HelpersTest, DictionaryValuesByType) {
    const void *keys[] = {CFSTR("s"), CFSTR("n")};
    int32_t five = 5;
    CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &five);
    const void *values[] = {CFSTR("text"), number};
    CFDictionaryRef dict = CFDictionaryCreate(kCFAllocatorDefault, keys, values, 2, &kCFTypeDictionaryKeyCallBacks,
                                              &kCFTypeDictionaryValueCallBacks);
    EXPECT_EQ(GetDictionaryValueOfType(dict, CFNumberGetTypeID(), CFSTR("n")), number);
    EXPECT_EQ(GetDictionaryValueOfType(dict, CFStringGetTypeID(), CFSTR("n")), nullptr);
    EXPECT_EQ(GetDictionaryValueOfType(dict, CFStringGetTypeID(), CFSTR("absent")), nullptr);
    EXPECT_EQ(GetDictionaryValueOfType(nullptr, CFStringGetTypeID(), CFSTR("s")), nullptr);
    EXPECT_EQ(GetDictionaryValueOfType(dict, CFStringGetTypeID(), nullptr), nullptr);
    CFRelease(dict);
    CFRelease(number);
}

TEST_F(HelpersTest, CStringFromCFString) {
    EXPECT_EQ(CreateCStringFromCFString(nullptr), nullptr);
    EXPECT_EQ(CreateCStringFromCFString(CFSTR("")), nullptr);
    char *text = CreateCStringFromCFString(CFSTR("h\xC3\xA9llo \xE2\x82\xAC"));
    EXPECT_STREQ(text, "h\xC3\xA9llo \xE2\x82\xAC");
    free(text);
}

struct ListCase {
    std::vector<std::string> elements;
};

TEST_F(HelpersTest, StringLists) {
    const ListCase cases[] = {
        {{}},
        {{"alpha", "beta", "gamma"}},
        {{"\xC3\xA9"}},
        {{"a\xC3\xA9", "\xE2\x82\xACuro", "\xF0\x9F\x98\x80"}},
        {{"first", "", "last"}},  // an empty element is an empty string, no failure
    };
    for (const auto &c : cases) {
        std::vector<CFStringRef> strings;
        for (const auto &e : c.elements) strings.push_back(Str(e));
        CFArrayRef array = CFArrayCreate(kCFAllocatorDefault, reinterpret_cast<const void **>(strings.data()),
                                         static_cast<CFIndex>(strings.size()), &kCFTypeArrayCallBacks);
        char **list = nullptr;
        uint64_t size = 0;
        ASSERT_EQ(CreateCStringList(array, &list, &size), kIOReturnSuccess);
        EXPECT_EQ(size, 8 * (c.elements.size() + 1));
        for (size_t i = 0; i < c.elements.size(); ++i) EXPECT_EQ(std::string(list[i]), c.elements[i]) << i;
        EXPECT_EQ(list[c.elements.size()], nullptr);
        EXPECT_EQ(FreeCStringList(list, size), kIOReturnSuccess);
        free(list);
        CFRelease(array);
        for (CFStringRef s : strings) CFRelease(s);
    }
}

TEST_F(HelpersTest, StringListFailures) {
    int32_t one = 1;
    CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &one);
    const void *values[] = {CFSTR("first"), number, CFSTR("third")};
    CFArrayRef array = CFArrayCreate(kCFAllocatorDefault, values, 3, &kCFTypeArrayCallBacks);
    char **list = reinterpret_cast<char **>(0x1);
    uint64_t size = 99;
    EXPECT_EQ(CreateCStringList(array, &list, &size), static_cast<IOReturn>(0xe00002c2));
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(size, 0u);
    list = reinterpret_cast<char **>(0x1);
    EXPECT_EQ(CreateCStringList(nullptr, &list, &size), static_cast<IOReturn>(0xe00002c2));
    EXPECT_EQ(list, reinterpret_cast<char **>(0x1));  // untouched
    EXPECT_EQ(CreateCStringList(array, nullptr, &size), static_cast<IOReturn>(0xe00002c2));
    EXPECT_EQ(CreateCStringList(array, &list, nullptr), static_cast<IOReturn>(0xe00002c2));
    CFRelease(array);
    CFRelease(number);
    const void *missing[] = {CFSTR("first"), nullptr};  // an array without callbacks may hold null
    CFArrayRef holed = CFArrayCreate(kCFAllocatorDefault, missing, 2, nullptr);
    EXPECT_EQ(CreateCStringList(holed, &list, &size), static_cast<IOReturn>(0xe00002c2));
    EXPECT_EQ(list, nullptr);
    CFRelease(holed);

    char *full[2] = {strdup("a"), strdup("b")};  // no terminator in the size given: both freed
    EXPECT_EQ(FreeCStringList(full, sizeof full), kIOReturnSuccess);
    char *slots[2] = {nullptr, nullptr};
    EXPECT_EQ(FreeCStringList(slots, 0), static_cast<IOReturn>(0xe00002c2));
    EXPECT_EQ(FreeCStringList(slots, 12), static_cast<IOReturn>(0xe00002c2));
    EXPECT_EQ(FreeCStringList(nullptr, 8), static_cast<IOReturn>(0xe00002c2));
    EXPECT_EQ(FreeCStringList(slots, 16), kIOReturnSuccess);
}

}  // namespace
