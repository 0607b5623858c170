// Disk serial numbers from AHCI disk drivers, ATA device nubs and NVMe devices: internal disks before
// external ones, optical drives left out, subclasses found as I/O Kit finds them.
#include "collectors/disk_serials.h"

#include <string.h>

#include <string>
#include <vector>

#include "collector_fixture.h"
#include "report/capture_pass.h"
#include "report/settings.h"

namespace {

using standin::Property;
using standin::Service;

// Disk services shaped as real Macs register them. A location or device type of "" is left out.
Service Ahci(const std::string &serial, const std::string &location = "") {
    Service service{"AppleAHCIDiskDriver", {{"Serial Number", Property::String(serial)}}};
    if (!location.empty()) service.properties.push_back({"Physical Interconnect Location", Property::String(location)});
    return service;
}
Service Ata(const std::string &serial, const std::string &type = "") {
    Service service{"ATADeviceNub", {{"device serial", Property::String(serial)}}};
    if (!type.empty()) service.properties.push_back({"ata device type", Property::String(type)});
    return service;
}
const char kNVMe[] = "IONVMeBlockStorageDevice";
Service NVMeWith(Property characteristics) { return {kNVMe, {{"Device Characteristics", std::move(characteristics)}}}; }
Service NVMe(const std::string &serial, const std::string &location = "") {
    Service service = NVMeWith(Property::Dictionary({{"Serial Number", Property::String(serial)}}));
    if (!location.empty()) {
        service.properties.push_back(
            {"Protocol Characteristics",
             Property::Dictionary({{"Physical Interconnect", Property::String("PCI-Express")},
                                   {"Physical Interconnect Location", Property::String(location)}})});
    }
    return service;
}
// An Apple silicon Mac's internal SSD: a subclass of the NVMe class.
Service EmbeddedNVMe(const std::string &serial) {
    Service service = NVMe(serial, "Internal");
    service.className = "IOEmbeddedNVMeBlockDevice";
    service.superclasses = {kNVMe, "IOBlockStorageDevice", "IOService"};
    return service;
}

struct DiskCase {
    const char *what;
    std::vector<Service> registry;
    int32_t count;
    int32_t result;
    std::vector<std::string> slots;  // expected slot texts; the rest empty
};

class DiskSerialsTest : public CollectorTest {};

TEST_F(DiskSerialsTest, RegistryCases) {
    const std::string longSerial = std::string(60, 'L') + "&&";
    const DiskCase cases[] = {
        {"two AHCI and one ATA", {Ata("ata-1"), Ahci("ahci-1"), Ahci("ahci-2")}, 4, 3, {"ahci-1", "ahci-2", "ata-1"}},
        {"five disks",
         {Ahci("d1"), Ahci("d2"), Ahci("d3"), Ahci("d4"), Ahci("d5"), Ata("d6")},
         4,
         4,
         {"d1", "d2", "d3", "d4"}},
        {"padded and inner blanks",
         {Ahci("        WD-WCC4E1234567"), Ahci("  S3Z 9N 0K  ")},
         4,
         2,
         {"WD-WCC4E1234567", "S3Z 9N 0K"}},
        {"blank and missing serials use no slot",
         {{"AppleAHCIDiskDriver", {}}, Ahci("   "), Ahci(""), Ahci(std::string(600, ' ')), Ahci("real"), Ata("\t\n")},
         4,
         1,
         {"real"}},
        {"non-string properties skipped",
         {{"AppleAHCIDiskDriver", {{"Serial Number", Property::Data("DATA")}}}, Ahci("text")},
         4,
         1,
         {"text"}},
        {"each class has its own key",
         {{"ATADeviceNub", {{"Serial Number", Property::String("wrong")}}},
          {"AppleAHCIDiskDriver", {{"device serial", Property::String("wrong")}}}},
         4,
         0,
         {}},
        {"long serial escaped and cut on an entity", {Ahci(longSerial)}, 4, 1, {std::string(60, 'L')}},
        {"escaped serial", {Ahci("<disk & \"one\">")}, 4, 1, {"&lt;disk &amp; &quot;one&quot;&gt;"}},
        {"511 bytes converted whole", {Ahci(std::string(509, ' ') + "AB")}, 4, 1, {"AB"}},
        {"NVMe devices last", {NVMe("nv-1"), Ata("ata-1"), Ahci("ahci-1")}, 4, 3, {"ahci-1", "ata-1", "nv-1"}},
        {"slots run out across passes",
         {NVMe(" nv-1 "), NVMe("nv-2"), Ata("ata-1"), Ahci("ahci-1"), Ahci("ahci-2")},
         4,
         4,
         {"ahci-1", "ahci-2", "ata-1", "nv-1"}},
        {"NVMe without a usable serial uses no slot",
         {{kNVMe, {}},
          {kNVMe, {{"Serial Number", Property::String("not in the dictionary")}}},
          NVMeWith(Property::String("not a dictionary")),
          NVMeWith(Property::Dictionary({{"Serial Number", Property::Data("DATA")}})),
          NVMeWith(Property::Dictionary({{"Model Number", Property::String("wrong key")}})),
          NVMe("   "),
          NVMe("nv-<&>")},
         4,
         1,
         {"nv-&lt;&amp;&gt;"}},
        {"MacBook: the DVD burner's ATAPI nub uses no slot",
         {Ata("     WD-WCAVY3642202", "ata"), Ata("K0182D41330", "atapi")},
         4,
         1,
         {"WD-WCAVY3642202"}},
        {"PowerMac: a CD-RW listed first, its date no serial",
         {Ata("2000/08/05", "atapi"), Ata("  5JT1XQ7M", "ata")},
         4,
         1,
         {"5JT1XQ7M"}},
        {"other device types, and a type that is no string, are read",
         {Ata("upper", "ATAPI"),
          Ata("none"),
          {"ATADeviceNub",
           {{"device serial", Property::String("data")}, {"ata device type", Property::Data("atapi")}}}},
         4,
         3,
         {"upper", "none", "data"}},
        {"Mac Pro: two external disks listed before the internal SSD",
         {Ahci("S1FVNYADC08524      ", "External"), Ahci("WD-WMC4N0123456", "External"), Ahci("S2A4NX0H", "Internal")},
         4,
         3,
         {"S2A4NX0H", "S1FVNYADC08524", "WD-WMC4N0123456"}},
        {"Mac Pro: four external disks leave room for the internal one",
         {Ahci("ext-1", "External"), Ahci("ext-2", "External"), Ahci("ext-3", "External"), Ahci("ext-4", "External"),
          Ahci("S2A4NX0H", "Internal")},
         4,
         4,
         {"S2A4NX0H", "ext-1", "ext-2", "ext-3"}},
        {"iMac: internal AHCI and NVMe disks before an external one listed first",
         {Ahci("WD-WX31A8765432", "External"), Ahci("     WD-WCAVY3642202", "Internal"),
          NVMe("  C0793620CNGJ1234", "Internal")},
         4,
         3,
         {"WD-WCAVY3642202", "C0793620CNGJ1234", "WD-WX31A8765432"}},
        {"external NVMe, and places that are unmarked, not strings or in the wrong property",
         {NVMe("nv-ext", "External"),
          {"AppleAHCIDiskDriver",
           {{"Serial Number", Property::String("ahci-data")},
            {"Physical Interconnect Location", Property::Data("External")}}},
          {"AppleAHCIDiskDriver",
           {{"Serial Number", Property::String("ahci-nested")},
            {"Protocol Characteristics",
             Property::Dictionary({{"Physical Interconnect Location", Property::String("External")}})}}},
          {kNVMe,
           {{"Device Characteristics", Property::Dictionary({{"Serial Number", Property::String("nv-top")}})},
            {"Physical Interconnect Location", Property::String("External")}}},
          Ahci("ahci-lower", "external")},
         4,
         4,
         {"ahci-data", "ahci-nested", "ahci-lower", "nv-top"}},
        {"an NVMe place in a property that is no dictionary",
         {{kNVMe,
           {{"Device Characteristics", Property::Dictionary({{"Serial Number", Property::String("nv-string")}})},
            {"Protocol Characteristics", Property::String("External")}}},
          NVMe("nv-ext", "External")},
         4,
         2,
         {"nv-string", "nv-ext"}},
        {"Apple silicon: the embedded SSD through its superclass, before a Thunderbolt disk",
         {NVMe("S4EWNX0R123456", "External"), EmbeddedNVMe("0ba0172ae1c1e42e")},
         4,
         2,
         {"0ba0172ae1c1e42e", "S4EWNX0R123456"}},
        {"no disks", {}, 4, 0, {}},
        {"fewer slots asked for", {Ahci("a"), Ahci("b"), Ata("c")}, 2, 2, {"a", "b"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Install(c.registry);
        char slots[4][kTextSize];
        memset(slots, 'Q', sizeof slots);
        EXPECT_EQ(CaptureDiskSerials(slots, c.count), c.result) << c.what;
        for (int i = 0; i < c.count; ++i) {
            const std::string expected = i < static_cast<int>(c.slots.size()) ? c.slots[i] : "";
            EXPECT_EQ(std::string(slots[i]), expected) << c.what << " slot " << i;
        }
        if (c.count < 4) {
            EXPECT_EQ(slots[c.count][0], 'Q') << c.what << ": wrote past count";
        }
    }
}

TEST_F(DiskSerialsTest, MasterPortFailureEmptiesEveryRow) {
    Install({Ahci("a")});
    standin::SetMasterPortResult(KERN_FAILURE);
    RunCapturePass();
    EXPECT_EQ(gStore.diskSerialCount, -1);
    for (int row = 12; row <= 15; ++row) EXPECT_STREQ(SettingValue(row), "") << row;
    char slots[4][kTextSize] = {"old", "old", "old", "old"};
    EXPECT_EQ(CaptureDiskSerials(slots, 0), 0) << "no slot asked for: no port needed";
    EXPECT_EQ(CaptureDiskSerials(slots, 4), -1);
    for (const auto &slot : slots) EXPECT_STREQ(slot, "");
}

TEST_F(DiskSerialsTest, NullArguments) {
    EXPECT_EQ(CaptureDiskSerials(nullptr, 4), 0);
    char slots[1][kTextSize] = {"keep"};
    EXPECT_EQ(CaptureDiskSerials(slots, 0), 0);
    EXPECT_STREQ(slots[0], "keep");
    EXPECT_FALSE(ReadServiceSerial(0, CFSTR("Serial Number"), slots[0]));
    EXPECT_FALSE(ReadServiceSerial(1, nullptr, slots[0]));
    EXPECT_FALSE(ReadServiceSerial(1, CFSTR("Serial Number"), nullptr));
    EXPECT_FALSE(ReadCharacteristicsSerial(0, CFSTR("Serial Number"), slots[0]));
    EXPECT_FALSE(ReadCharacteristicsSerial(1, nullptr, slots[0]));
    EXPECT_FALSE(ReadCharacteristicsSerial(1, CFSTR("Serial Number"), nullptr));
    EXPECT_STREQ(slots[0], "keep");

    // A service without the property, or with a serial that is all blanks: the slot is emptied first.
    Install({{kNVMe, {{"Serial Number", Property::String("   ")}}}});
    io_service_t service = IOServiceGetMatchingService(kIOMasterPortDefault, IOServiceMatching(kNVMe));  // owned
    ASSERT_NE(service, IO_OBJECT_NULL);
    EXPECT_FALSE(ReadServiceSerial(service, CFSTR("Serial Number"), slots[0]));
    EXPECT_STREQ(slots[0], "");
    strcpy(slots[0], "keep");
    EXPECT_FALSE(ReadCharacteristicsSerial(service, CFSTR("Serial Number"), slots[0]));
    EXPECT_STREQ(slots[0], "");
    IOObjectRelease(service);
}

TEST_F(DiskSerialsTest, OneDiskShowsInTheFirstRowOnly) {
    Install({Ahci(" ONLY ")});
    RunCapturePass();
    EXPECT_STREQ(SettingValue(12), "ONLY");
    for (int row = 13; row <= 15; ++row) EXPECT_STREQ(SettingValue(row), "") << row;
}

}  // namespace
