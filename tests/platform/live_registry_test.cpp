// The live registry over a fake machine tree: the platform expert from DMI or the device tree, one
// disk service per whole disk in kernel name order, each serial source in its turn.
#include <IOKit/IOKitLib.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "collectors/disk_serials.h"
#include "collectors/interfaces.h"
#include "platform/platform.h"
#include "report/capture_pass.h"
#include "report/settings.h"
#include "standin_testing.h"
#include "test_util.h"

namespace {

using testutil::TempDir;

void Put(const TempDir &root, const std::string &path, const std::string &contents) {
    const std::string full = root / path;
    std::string command = "mkdir -p '" + full.substr(0, full.rfind('/')) + "'";
    ASSERT_EQ(system(command.c_str()), 0);
    ASSERT_TRUE(testutil::WriteFile(full, contents));
}

std::string PropertyText(io_service_t service, CFStringRef key) {
    CFTypeRef value = IORegistryEntryCreateCFProperty(service, key, kCFAllocatorDefault, 0);
    if (value == nullptr) return "<absent>";
    std::string text;
    if (CFGetTypeID(value) == CFDictionaryGetTypeID()) {
        const void *inner = CFDictionaryGetValue(static_cast<CFDictionaryRef>(value), CFSTR("Serial Number"));
        char buf[256] = "<absent>";
        if (inner != nullptr)
            CopyCFStringBytes(static_cast<CFStringRef>(inner), kCFStringEncodingUTF8, buf, sizeof buf);
        text = std::string("dict:") + buf;
    } else if (CFGetTypeID(value) == CFDataGetTypeID()) {
        CFDataRef data = static_cast<CFDataRef>(value);
        text = "data:" + std::string(reinterpret_cast<const char *>(CFDataGetBytePtr(data)),
                                     static_cast<size_t>(CFDataGetLength(data)));
    } else {
        char buf[256];
        CopyCFStringBytes(static_cast<CFStringRef>(value), kCFStringEncodingUTF8, buf, sizeof buf);
        text = buf;
    }
    CFRelease(value);
    return text;
}

// The serial property of every service of a disk class, in registry order.
std::vector<std::string> DiskSerials(const char *className = "AppleAHCIDiskDriver",
                                     CFStringRef key = CFSTR("Serial Number")) {
    std::vector<std::string> serials;
    io_iterator_t it = 0;
    EXPECT_EQ(IOServiceGetMatchingServices(0, IOServiceMatching(className), &it), KERN_SUCCESS);
    while (io_service_t s = IOIteratorNext(it)) {
        serials.push_back(PropertyText(s, key));
        IOObjectRelease(s);
    }
    IOObjectRelease(it);
    return serials;
}

class LiveRegistryTest : public ::testing::Test {
  protected:
    void TearDown() override { standin::UseLiveRegistry(); }
    TempDir root_;
};

TEST_F(LiveRegistryTest, PlatformExpertFromDmi) {
    Put(root_, "sys/class/dmi/id/product_name", "Precision 5570\n");
    Put(root_, "sys/class/dmi/id/product_serial", "7XK2ZH3\n");
    Put(root_, "sys/firmware/devicetree/base/model", std::string("Ignored\0", 8));
    standin::UseLiveRegistry(root_.path());
    io_service_t expert = GetPlatformExpert();
    ASSERT_NE(expert, 0u);
    EXPECT_EQ(PropertyText(expert, CFSTR("model")), std::string("data:Precision 5570\0", 20));
    EXPECT_EQ(PropertyText(expert, CFSTR("IOPlatformSerialNumber")), "7XK2ZH3");
    EXPECT_EQ(PropertyText(expert, CFSTR("serial-number")), "<absent>");
    IOObjectRelease(expert);
}

TEST_F(LiveRegistryTest, DeviceTreeModelAndMissingSerial) {
    Put(root_, "sys/firmware/devicetree/base/model", std::string("Raspberry Pi 4 Model B\0", 23));
    Put(root_, "sys/class/dmi/id/product_serial", "\n");
    standin::UseLiveRegistry(root_.path());
    io_service_t expert = GetPlatformExpert();
    ASSERT_NE(expert, 0u);
    EXPECT_EQ(PropertyText(expert, CFSTR("model")), std::string("data:Raspberry Pi 4 Model B\0", 28));
    EXPECT_EQ(PropertyText(expert, CFSTR("IOPlatformSerialNumber")), "<absent>");
    IOObjectRelease(expert);
}

TEST_F(LiveRegistryTest, NothingReadable) {
    standin::UseLiveRegistry(root_.path());
    io_service_t expert = GetPlatformExpert();
    ASSERT_NE(expert, 0u);  // the service is there, with no properties
    EXPECT_EQ(PropertyText(expert, CFSTR("model")), "<absent>");
    IOObjectRelease(expert);
    EXPECT_TRUE(DiskSerials().empty());
}

TEST_F(LiveRegistryTest, DisksInNameOrderWithEachSerialSource) {
    Put(root_, "sys/block/vdb/serial", "  VIRTIO-B  \n");
    Put(root_, "sys/block/sda/device/vpd_pg80", std::string("\0\x80\0\x08WD-12345trailing", 20));
    Put(root_, "sys/block/sdb/dev", "8:16\n");
    Put(root_, "run/udev/data/b8:16", "S:disk/by-id/x\nE:ID_SERIAL=Long_Name_UDEV42\nE:ID_SERIAL_SHORT=UDEV42\n");
    Put(root_, "sys/block/sdc/serial", "\n");
    Put(root_, "sys/block/sdc/device/serial", "DEV-SERIAL\n");
    Put(root_, "sys/block/sdd/size", "0\n");
    Put(root_, "sys/block/nvme1n1/serial", "S4EWNX0R123456      \n");
    Put(root_, "sys/block/nvme0n1/device/serial", "   \n");
    Put(root_, "sys/block/nvme2n1/dev", "259:4\n");
    Put(root_, "run/udev/data/b259:4", "E:ID_SERIAL_SHORT=NVME-UDEV\n");
    // The controller's serial in hex inside the namespace's wwid: blanks and NULs before it, blanks,
    // a NUL and more after it.
    Put(root_, "sys/block/nvme3n1/wwid", "nvme.8086-2000504853353030305f414220200078200000-494e54454c-00000001\n");
    Put(root_, "sys/block/nvme4n1/wwid", "eui.0025388b71b2c3d4\n");
    Put(root_, "sys/block/nvme5n1/wwid", "nvme.8086-50484-494e54454c-00000001\n");   // odd hex
    Put(root_, "sys/block/nvme6n1/wwid", "nvme.8086-5048zz-494e54454c-00000001\n");  // not hex
    for (const char *skipped : {"loop0", "ram0", "zram0", "dm-0", "md127", "sr0", "nbd0", "fd0"}) {
        Put(root_, std::string("sys/block/") + skipped + "/serial", "VIRTUAL\n");
    }
    standin::UseLiveRegistry(root_.path());
    const std::vector<std::string> ahci = {"WD-12345", "UDEV42", "DEV-SERIAL", "<absent>", "  VIRTIO-B  "};
    EXPECT_EQ(DiskSerials(), ahci);
    const std::vector<std::string> nvme = {"dict:   ",       "dict:S4EWNX0R123456      ",
                                           "dict:NVME-UDEV", "dict:PHS5000_AB",
                                           "dict:<absent>",  "dict:<absent>",
                                           "dict:<absent>"};
    EXPECT_EQ(DiskSerials("IONVMeBlockStorageDevice", CFSTR("Device Characteristics")), nvme);

    // Through the collector: trimmed, four slots, the disk without a serial uses none.
    char slots[4][kTextSize];
    EXPECT_EQ(CaptureDiskSerials(slots, 4), 4);
    EXPECT_STREQ(slots[0], "WD-12345");
    EXPECT_STREQ(slots[1], "UDEV42");
    EXPECT_STREQ(slots[2], "DEV-SERIAL");
    EXPECT_STREQ(slots[3], "VIRTIO-B");
}

// NVMe disks come after all other disks; a blank one uses no slot; the slots run out across passes.
TEST_F(LiveRegistryTest, NVMeDisksFillTheSlotsLeft) {
    Put(root_, "sys/block/vda/serial", "VDA\n");
    Put(root_, "sys/block/nvme0n1/serial", "  \n");
    Put(root_, "sys/block/nvme1n1/serial", "NV-<1>\n");
    Put(root_, "sys/block/nvme2n1/serial", "NV-2\n");
    Put(root_, "sys/block/nvme3n1/serial", "NV-3\n");
    Put(root_, "sys/block/sdz/serial", "SDZ\n");
    standin::UseLiveRegistry(root_.path());
    char slots[4][kTextSize];
    EXPECT_EQ(CaptureDiskSerials(slots, 4), 4);
    EXPECT_STREQ(slots[0], "SDZ");
    EXPECT_STREQ(slots[1], "VDA");
    EXPECT_STREQ(slots[2], "NV-&lt;1&gt;");
    EXPECT_STREQ(slots[3], "NV-2");
}

struct DiskOrderCase {
    const char *what;
    std::vector<std::string> disks;  // each with its name as serial; "name=usb", "name=pseudo" and
                                     // "name=virtual" link it through a USB device, scsi_debug's simulated
                                     // bus or the kernel's virtual devices, "name=removable" marks it removable
    std::vector<std::string> ahci, nvme;
    std::vector<std::string> slots;  // what the collector reports
};

// Whole disks in the kernel's order of names, only the machine's own, USB disks after the others.
TEST_F(LiveRegistryTest, DisksInKernelOrderOnlyTheMachines) {
    const DiskOrderCase cases[] = {
        {"more than 26 SCSI disks",
         {"sdab", "sdb", "sdaa", "sdd", "sda", "sdc"},
         {"sda", "sdb", "sdc", "sdd", "sdaa", "sdab"},
         {},
         {"sda", "sdb", "sdc", "sdd"}},
        {"more than 10 NVMe drives",
         {"nvme11n1", "nvme2n1", "nvme1n10", "nvme10n1", "nvme0n1", "nvme1n1", "nvme1n2"},
         {},
         {"nvme0n1", "nvme1n1", "nvme1n2", "nvme1n10", "nvme2n1", "nvme10n1", "nvme11n1"},
         {"nvme0n1", "nvme1n1", "nvme1n2", "nvme1n10"}},
        {"families stay apart, numbers by value",
         {"xvda", "mmcblk10", "vda", "sdz", "mmcblk1", "hd01", "hd1a", "nvme0n1"},
         {"hd01", "hd1a", "sdz", "vda", "xvda", "mmcblk1", "mmcblk10"},
         {"nvme0n1"},
         {"hd01", "hd1a", "sdz", "vda"}},
        {"eMMC boot and replay-protected areas and removable media are no disks",
         {"mmcblk0rpmb", "mmcblk0boot1", "mmcblk0", "mmcblk0boot0", "sdb=removable", "nvme0n1=removable"},
         {"mmcblk0"},
         {},
         {"mmcblk0"}},
        {"more disks than one pass picks, most of them removable",
         {"sda=removable", "sdb=removable", "sdc=removable", "sdd=removable", "sde=removable", "sdf=removable",
          "sdg=removable", "sdh=removable", "sdi=removable", "sdl", "sdj=removable", "sdk", "sdm"},
         {"sdk", "sdl", "sdm"},
         {},
         {"sdk", "sdl", "sdm"}},
        {"simulated and virtual disks are no disks, and the disks after them keep their order",
         {"sda=pseudo", "sdb", "sdc=pseudo", "sdd", "vda=virtual", "nvme0n1=pseudo", "nvme1n1"},
         {"sdb", "sdd"},
         {"nvme1n1"},
         {"sdb", "sdd", "nvme1n1"}},
        {"USB disks after the machine's own",
         {"sda=usb", "sdb=usb", "sdc", "nvme0n1", "nvme1n1=usb", "vda"},
         {"sda", "sdb", "sdc", "vda"},
         {"nvme0n1", "nvme1n1"},
         {"sdc", "vda", "nvme0n1", "sda"}},
    };
    for (const auto &c : cases) {
        TempDir root;
        for (const std::string &disk : c.disks) {
            const std::string name = disk.substr(0, disk.find('='));
            const std::string mark = disk.size() > name.size() ? disk.substr(name.size() + 1) : "";
            const std::map<std::string, std::string> devices = {
                {"usb", "sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/"},
                {"pseudo", "sys/devices/pseudo_0/adapter0/host2/target2:0:0/2:0:0:0/block/"},
                {"virtual", "sys/devices/virtual/block/"}};
            std::string folder = "sys/block/" + name;
            if (devices.count(mark) != 0) {
                folder = devices.at(mark) + name;
                ASSERT_EQ(mkdir((root / "sys").c_str(), 0755) == 0 || errno == EEXIST, true);
                ASSERT_EQ(mkdir((root / "sys/block").c_str(), 0755) == 0 || errno == EEXIST, true);
                ASSERT_EQ(symlink(("../" + folder.substr(4)).c_str(), (root / "sys/block/" + name).c_str()), 0);
            }
            Put(root, folder + "/serial", name + "\n");
            Put(root, folder + "/removable", mark == "removable" ? "1\n" : "0\n");
        }
        standin::UseLiveRegistry(root.path());
        EXPECT_EQ(DiskSerials(), c.ahci) << c.what;
        std::vector<std::string> nvme;
        for (const std::string &serial : c.nvme) nvme.push_back("dict:" + serial);
        EXPECT_EQ(DiskSerials("IONVMeBlockStorageDevice", CFSTR("Device Characteristics")), nvme) << c.what;
        char slots[4][kTextSize] = {};
        EXPECT_EQ(CaptureDiskSerials(slots, 4), static_cast<int>(c.slots.size())) << c.what;
        for (size_t i = 0; i < c.slots.size(); ++i) EXPECT_EQ(slots[i], c.slots[i]) << c.what << " " << i;
    }
}

struct IdentityCase {
    const char *what;
    std::vector<std::pair<std::string, std::string>> files;
    std::string make;  // as the report shows it
    std::string serial;
    std::string model = "";
};

TEST_F(LiveRegistryTest, MakeModelAndSerialFromDmiOrDeviceTree) {
    const std::string tree = "sys/firmware/devicetree/base/compatible";
    const std::string vendor = "sys/class/dmi/id/sys_vendor";
    const std::string treeSerial = "sys/firmware/devicetree/base/serial-number";
    const std::string dmiSerial = "sys/class/dmi/id/product_serial";
    const std::string product = "sys/class/dmi/id/product_name";
    const std::string board = "sys/class/dmi/id/board_vendor", boardName = "sys/class/dmi/id/board_name";
    const std::string boardSerial = "sys/class/dmi/id/board_serial";
    const std::string longVendor = std::string(60, 'V') + "&x";
    const IdentityCase cases[] = {
        {"specials, controls and blanks",
         {{vendor, "  Dell <Inc> & \"Sons\"\t \n"}},
         "Dell &lt;Inc&gt; &amp; &quot;Sons&quot;",
         ""},
        {"DMI decides over the device tree",
         {{vendor, "LENOVO\n"},
          {tree, std::string("raspberrypi,4-model-b\0", 22)},
          {dmiSerial, "PF3ABC12\n"},
          {treeSerial, std::string("10000000abcdef12\0", 17)}},
         "LENOVO",
         "PF3ABC12"},
        {"blank vendor", {{vendor, "   \n"}, {tree, std::string("raspberrypi,4-model-b\0", 22)}}, "", ""},
        {"cut before an entity that does not fit", {{vendor, longVendor + "\n"}}, std::string(60, 'V'), ""},
        {"device tree",
         {{tree, std::string("raspberrypi,4-model-b\0brcm,bcm2711\0", 35)},
          {treeSerial, std::string("10000000abcdef12\0", 17)}},
         "raspberrypi",
         "10000000abcdef12"},
        {"device tree serial where the DMI one is empty", {{dmiSerial, "\n"}, {treeSerial, "SN-1"}}, "", "SN-1"},
        {"device tree serial escaped, trimmed, cut to 33 bytes, ended by its NUL",
         {{treeSerial, std::string("  <a&b>\t") + std::string(40, 's') + std::string("\0junk", 5)}},
         "",
         "&lt;a&amp;b&gt; " + std::string(25, 's')},
        {"a list that names only the chip", {{tree, std::string("brcm,bcm2710\0brcm,bcm2709\0", 26)}}, "", ""},
        {"one chip alone", {{tree, std::string("brcm,bcm2835\0", 13)}}, "", ""},
        {"the chip maker's own board", {{tree, std::string("qcom,sdm845-mtp\0qcom,sdm845\0", 28)}}, "qcom", ""},
        {"a board of another maker with a part-number name",
         {{tree, std::string("pine64,pine64\0allwinner,sun50i-a64\0", 35)}},
         "pine64",
         ""},
        {"a board named by its maker alone", {{tree, std::string("arm,juno\0arm,vexpress\0", 22)}}, "arm", ""},
        {"device tree entry without a vendor", {{tree, std::string("generic\0acme,board\0", 20)}}, "", ""},
        {"neither", {}, "", ""},
        // Firmware fillers name nothing: the board's fields stand in, else the value is empty.
        {"ASRock: AMI's filler everywhere but the board",
         {{vendor, "To Be Filled By O.E.M.\n"},
          {product, "To Be Filled By O.E.M.\n"},
          {dmiSerial, "To Be Filled By O.E.M.\n"},
          {board, "ASRock\n"},
          {boardName, "B450 Steel Legend\n"},
          {boardSerial, "M80-C7012345678\n"}},
         "ASRock",
         "M80-C7012345678",
         "B450 Steel Legend"},
        {"ASUS, older boards, fillers in other letters",
         {{vendor, "SYSTEM MANUFACTURER\n"},
          {product, "system product name\n"},
          {dmiSerial, " System Serial Number \n"},
          {board, "ASUSTeK COMPUTER INC.\n"},
          {boardName, "P8Z77-V LX\n"},
          {boardSerial, "MT7012345678901\n"}},
         "ASUSTeK COMPUTER INC.",
         "MT7012345678901",
         "P8Z77-V LX"},
        {"ASUS, newer boards: a real maker, filler product and serial",
         {{vendor, "ASUS\n"},
          {product, "System Product Name\n"},
          {dmiSerial, "System Serial Number\n"},
          {board, "ASUSTeK COMPUTER INC.\n"},
          {boardName, "ROG STRIX B550-F GAMING\n"},
          {boardSerial, "Default string\n"}},
         "ASUS",
         "",
         "ROG STRIX B550-F GAMING"},
        {"generic AMI firmware: the board is a filler too, serials of one repeated character",
         {{vendor, "Default string\n"},
          {product, "default string \n"},
          {dmiSerial, "00000000\n"},
          {board, "Not Specified\n"},
          {boardName, "Type1ProductConfigId\n"},
          {boardSerial, "0\n"}},
         "",
         "",
         ""},
        {"fillers with more around them, counting serials",
         {{vendor, "O.E.M.\n"},
          {product, "ITo be filled by O.E.M.\n"},
          {dmiSerial, "1234567890\n"},
          {board, "N/A\n"},
          {boardName, "Z97 Extreme4\n"},
          {boardSerial, "XXXXXXXXXX\n"}},
         "",
         "",
         "Z97 Extreme4"},
        {"real values that merely hold a filler word or repeat a character nearly",
         {{vendor, "OEM Systems Ltd\n"},
          {product, "Nonesuch 5\n"},
          {dmiSerial, "00000001\n"},
          {board, "ASRock\n"},
          {boardName, "B450\n"},
          {boardSerial, "BOARD\n"}},
         "OEM Systems Ltd",
         "00000001",
         "Nonesuch 5"},
        {"a board's serial where the system field is missing, a short real one",
         {{board, "Ab\n"}, {boardSerial, "10\n"}},
         "Ab",
         "10"},
        {"device tree fillers name nothing",
         {{tree, std::string("unknown,board\0", 14)},
          {"sys/firmware/devicetree/base/model", std::string("None.\0", 6)},
          {treeSerial, std::string("0000000000000000\0", 17)}},
         "",
         ""},
    };
    for (const auto &c : cases) {
        TempDir root;
        for (const auto &file : c.files) Put(root, file.first, file.second);
        standin::UseLiveRegistry(root.path());
        RunCapturePass();
        EXPECT_STREQ(SettingValue(0), c.make.c_str()) << c.what;
        EXPECT_STREQ(SettingValue(3), c.make.c_str()) << c.what;
        EXPECT_STREQ(SettingValue(2), c.serial.c_str()) << c.what;
        EXPECT_STREQ(SettingValue(5), c.serial.c_str()) << c.what;
        EXPECT_STREQ(SettingValue(4), c.model.c_str()) << c.what;
    }
}

// Network interface nodes for the interfaces on a device, built in unless on USB; none for bridges,
// veth pairs and the loopback.
TEST_F(LiveRegistryTest, NetworkInterfaceNodes) {
    const std::pair<std::string, std::string> interfaces[] = {
        {"eth0", "devices/pci0000:00/0000:00:1f.6/net/eth0"},
        {"enx0a1b2c", "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/net/enx0a1b2c"},
        {"br0", "devices/virtual/net/br0"},
        {"lo", "devices/virtual/net/lo"},
    };
    ASSERT_EQ(system(("mkdir -p '" + root_ / "sys/class/net" + "'").c_str()), 0);
    for (const auto &i : interfaces) {
        const bool onDevice = i.second.find("virtual") == std::string::npos;
        Put(root_, "sys/" + i.second + (onDevice ? "/device/vendor" : "/type"), "1\n");
        ASSERT_EQ(symlink(("../../" + i.second).c_str(), (root_ / "sys/class/net/" + i.first).c_str()), 0);
    }
    standin::UseLiveRegistry(root_.path());
    InterfaceNode nodes[4];
    const int32_t count = ReadInterfaceNodes(nodes, 4);
    std::set<std::string> read;
    for (int32_t n = 0; n < count; ++n) {
        read.insert(std::string(nodes[n].name) + (nodes[n].builtin ? " built-in" : "") +
                    (nodes[n].primary ? " primary" : ""));
    }
    EXPECT_EQ(read, (std::set<std::string>{"eth0 built-in", "enx0a1b2c"}));
}

TEST_F(LiveRegistryTest, HostileSerialBytes) {
    Put(root_, "sys/block/sda/serial", "<\xFF&\x01>\n");
    standin::UseLiveRegistry(root_.path());
    char slots[4][kTextSize];
    EXPECT_EQ(CaptureDiskSerials(slots, 4), 1);
    EXPECT_STREQ(slots[0], "&lt;\xEF\xBF\xBD&amp; &gt;");  // the bad byte was decoded as U+FFFD
}

}  // namespace
