// The setting table, the enabled mask and the value providers.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "inventory/store.h"
#include "report/settings.h"
#include "standin_testing.h"
#include "test_util.h"

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { memset(&gStore, 0, sizeof gStore); }
    void TearDown() override { standin::UseLiveComputerName(); }
};

TEST_F(SettingsTest, TableNamesAndMask) {
    const char *const names[kSettingRowCount] = {
        "ComputerMakeWMI",  "ComputerModelWMI", "ComputerSerialWMI", "ComputerMake",        "ComputerModel",
        "ComputerSerial",   "ComputerAsset0",   "ComputerAsset1",    "SystemSMBIOSVersion", "SystemBiosVersion",
        "SystemBiosDate",   "BaseBoardVersion", "HDDSerialNumber0",  "HDDSerialNumber1",    "HDDSerialNumber2",
        "HDDSerialNumber3", "ComputerName",     "NICAdapterName0",   "MACAddress0",         "IPAddress0",
        "NICAdapterName1",  "MACAddress1",      "IPAddress1",        "NICAdapterName2",     "MACAddress2",
        "IPAddress2",       "NICAdapterName3",  "MACAddress3",       "IPAddress3",          "OSProductKey",
        "BatteryDeviceID",  "InventoryVersion", "ComputerUUID"};
    for (int row = 0; row < kSettingRowCount; ++row) {
        EXPECT_STREQ(kSettingTable[row].name, names[row]) << row;
        // The rows whose bit is clear are exactly the rows without a provider.
        EXPECT_EQ(IsRowEnabled(row), kSettingTable[row].provider != nullptr) << row;
    }
    EXPECT_EQ(kSettingTable[kSettingRowCount].name, nullptr);
    EXPECT_FALSE(IsRowEnabled(32));
    EXPECT_FALSE(IsRowEnabled(-1));
    EXPECT_FALSE(IsRowEnabled(40));
}

TEST_F(SettingsTest, DisabledRowsAreAlwaysEmpty) {
    for (int row : {7, 8, 9, 10, 11, 29, 30, 32}) EXPECT_STREQ(SettingValue(row), "") << row;
    EXPECT_STREQ(SettingValue(33), "");
    EXPECT_STREQ(SettingValue(-5), "");
}

TEST_F(SettingsTest, FixedValuesAndStoreTexts) {
    strcpy(gStore.modelText, "Model");
    strcpy(gStore.serialText, "SER");
    strcpy(gStore.assetText, "ASSET");
    strcpy(gStore.makeText, "Maker");
    EXPECT_STREQ(SettingValue(0), "Maker");
    EXPECT_STREQ(SettingValue(3), "Maker");
    EXPECT_STREQ(SettingValue(1), "Model");
    EXPECT_STREQ(SettingValue(4), "Model");
    EXPECT_STREQ(SettingValue(2), "SER");
    EXPECT_STREQ(SettingValue(5), "SER");
    EXPECT_STREQ(SettingValue(6), "ASSET");
    EXPECT_STREQ(SettingValue(31), "1.11");
}

struct DiskCase {
    int32_t count;
    int32_t index;
    const char *expected;
};

TEST_F(SettingsTest, DiskSerialsFollowTheCount) {
    strcpy(gStore.diskSerials[0], "D0");
    strcpy(gStore.diskSerials[1], "D1");
    strcpy(gStore.diskSerials[3], "D3");
    const DiskCase cases[] = {
        {1, 0, "D0"}, {1, 1, ""},  {2, 1, "D1"}, {4, 3, "D3"},
        {0, 0, ""},   {-1, 0, ""}, {5, 0, ""},  // a count above the slot count makes every row empty
        {4, 4, ""},   {4, -1, ""},
    };
    for (const auto &c : cases) {
        gStore.diskSerialCount = c.count;
        EXPECT_STREQ(DiskSerialProvider(c.index), c.expected) << c.count << "/" << c.index;
    }
}

TEST_F(SettingsTest, InterfaceZeroFormsAndValues) {
    EXPECT_STREQ(SettingValue(17), "");
    EXPECT_STREQ(SettingValue(18), "000000000000");
    EXPECT_STREQ(SettingValue(19), "0.0.0.0");
    InterfaceRecord &r = gStore.interfaces[2];
    strcpy(r.name, "en0");
    const unsigned char mac[6] = {0x00, 0x1b, 0x63, 0xAB, 0xcd, 0xEF};
    memcpy(r.linkAddress, mac, 6);
    const unsigned char ip[4] = {192, 168, 1, 254};
    memcpy(r.ipv4Address, ip, 4);
    EXPECT_STREQ(InterfaceNameProvider(2), "en0");
    EXPECT_STREQ(MacAddressProvider(2), "001b63abcdef");
    EXPECT_STREQ(IPv4AddressProvider(2), "192.168.1.254");
    EXPECT_STREQ(InterfaceNameProvider(16), "Unknown");
    EXPECT_STREQ(InterfaceNameProvider(-1), "Unknown");
    EXPECT_STREQ(InterfaceNameProvider(15), "");
    EXPECT_STREQ(MacAddressProvider(15), "000000000000");
    strcpy(gStore.scratch, "dirty");
    EXPECT_STREQ(MacAddressProvider(16), "");
    for (char c : gStore.scratch) EXPECT_EQ(c, 0);
    strcpy(gStore.scratch, "dirty");
    EXPECT_STREQ(IPv4AddressProvider(99), "");
    for (char c : gStore.scratch) EXPECT_EQ(c, 0);
    EXPECT_STREQ(MacAddressProvider(-1), "");
    EXPECT_STREQ(IPv4AddressProvider(-1), "");
}

using testutil::Repeat;

struct NameCase {
    std::string name;
    std::string expected;
};

TEST_F(SettingsTest, ComputerNameIsEscapedAndBounded) {
    const NameCase cases[] = {
        {"office-mac", "office-mac"},
        {"", ""},
        {"Tom & Jerry's <\"Mac\">", "Tom &amp; Jerry&apos;s &lt;&quot;Mac&quot;&gt;"},
        {"tab\tname\n", "tab name "},
        {"Caf\xC3\xA9", "Caf\xC3\xA9"},
        {std::string(80, 'n'), std::string(63, 'n')},
        {std::string(20, '&'), Repeat("&amp;", 12)},
    };
    for (const auto &c : cases) {
        standin::SetComputerName(c.name);
        EXPECT_EQ(std::string(ComputerNameProvider(0)), c.expected) << c.name;
        EXPECT_EQ(std::string(SettingValue(16)), c.expected) << c.name;
    }
}

TEST_F(SettingsTest, NoComputerNameGivesMacintosh) {
    standin::SetNoComputerName();
    EXPECT_STREQ(SettingValue(16), "Macintosh");
}

TEST_F(SettingsTest, LongMultibyteNameIsCutOnWholeCharacters) {
    // 30 three-byte characters: the 64-byte conversion keeps 21 (63 bytes) and escaping keeps them all.
    std::string name;
    for (int i = 0; i < 30; ++i) name += "\xE2\x82\xAC";
    standin::SetComputerName(name);
    EXPECT_EQ(std::string(SettingValue(16)), name.substr(0, 63));
}

}  // namespace
