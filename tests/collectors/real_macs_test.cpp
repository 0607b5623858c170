// Real Macs' registries (tests/data/macos-registries, as `ioreg -lw0` printed them), through the
// capture pass: the model, the serial number from the platform expert and again from its
// serial-number data alone, and the disk rows a person expects of each machine (its own disks; no
// optical drive, USB stick or empty SD reader).
#include <string.h>

#include <string>
#include <vector>

#include "collector_fixture.h"
#include "inventory/store.h"
#include "real_macs.h"
#include "report/capture_pass.h"
#include "report/settings.h"

namespace {

struct RealMac {
    const char *file;
    const char *model, *serial;
    std::vector<std::string> disks;
};

class RealMacsTest : public CollectorTest {};

TEST_F(RealMacsTest, IdentityAndDisks) {
    const RealMac macs[] = {
        {"MacBookAir4,1.ioreg", "MacBookAir4,1", "Y07M28BZQXBV", {"388I75B3V4TY"}},
        {"MacBookPro15,1.ioreg", "MacBookPro15,1", "R75PT242MI2D", {"I920242563AKL3I5Z"}},  // NVMe behind the T2
        {"MacPro5,1.ioreg", "MacPro5,1", "IB974011OML", {"963709014755293LI5S8"}},  // beside a Blu-ray drive and USB
        {"iMac17,1.ioreg", "iMac17,1", "B41OO5RGLJ6V", {"F2X21ZJJ", "P80218675EUPSI8DH"}},  // a Fusion drive
    };
    for (const auto &mac : macs) {
        std::string error;
        std::vector<standin::Service> registry = testutil::ReadIoregFile(mac.file, &error);
        ASSERT_FALSE(registry.empty()) << mac.file << ": " << error;
        // As read, then with the platform expert's serial string gone: the serial-number data agrees.
        for (const bool fromData : {false, true}) {
            SCOPED_TRACE(std::string(mac.file) + (fromData ? ", serial from the data" : ""));
            if (fromData) {
                auto &properties = registry[0].properties;
                for (size_t i = 0; i < properties.size(); ++i) {
                    if (properties[i].first == "IOPlatformSerialNumber") properties.erase(properties.begin() + i);
                }
            }
            Install(registry);
            RunCapturePass();
            EXPECT_STREQ(SettingValue(1), mac.model);
            EXPECT_STREQ(SettingValue(2), mac.serial);
            EXPECT_STREQ(SettingValue(6), "") << "no asset value";
            for (int row = 0; row < 4; ++row) {
                const std::string expected = row < static_cast<int>(mac.disks.size()) ? mac.disks[row] : "";
                EXPECT_EQ(SettingValue(12 + row), expected) << "disk row " << row;
            }
        }
    }
}

// What ioreg prints and the reader cannot take is refused, with the line.
TEST_F(RealMacsTest, ReaderRefusesWhatIoregDoesNotPrint) {
    for (const char *text :
         {"  |   \"key\" = 1\n", "  +-o Name  <id 0x1>\n", "  +-o A  <class A, id 1>\n  | \"k\" = <abc>\n",
          "  +-o A  <class A, id 1>\n  | \"k\" = {\"a\"=\n", "  +-o A  <class A, id 1>\n  | what\n"}) {
        std::string error;
        EXPECT_TRUE(testutil::ReadIoreg(text, &error).empty()) << text;
        EXPECT_EQ(error.compare(0, 5, "line "), 0) << text;
    }
    std::string error;
    const auto services = testutil::ReadIoreg(
        "  +-o AppleAHCIDiskDriver  <class AppleAHCIDiskDriver, id 1>\n    {\n    |   \"n\" = 5\n"
        "    |   \"d\" = {\"a\"=\"x\",\"b\"=(1,2),\"c\"=Yes}\n    |   \"t\" = <\"ab\">\n    |   \"h\" = <00ff>\n    "
        "}\n",
        &error);
    ASSERT_EQ(services.size(), 1u) << error;
    EXPECT_EQ(services[0].superclasses, std::vector<std::string>{"IOAHCIBlockStorageDriver"});
    ASSERT_EQ(services[0].properties.size(), 3u) << "the number is left out";
    EXPECT_EQ(services[0].properties[0].second.entries.size(), 2u) << "the array is left out";
    EXPECT_EQ(services[0].properties[1].second.bytes, std::string("ab\0", 3));
    EXPECT_EQ(services[0].properties[2].second.bytes, std::string("\0\xff", 2));
}

}  // namespace
