// The live Linux machine as an I/O Kit registry: the platform expert from DMI (or the device tree)
// and one disk service per whole disk under /sys/block (NVMe or AHCI), each read when a lookup
// first asks.
#include <dirent.h>

#include <algorithm>

#include "file_read.h"
#include "registry.h"

namespace standin {
namespace {

const char kAhciClass[] = "AppleAHCIDiskDriver";
const char kNVMeClass[] = "IONVMeBlockStorageDevice";

std::string WithoutTrailingNewline(std::string text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

CFDataRef DataFromBytes(const std::string &bytes) {
    return CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(bytes.data()),
                        static_cast<CFIndex>(bytes.size()));
}

ServiceList LoadPlatformExpert(const std::string &root) {
    auto service = std::make_shared<RegistryService>();
    service->className = "IOPlatformExpertDevice";
    std::string text;
    if (ReadFileBytes(root + "sys/class/dmi/id/product_name", &text)) {
        text = WithoutTrailingNewline(text);
        text.push_back('\0');
        service->Add(CFSTR("model"), DataFromBytes(text));
    } else if (ReadFileBytes(root + "sys/firmware/devicetree/base/model", &text)) {
        service->Add(CFSTR("model"), DataFromBytes(text));  // already NUL-terminated
    }
    // The DMI serial, else the device tree's (a NUL-terminated text, as on a Raspberry Pi).
    std::string serial;
    if (ReadFileBytes(root + "sys/class/dmi/id/product_serial", &text)) serial = WithoutTrailingNewline(text);
    if (serial.empty() && ReadFileBytes(root + "sys/firmware/devicetree/base/serial-number", &text)) {
        serial = text.substr(0, text.find('\0'));
    }
    if (!serial.empty()) service->Add(CFSTR("IOPlatformSerialNumber"), NewStringLossy(serial));
    return {service};
}

bool IsWholeDiskName(const std::string &name) {
    static const char *const kNotDisks[] = {"loop", "ram", "zram", "dm-", "md", "sr", "nbd", "fd"};
    if (name.empty() || name[0] == '.') return false;
    for (const char *prefix : kNotDisks) {
        if (name.compare(0, std::char_traits<char>::length(prefix), prefix) == 0) return false;
    }
    return true;
}

// ID_SERIAL_SHORT from the udev database entry of the block device major:minor.
std::string UdevSerial(const std::string &root, const std::string &disk) {
    std::string dev, data;
    if (!ReadFileBytes(root + "sys/block/" + disk + "/dev", &dev)) return {};
    dev = WithoutTrailingNewline(dev);
    if (!ReadFileBytes(root + "run/udev/data/b" + dev, &data)) return {};
    static const std::string kKey = "E:ID_SERIAL_SHORT=";
    std::string serial;
    ForEachLine(data, [&serial](const std::string &line) {
        if (serial.empty() && line.compare(0, kKey.size(), kKey) == 0) serial = line.substr(kKey.size());
    });
    return serial;
}

// The first non-empty serial the kernel or udev gives for a disk, with a trailing newline removed.
std::string DiskSerial(const std::string &root, const std::string &disk) {
    const std::string base = root + "sys/block/" + disk + "/";
    std::string text;
    for (const char *file : {"serial", "device/serial"}) {
        if (ReadFileBytes(base + file, &text) && !(text = WithoutTrailingNewline(text)).empty()) return text;
    }
    if (ReadFileBytes(base + "device/vpd_pg80", &text) && text.size() > 4) {
        // Unit serial number page: a 4-byte header whose last byte is the serial's length.
        const size_t length = std::min(text.size() - 4, static_cast<size_t>(static_cast<unsigned char>(text[3])));
        text = WithoutTrailingNewline(text.substr(4, length));
        if (!text.empty()) return text;
    }
    return WithoutTrailingNewline(UdevSerial(root, disk));
}

std::vector<std::string> FolderEntries(const std::string &path) {
    std::vector<std::string> names;
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) return names;
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
}

bool IsNVMeName(const std::string &name) { return name.compare(0, 4, "nvme") == 0; }

// One service per whole disk, in name order: NVMe disks as NVMe block storage devices whose serial
// sits in their "Device Characteristics" dictionary, every other disk as an AHCI disk driver.
ServiceList LoadDisks(const std::string &root) {
    std::vector<std::string> names = FolderEntries(root + "sys/block");
    std::sort(names.begin(), names.end());  // byte-wise
    ServiceList services;
    for (const auto &name : names) {
        if (!IsWholeDiskName(name)) continue;
        const bool nvme = IsNVMeName(name);
        auto service = std::make_shared<RegistryService>();
        service->className = nvme ? kNVMeClass : kAhciClass;
        const std::string serial = DiskSerial(root, name);
        if (nvme) {
            CFMutableDictionaryRef characteristics = CFDictionaryCreateMutable(
                kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
            if (!serial.empty()) {
                CFStringRef value = NewStringLossy(serial);  // owned: the dictionary keeps its own reference
                CFDictionarySetValue(characteristics, CFSTR("Serial Number"), value);
                CFRelease(value);
            }
            service->Add(CFSTR("Device Characteristics"), characteristics);
        } else if (!serial.empty()) {
            service->Add(CFSTR("Serial Number"), NewStringLossy(serial));
        }
        services.push_back(std::move(service));
    }
    return services;
}

std::string WithTrailingSlash(const std::string &root) {
    return (!root.empty() && root.back() == '/') ? root : root + "/";
}

}  // namespace

std::string ReadLiveComputerMake(const std::string &root) {
    const std::string base = WithTrailingSlash(root);
    std::string text;
    if (ReadFileBytes(base + "sys/class/dmi/id/sys_vendor", &text)) return WithoutTrailingNewline(text);
    if (!ReadFileBytes(base + "sys/firmware/devicetree/base/compatible", &text)) return {};
    // NUL-separated entries, each "vendor,model"; an entry without a comma names no vendor.
    const std::string first = text.substr(0, text.find('\0'));
    const size_t comma = first.find(',');
    return comma == std::string::npos ? std::string() : first.substr(0, comma);
}

ServiceList LoadLiveServices(const std::string &root, const std::string &className, std::set<std::string> *loaded) {
    const std::string base = WithTrailingSlash(root);
    if (className == "IOPlatformExpertDevice") {
        loaded->insert(className);
        return LoadPlatformExpert(base);
    }
    if (className == kAhciClass || className == kNVMeClass) {
        // Both disk classes come from one walk of /sys/block.
        loaded->insert(kAhciClass);
        loaded->insert(kNVMeClass);
        return LoadDisks(base);
    }
    loaded->insert(className);
    return {};
}

}  // namespace standin
