// Model, serial number and asset value from the platform expert, and the serial-number data parse.
#include "collectors/platform_identity.h"

#include <string.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "collector_fixture.h"
#include "inventory/captured_text.h"
#include "inventory/store.h"
#include "report/capture_pass.h"
#include "test_util.h"

namespace {

using standin::Property;

std::string Bytes(const char *s, size_t n) { return std::string(s, n); }
// text followed by NULs up to size bytes.
std::string Padded(const std::string &text, size_t size) { return text + std::string(size - text.size(), '\0'); }

struct IdentityCase {
    const char *what;
    bool hasExpert;
    std::vector<std::pair<std::string, Property>> properties;
    const char *model;
    const char *serial;
    const char *asset;
};

class PlatformIdentityTest : public CollectorTest {};

TEST_F(PlatformIdentityTest, CapturePassResults) {
    const std::string data = Bytes("XYZASSET1\0\0\0\0C02SERIAL\0", 23);
    const IdentityCase cases[] = {
        {"normal machine",
         true,
         {{"model", Property::Data(Bytes("MacBookPro18,3\0", 15))},
          {"IOPlatformSerialNumber", Property::String("C02XK0AAJGH5")},
          {"serial-number", Property::Data(data)}},
         "MacBookPro18,3",
         "C02XK0AAJGH5",
         ""},
        {"serial cut to 33 bytes",
         true,
         {{"IOPlatformSerialNumber", Property::String("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789")}},
         "",
         "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456",
         ""},
        {"serial cut on a whole character",
         true,
         {{"IOPlatformSerialNumber", Property::String(std::string(32, 'A') + "\xC3\xA9")}},
         "",
         "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA",
         ""},
        {"serial escaped and trimmed",
         true,
         {{"IOPlatformSerialNumber", Property::String("  A&B\t")}},
         "",
         "A&amp;B",
         ""},
        {"blank serial falls back",
         true,
         {{"IOPlatformSerialNumber", Property::String("   ")}, {"serial-number", Property::Data(data)}},
         "",
         "C02SERIALXYZ",
         "ASSET1"},
        {"non-string serial falls back",
         true,
         {{"IOPlatformSerialNumber", Property::Data("C02")}, {"serial-number", Property::Data(data)}},
         "",
         "C02SERIALXYZ",
         "ASSET1"},
        {"serial-number not data", true, {{"serial-number", Property::String("XYZASSET")}}, "", "", ""},
        {"empty serial-number and model data (no bytes at all)",
         true,
         {{"serial-number", Property::Data("")}, {"model", Property::Data("")}},
         "",
         "",
         ""},
        {"no serial at all", true, {{"model", Property::Data(Bytes("iMac\0", 5))}}, "iMac", "", ""},
        {"model not data", true, {{"model", Property::String("iMac")}}, "", "", ""},
        {"model without NUL, escaped, trimmed",
         true,
         {{"model", Property::Data("  iMac <2020>  ")}},
         "iMac &lt;2020&gt;",
         "",
         ""},
        {"model cut to 63 bytes",
         true,
         {{"model", Property::Data(std::string(300, 'm'))}},
         "mmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmm",
         "",
         ""},
        {"model bytes taken as they are",
         true,
         {{"model", Property::Data(Bytes("Caf\xC3\xA9\0junk", 10))}},
         "Caf\xC3\xA9",
         "",
         ""},
        {"no platform expert", false, {}, "", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<standin::Service> services;
        if (c.hasExpert) services.push_back({"IOPlatformExpertDevice", c.properties});
        Install(services);
        memset(&gStore, 'Q', sizeof gStore.modelText * 4);  // the pass clears what it fills
        RunCapturePass();
        EXPECT_STREQ(gStore.modelText, c.model) << c.what;
        EXPECT_STREQ(gStore.serialText, c.serial) << c.what;
        EXPECT_STREQ(gStore.assetText, c.asset) << c.what;
    }
}

TEST_F(PlatformIdentityTest, ResultTellsWhereTheSerialCameFrom) {
    char serial[64], asset[64], model[64];
    Install({{"IOPlatformExpertDevice", {{"IOPlatformSerialNumber", Property::String("S1")}}}});
    EXPECT_EQ(CapturePlatformIdentity(serial, asset, nullptr), 1);
    EXPECT_STREQ(serial, "S1");
    Install({{"IOPlatformExpertDevice", {{"serial-number", Property::Data(Bytes("ABCasset\0\0\0\0\0SER\0", 17))}}}});
    EXPECT_EQ(CapturePlatformIdentity(serial, asset, model), 0);
    EXPECT_STREQ(serial, "SERABC");
    EXPECT_EQ(CapturePlatformIdentity(nullptr, asset, model), 0);
    strcpy(serial, "old");
    EXPECT_EQ(CapturePlatformIdentity(serial, nullptr, model), 0);
    EXPECT_STREQ(serial, "");
    EXPECT_EQ(ReadPlatformModel(0, model), 0);
    Install({});
    strcpy(model, "old");
    EXPECT_EQ(CapturePlatformIdentity(serial, asset, model), 0) << "no platform expert";
    EXPECT_STREQ(model, "") << "emptied first";
    Install({{"IOPlatformExpertDevice", {{"model", Property::Data(Bytes("iMac20,1\0", 9))}}}});
    // Owned: released below.
    const io_service_t expert =
        IOServiceGetMatchingService(kIOMasterPortDefault, IOServiceMatching("IOPlatformExpertDevice"));
    EXPECT_EQ(ReadPlatformModel(expert, model), 1);
    EXPECT_STREQ(model, "iMac20,1");
    EXPECT_EQ(ReadPlatformModel(expert, nullptr), 0);
    IOObjectRelease(expert);

    // The make: 1 when the platform names one, else 0 with the text emptied.
    testutil::TempDir root;
    ASSERT_TRUE(std::filesystem::create_directories(root / "sys/class/dmi/id"));
    ASSERT_TRUE(testutil::WriteFile(root / "sys/class/dmi/id/sys_vendor", "Maker <&> Inc.\n"));
    char make[64] = "old";
    standin::UseLiveRegistry(root.path());
    EXPECT_EQ(CaptureComputerMake(make), 1);
    EXPECT_STREQ(make, "Maker &lt;&amp;&gt; Inc.");
    standin::UseLiveRegistry((root / "none").c_str());
    EXPECT_EQ(CaptureComputerMake(make), 0);
    EXPECT_STREQ(make, "");
    EXPECT_EQ(CaptureComputerMake(nullptr), 0);
}

struct ParseCase {
    const char *what;
    std::string data;
    std::string asset;
    std::string serial;
};

// Serial-number data: "XYZ", the asset text, NULs up to offset 13, then the serial text.
std::string Layout(const std::string &asset, const std::string &serial) {
    return "XYZ" + asset + std::string(asset.size() < 10 ? 10 - asset.size() : 0, '\0') + serial + '\0';
}

TEST(ParseSerialNumberData, LayoutCases) {
    const std::string euro = "\xE2\x82\xAC", smile = "\xF0\x9F\x98\x80";
    const ParseCase cases[] = {
        {"only the first suffix byte matches", Layout("A", "C02XQQ"), "A", "C02XQQXYZ"},
        {"only the first two suffix bytes match", Layout("A", "C02XYQ"), "A", "C02XYQXYZ"},
        {"only the last suffix byte matches", Layout("A", "C02QQZ"), "A", "C02QQZXYZ"},
        {"only the first suffix byte differs", Layout("A", "C02QYZ"), "A", "C02QYZXYZ"},
        {"all three suffix bytes match", Layout("A", "C02XYZ"), "A", "C02XYZ"},
        // As Macs store them, padded with NULs to 43 bytes: 12-character serials keep four characters
        // at offset 0, 11-character ones three, followed by the first eight or the whole serial.
        {"12 characters: the whole serial at offset 13", Padded("LVDC", 13) + Padded("C02YRAHMLVDC", 30), "",
         "C02YRAHMLVDC"},
        {"12 characters, padded with blanks", Padded("LVDC", 13) + Padded("C02YRAHMLVDC  ", 30), "", "C02YRAHMLVDC"},
        {"11 characters: the first eight at offset 13", Padded("YA4", 13) + Padded("YM8330AB", 30), "", "YM8330ABYA4"},
        {"11 characters: the whole serial at offset 13", Padded("YA4", 13) + Padded("YM8330ABYA4", 30), "",
         "YM8330ABYA4"},
        {"asset: a 3-byte character ending before the cut", Layout("ABCDE" + euro, "S"), "ABCDE" + euro, "SXYZ"},
        {"asset: a 3-byte character ending on the cut", Layout("ABCDEF" + euro, "S"), "ABCDEF" + euro, "SXYZ"},
        {"asset: a 3-byte character ending past the cut", Layout("ABCDEFG" + euro, "S"), "ABCDEFG", "SXYZ"},
        {"asset: a 4-byte character ending before the cut", Layout("ABCD" + smile, "S"), "ABCD" + smile, "SXYZ"},
        {"asset: a 4-byte character ending on the cut", Layout("ABCDE" + smile, "S"), "ABCDE" + smile, "SXYZ"},
        {"asset: a 4-byte character ending past the cut", Layout("ABCDEF" + smile, "S"), "ABCDEF", "SXYZ"},
        {"serial already ends with the suffix", Bytes("XYZASSET\0\0\0\0\0C02ABCXYZ\0", 23), "ASSET", "C02ABCXYZ"},
        {"suffix appended", Bytes("XYZASSET\0\0\0\0\0C02ABC\0", 20), "ASSET", "C02ABCXYZ"},
        {"trailing blanks before the comparison", Bytes("XYZASSET\0\0\0\0\0C02ABCXYZ   \0", 26), "ASSET", "C02ABCXYZ"},
        {"trailing high bytes and controls removed", Bytes("XYZA\0\0\0\0\0\0\0\0\0C02\xC3\xA9\t\0", 19), "A", "C02XYZ"},
        {"further bytes after the serial's NUL", Bytes("XYZA\0\0\0\0\0\0\0\0\0S1\0garbage", 23), "A", "S1XYZ"},
        {"asset cut to 9 bytes, running into the serial", Bytes("XYZABCDEFGHIJSERIAL\0", 20), "ABCDEFGHI", "SERIALXYZ"},
        {"asset cut before a split entity", Bytes("XYZABCDEF&G\0\0S\0", 15), "ABCDEF", "SXYZ"},
        {"asset cut after a whole entity", Bytes("XYZAB&CDEFG\0\0S\0", 15), "AB&amp;CD", "SXYZ"},
        {"no NUL anywhere", Bytes("XYZABCDEFGHIJSERIAL", 19), "ABCDEFGHI", "SERIALXYZ"},
        {"shorter than 13 bytes", Bytes("XYZasset", 8), "asset", "XYZ"},
        {"shorter than 3 bytes", Bytes("XY", 2), "", "XY"},
        {"serial of junk only compares bytes 10 to 12", Bytes("XYZa\0\0\0\0\0\0XYZ\x01\x02\0", 16), "a", ""},
        {"special characters in the suffix", Bytes("A<BASSET\0\0\0\0\0SER\0", 17), "ASSET", "SERA&lt;B"},
        {"suffix stops at a NUL", Bytes("AB\0ASSET\0\0\0\0\0SER\0", 17), "ASSET", "SERAB"},
        {"empty first text", Bytes("\0YZASSET\0\0\0\0\0SER\0", 17), "", ""},
        {"blank first text", Bytes("   \0SSET\0\0\0\0\0SER\0", 17), "", ""},
        {"no room left for the suffix", "XYZ" + std::string(10, 'a') + std::string(70, 'S'), "aaaaaaaaa",
         "SSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSS"},
        {"suffix cut on a whole entity", "&&&" + std::string(10, 'a') + std::string(58, 'S'), "aaaaaaaaa",
         "SSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSS&amp;"},
    };
    for (const auto &c : cases) {
        // An exact-size heap copy, so that a read past the end is caught by the sanitizers.
        std::vector<UInt8> bytes(c.data.begin(), c.data.end());
        const std::vector<UInt8> before = bytes;
        char asset[64], serial[64];
        ParseSerialNumberData(bytes.data(), static_cast<CFIndex>(bytes.size()), asset, serial);
        TrimSpaces(asset);
        TrimSpaces(serial);
        EXPECT_EQ(std::string(asset), c.asset) << c.what;
        EXPECT_EQ(std::string(serial), c.serial) << c.what;
        EXPECT_EQ(bytes, before) << c.what << ": the data was modified";
    }
}

TEST(ParseSerialNumberData, NullsAndEmptyData) {
    const UInt8 one = 'A';
    const std::pair<const UInt8 *, CFIndex> noBytes[] = {{nullptr, 10}, {&one, 0}, {&one, -4}};
    char asset[64], serial[64];
    for (const auto &c : noBytes) {
        strcpy(asset, "old");
        strcpy(serial, "old");
        ParseSerialNumberData(c.first, c.second, asset, serial);
        EXPECT_STREQ(asset, "") << c.second;
        EXPECT_STREQ(serial, "") << c.second;
    }
    strcpy(serial, "old");
    ParseSerialNumberData(&one, 1, nullptr, serial);
    EXPECT_STREQ(serial, "old");  // a null asset returns before anything is touched
    ParseSerialNumberData(&one, 1, asset, nullptr);
}

}  // namespace
