// The live Linux machine as an I/O Kit registry: the platform expert from DMI (or the device tree),
// one disk service per whole disk under /sys/block (NVMe or AHCI), in the kernel's name order, each
// disk read only when a lookup reaches it, and a network interface node per interface on a device.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

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

// Firmware fillers: texts that name no maker, product or serial, though a DMI field holds them.
// Compared without regard to case, after the blanks around them and a final dot are dropped.
const char *const kPlaceholders[] = {
    // AMI Aptio's defaults, which ASRock and many small makers ship unchanged
    "To Be Filled By O.E.M",
    "Default string",
    "Type1ProductConfigId",
    "Chassis Serial Number",
    "Base Board Serial Number",
    // ASUS boards' system fields
    "System manufacturer",
    "System Product Name",
    "System Serial Number",
    "System Version",
    // SMBIOS's words for no value, and those of other firmware (Phoenix, Insyde)
    "Not Specified",
    "Not Applicable",
    "None",
    "N/A",
    "Unknown",
    "INVALID",
    "OEM",
    "O.E.M",
    // counting serials of firmware builders' samples
    "0123456789",
    "123456789",
    "1234567890",
};

bool SameLetters(const std::string &text, const char *word) {
    return text.size() == std::strlen(word) && strncasecmp(text.c_str(), word, text.size()) == 0;
}

// Whether a firmware value names nothing: blank, one character repeated ("00000000", "X"), a filler
// of the table, or a text that holds AMI's "To be filled by O.E.M" ("ITo be filled by O.E.M.").
bool IsPlaceholder(const std::string &value) {
    std::string text = value.substr(0, value.find('\0'));
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.back())) text.pop_back();
    text.erase(0, std::find_if_not(text.begin(), text.end(), blank) - text.begin());
    if (!text.empty() && text.back() == '.') text.pop_back();
    if (text.find_first_not_of(text.empty() ? ' ' : text[0]) == std::string::npos) return true;  // blank, or "0000"
    if (strcasestr(text.c_str(), "To be filled by O.E.M") != nullptr) return true;  // "ITo be filled by O.E.M."
    for (const char *word : kPlaceholders) {
        if (SameLetters(text, word)) return true;
    }
    return false;
}

// The first of the DMI fields (files under sys/class/dmi/id) that names something, without its
// trailing newline, in *text (empty when none does). False when none of the files can be read, so
// that the machine has no DMI for this value.
bool FirstNamedDmi(const std::string &root, std::initializer_list<const char *> fields, std::string *text) {
    bool read = false;
    for (const char *field : fields) {
        std::string value;
        if (!ReadFileBytes(root + "sys/class/dmi/id/" + field, &value)) continue;
        read = true;
        value = WithoutTrailingNewline(value);
        if (!IsPlaceholder(value)) {
            *text = value;
            return true;
        }
    }
    text->clear();
    return read;
}

// A device-tree property, a NUL-terminated text, when it names something.
bool ReadNamedDeviceTree(const std::string &root, const char *property, std::string *text) {
    return ReadFileBytes(root + "sys/firmware/devicetree/base/" + property, text) && !IsPlaceholder(*text);
}

std::shared_ptr<RegistryService> LoadPlatformExpert(const std::string &root) {
    auto service = std::make_shared<RegistryService>();
    service->className = "IOPlatformExpertDevice";
    std::string text;
    // The system's product name, else the board's; the device tree's model where DMI has neither.
    if (FirstNamedDmi(root, {"product_name", "board_name"}, &text)) {
        if (!text.empty()) service->Add(CFSTR("model"), DataFromBytes(text + '\0'));
    } else if (ReadNamedDeviceTree(root, "model", &text)) {
        service->Add(CFSTR("model"), DataFromBytes(text));  // already NUL-terminated
    }
    // The system's serial, else the board's, else the device tree's (a NUL-terminated text, as on a
    // Raspberry Pi).
    std::string serial;
    FirstNamedDmi(root, {"product_serial", "board_serial"}, &serial);
    if (serial.empty() && ReadNamedDeviceTree(root, "serial-number", &text)) serial = text.substr(0, text.find('\0'));
    if (!serial.empty()) service->Add(CFSTR("IOPlatformSerialNumber"), NewStringLossy(serial));
    return service;
}

bool StartsWith(const char *name, const char *prefix) {
    while (*prefix != '\0') {
        if (*name++ != *prefix++) return false;
    }
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

enum DiskKind { kNotADisk, kOtherDisk, kNVMeDisk };

// Whether a /sys/block entry is a whole disk of the machine, and of which kind: not a virtual
// device (loop, ram, zram, dm-, md, nbd), an optical or floppy drive (sr, fd), or one of the boot and
// replay-protected areas of an eMMC card (mmcblk0boot0, mmcblk0rpmb), which mmcblk0 already stands
// for. Decided on the first byte, as this runs for every entry of /sys/block.
inline DiskKind KindOfDisk(const char *name) {
    switch (name[0]) {
        case '\0':
        case '.': return kNotADisk;
        case 'd': return StartsWith(name, "dm-") ? kNotADisk : kOtherDisk;
        case 'f': return name[1] == 'd' ? kNotADisk : kOtherDisk;
        case 'l': return StartsWith(name, "loop") ? kNotADisk : kOtherDisk;
        case 'n': return StartsWith(name, "nvme") ? kNVMeDisk : StartsWith(name, "nbd") ? kNotADisk : kOtherDisk;
        case 'r': return StartsWith(name, "ram") ? kNotADisk : kOtherDisk;
        case 's': return name[1] == 'r' ? kNotADisk : kOtherDisk;
        case 'z': return StartsWith(name, "zram") ? kNotADisk : kOtherDisk;
        case 'm': {
            if (name[1] == 'd') return kNotADisk;
            if (!StartsWith(name, "mmcblk")) return kOtherDisk;
            const char *rest = name + 6;
            while (IsDigit(*rest)) ++rest;
            return StartsWith(rest, "boot") || StartsWith(rest, "rpmb") ? kNotADisk : kOtherDisk;
        }
        default: return kOtherDisk;
    }
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

int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The controller's serial inside an NVMe namespace's wwid of the form "nvme.VVVV-SERIALHEX-MODELHEX-NSID",
// which the kernel gives where the namespace has no EUI-64, NGUID or UUID: the serial's bytes in hex,
// decoded, without the blanks and NULs before it, up to a NUL, without the blanks after it. Any other
// form (eui., uuid., a SCSI name), or a serial field that is not whole hex bytes, gives no serial.
std::string SerialFromNVMeWwid(const std::string &wwid) {
    static const char kPrefix[] = "nvme.";
    if (wwid.compare(0, sizeof kPrefix - 1, kPrefix) != 0) return {};
    const size_t start = wwid.find('-');
    const size_t end = start == std::string::npos ? start : wwid.find('-', start + 1);
    if (end == std::string::npos) return {};
    std::string serial;
    for (size_t at = start + 1; at < end; at += 2) {  // wwid[end] is '-', no hex digit
        const int high = HexValue(wwid[at]), low = HexValue(wwid[at + 1]);
        if (high < 0 || low < 0) return {};
        const char byte = static_cast<char>(high << 4 | low);
        if (!serial.empty() || (byte != ' ' && byte != '\0')) serial.push_back(byte);
    }
    serial = serial.substr(0, serial.find('\0'));
    serial.resize(serial.find_last_not_of(' ') + 1);  // npos + 1 is 0
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
    if (ReadFileBytes(base + "wwid", &text) && !(text = SerialFromNVMeWwid(WithoutTrailingNewline(text))).empty()) {
        return text;
    }
    return WithoutTrailingNewline(UdevSerial(root, disk));
}

// Removable media (USB sticks, card readers) come and go like optical discs: no disks of the machine.
bool IsRemovable(const std::string &root, const std::string &disk) {
    std::string text;
    return ReadFileBytes(root + "sys/block/" + disk + "/removable", &text) && WithoutTrailingNewline(text) == "1";
}

enum Placement { kOnBus, kOnUsb, kNoHardware };

// Where a device's link (a disk's under /sys/block, an interface's under /sys/class/net) leads:
// through a USB device (a path component "usb" and a bus number), to no hardware at all (a device of the kernel's own
// under devices/virtual, or of a simulated bus such as scsi_debug's devices/pseudo_0), or else to a real bus.
Placement PlacementOf(const std::string &folder, const std::string &name) {
    char target[4096];
    const ssize_t length = readlink((folder + name).c_str(), target, sizeof target - 1);
    if (length <= 0) return kOnBus;
    target[length] = '\0';
    Placement placement = kOnBus;
    const char *previous = "";
    for (const char *part = target; part != nullptr; part = std::strchr(part, '/')) {
        if (*part == '/') ++part;
        if (StartsWith(previous, "devices/") && (StartsWith(part, "virtual/") || StartsWith(part, "pseudo_"))) {
            return kNoHardware;
        }
        if (StartsWith(part, "usb") && IsDigit(part[3])) placement = kOnUsb;
        previous = part;
    }
    return placement;
}

// Kernel order of device names: runs of digits compare as numbers, other runs by length and then
// byte by byte, digit runs before other runs, a name that runs out first before the longer one (sdz <
// sdaa, nvme2n1 < nvme10n1). Negative, zero or positive, as strcmp.
int CompareKernelNames(const char *a, const char *b) {
    while (*a != '\0' && *b != '\0') {
        const bool digits = IsDigit(*a);
        if (digits != IsDigit(*b)) return digits ? -1 : 1;
        if (digits) {
            while (*a == '0' && IsDigit(a[1])) ++a;  // the value, not its leading zeros
            while (*b == '0' && IsDigit(b[1])) ++b;
        }
        const char *endA = a, *endB = b;
        while (*endA != '\0' && IsDigit(*endA) == digits) ++endA;
        while (*endB != '\0' && IsDigit(*endB) == digits) ++endB;
        if (endA - a != endB - b) return endA - a < endB - b ? -1 : 1;
        const int bytes = std::memcmp(a, b, static_cast<size_t>(endA - a));
        if (bytes != 0) return bytes;
        a = endA;
        b = endB;
    }
    return (*a != '\0') - (*b != '\0');
}

// A number that orders names as the kernel does wherever two numbers differ (CompareKernelNames
// decides between equal ones): the kind of the first run (digits first), its length, and its first
// seven bytes. A prefix of other bytes that all names compared share may be left out (the order
// stays the same).
template <bool kDigits>
bool InRun(char c) {
    const unsigned digit = static_cast<unsigned char>(c) - unsigned{'0'};
    return kDigits ? digit < 10 : c != '\0' && digit >= 10;
}

template <bool kDigits>
uint64_t RunHead(const char *run) {
    uint64_t bytes = 0;
    int length = 0;
    for (; length < 7 && InRun<kDigits>(*run); ++run, ++length) bytes = bytes << 8 | static_cast<unsigned char>(*run);
    for (; InRun<kDigits>(*run); ++run) ++length;  // a longer run
    if (length < 7) bytes <<= 8 * (7 - length);
    return uint64_t{kDigits ? 0u : 1u} << 63 | uint64_t(length < 127 ? length : 127) << 56 | bytes;
}

uint64_t OrderHead(const char *name) {
    if (!IsDigit(*name)) return RunHead<false>(name);
    while (*name == '0' && IsDigit(name[1])) ++name;  // the value, not its leading zeros
    return RunHead<true>(name);
}

// A disk name and the head of its order (after "nvme" for NVMe disks, which all share it).
struct NameView {
    uint64_t head;
    const char *name;
};

// Later in kernel order.
bool Later(const NameView &a, const NameView &b) {
    if (a.head != b.head) return a.head > b.head;
    const int order = CompareKernelNames(a.name, b.name);
    return order != 0 ? order > 0 : std::strcmp(a.name, b.name) > 0;
}

// Calls visit(name, nvme) for each whole disk's name under /sys/block, in the folder's order. Only
// one buffer of directory records is held at a time.
template <typename Visit>
void ForEachDiskName(const std::string &root, Visit visit) {
    const int fd = open((root + "sys/block").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);  // owned: closed below
    if (fd < 0) return;
    std::unique_ptr<char[]> records(new char[32768]);
    ssize_t got;
    while ((got = getdents64(fd, records.get(), 32768)) > 0) {
        for (ssize_t at = 0; at < got;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(records.get() + at);
            if (entry->d_reclen == 0) break;
            at += entry->d_reclen;
            const DiskKind kind = KindOfDisk(entry->d_name);
            if (kind != kNotADisk) visit(entry->d_name, kind == kNVMeDisk);
        }
    }
    close(fd);
}

// One class's disks in kernel order: NVMe disks as NVMe block storage devices, whose serial and
// interconnect sit in dictionaries, every other disk as an AHCI disk driver. Removable media and
// disks of no hardware (virtual or simulated) are passed over; a disk on USB is marked "External",
// the others "Internal". Nothing is ordered up front and no list of names is kept: a pass over the
// folder picks the next few disks, so a lookup that stops after the first disks costs one pass and
// the reads of those disks.
class DiskSource : public ServiceSource {
  public:
    DiskSource(std::string root, bool nvme) : root_(std::move(root)), nvme_(nvme) {}

    // A pass: offer every name of this class, then end it. The first pass may be made for both
    // disk classes at once. The picked names stay in order as they come: a name is compared from
    // the front, so that names listed in order or in reverse order cost one comparison each.
    void Offer(const char *name) {
        const NameView disk = {OrderHead(nvme_ ? name + 4 : name), name};
        if (started_ && !Later(disk, {lastHead_, last_.c_str()})) return;  // handed out already
        ++left_;
        size_t slot;
        if (count_ < kBatch) {
            slot = count_++;
        } else if (Later(View(kBatch - 1), disk)) {
            slot = picked_[kBatch - 1].slot;  // it takes the place of the latest of the picked
        } else {
            return;  // not among the first kBatch
        }
        size_t at = 0;  // picked_[count_ - 1] is free now
        while (at + 1 < count_ && !Later(View(at), disk)) ++at;
        std::memmove(&picked_[at + 1], &picked_[at], (count_ - 1 - at) * sizeof picked_[0]);
        picked_[at] = {disk.head, slot};
        const size_t length = strnlen(name, sizeof slots_[slot] - 1);
        std::memcpy(slots_[slot], name, length);
        slots_[slot][length] = '\0';
    }
    // Ends a pass: the picked names are handed out next.
    void EndPass() {
        spent_ = left_ == count_;
        next_ = 0;
        left_ = 0;
    }

    std::shared_ptr<RegistryService> Next() override {
        for (;;) {
            if (next_ == count_) {
                if (spent_) return nullptr;
                count_ = 0;
                ForEachDiskName(root_, [this](const char *name, bool nvme) {
                    if (nvme == nvme_) Offer(name);
                });
                EndPass();
                if (count_ == 0) return nullptr;
            }
            const Picked pick = picked_[next_++];
            last_ = slots_[pick.slot];
            lastHead_ = pick.head;
            started_ = true;
            if (IsRemovable(root_, last_)) continue;
            const Placement placement = PlacementOf(root_ + "sys/block/", last_);
            if (placement != kNoHardware) return MakeService(last_, placement == kOnUsb);
        }
    }

  private:
    static const size_t kBatch = 8;
    // A picked name: its head and the slot that holds a copy of it.
    struct Picked {
        uint64_t head;
        size_t slot;
    };
    NameView View(size_t at) const { return {picked_[at].head, slots_[picked_[at].slot]}; }

    std::shared_ptr<RegistryService> MakeService(const std::string &name, bool onUsb) const {
        auto service = std::make_shared<RegistryService>();
        service->className = nvme_ ? kNVMeClass : kAhciClass;
        const std::string serial = DiskSerial(root_, name);
        CFStringRef location = onUsb ? CFSTR("External") : CFSTR("Internal");  // constant
        if (nvme_) {
            CFMutableDictionaryRef characteristics = NewDictionary();
            if (!serial.empty()) {
                CFStringRef value = NewStringLossy(serial);  // owned: the dictionary keeps its own reference
                CFDictionarySetValue(characteristics, CFSTR("Serial Number"), value);
                CFRelease(value);
            }
            service->Add(CFSTR("Device Characteristics"), characteristics);
            CFMutableDictionaryRef protocol = NewDictionary();
            CFDictionarySetValue(protocol, CFSTR("Physical Interconnect Location"), location);
            service->Add(CFSTR("Protocol Characteristics"), protocol);
        } else {
            if (!serial.empty()) service->Add(CFSTR("Serial Number"), NewStringLossy(serial));
            service->Add(CFSTR("Physical Interconnect Location"), location);
        }
        return service;
    }

    static CFMutableDictionaryRef NewDictionary() {
        return CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                         &kCFTypeDictionaryValueCallBacks);
    }

    std::string root_;
    bool nvme_;
    char slots_[kBatch][256] = {};  // copies of the picked names (a directory entry's name fits)
    Picked picked_[kBatch] = {};    // in order
    size_t count_ = 0;              // names picked in this pass
    size_t next_ = 0;               // the next of picked_ to hand out
    size_t left_ = 0;               // names of this pass not handed out yet
    std::string last_;              // the last name handed out, once started_
    uint64_t lastHead_ = 0;
    bool started_ = false;
    bool spent_ = false;  // the pass picked every name that was left
};

// The last of a device-tree list of NUL-ended texts.
std::string LastEntry(std::string list) {
    while (!list.empty() && list.back() == '\0') list.pop_back();
    const size_t nul = list.rfind('\0');
    return nul == std::string::npos ? list : list.substr(nul + 1);
}

// Whether a compatible entry names a chip rather than a board: a part number (letters, then digits,
// then perhaps more letters and digits, as bcm2710, rk3399 or imx8mq) of the maker of the chip that
// the list's last entry names, as an older kernel's list for a board that names only its chip
// ("brcm,bcm2710" "brcm,bcm2709"). Boards carry a name of their own ("raspberrypi,3-model-b") or the
// chip's with a suffix ("qcom,sdm845-mtp").
bool NamesChip(const std::string &entry, const std::string &chip) {
    const size_t comma = entry.find(',');
    if (comma == std::string::npos || chip.compare(0, comma + 1, entry, 0, comma + 1) != 0) return false;
    size_t at = comma + 1, letters = 0, digits = 0;
    for (; at < entry.size() && entry[at] >= 'a' && entry[at] <= 'z'; ++at) ++letters;
    for (; at < entry.size() && IsDigit(entry[at]); ++at) ++digits;
    for (; at < entry.size() && ((entry[at] >= 'a' && entry[at] <= 'z') || IsDigit(entry[at])); ++at) {
    }
    return letters > 0 && digits > 0 && at == entry.size();
}

// The network interfaces of /sys/class/net that sit on a device (those of bridges, veth pairs,
// tunnels and the loopback do not) as Ethernet interface nodes, one at a time: "BSD Name", and
// "IOBuiltin" unless the device is on a USB bus. Linux names no primary interface, so
// "IOPrimaryInterface" is false.
class NetworkSource : public ServiceSource {
  public:
    explicit NetworkSource(const std::string &root) : root_(root + "sys/class/net/") {
        folder_ = opendir(root_.c_str());
    }
    ~NetworkSource() override {
        if (folder_ != nullptr) closedir(folder_);
    }
    std::shared_ptr<RegistryService> Next() override {
        while (folder_ != nullptr) {
            const dirent *entry = readdir(folder_);
            if (entry == nullptr) break;
            const std::string name = entry->d_name;
            struct stat info;
            if (name[0] == '.' || lstat((root_ + name + "/device").c_str(), &info) != 0) continue;
            auto service = std::make_shared<RegistryService>();
            service->className = "IOEthernetInterface";
            service->superclasses = {"IONetworkInterface"};
            service->Add(CFSTR("BSD Name"), NewStringLossy(name));
            const bool onUsb = PlacementOf(root_, name) == kOnUsb;
            service->Add(CFSTR("IOBuiltin"), CFRetain(onUsb ? kCFBooleanFalse : kCFBooleanTrue));
            service->Add(CFSTR("IOPrimaryInterface"), CFRetain(kCFBooleanFalse));
            return service;
        }
        return nullptr;
    }

  private:
    std::string root_;
    DIR *folder_ = nullptr;
};

std::string WithTrailingSlash(const std::string &root) {
    return (!root.empty() && root.back() == '/') ? root : root + "/";
}

}  // namespace

std::string ReadLiveComputerMake(const std::string &root) {
    const std::string base = WithTrailingSlash(root);
    std::string text;
    if (FirstNamedDmi(base, {"sys_vendor", "board_vendor"}, &text)) return text;
    if (!ReadFileBytes(base + "sys/firmware/devicetree/base/compatible", &text)) return {};
    // NUL-separated entries, each "vendor,model", from the board to the chip it is built on; the
    // board's maker is the first entry's vendor unless that entry names a chip.
    const std::string first = text.substr(0, text.find('\0'));
    const size_t comma = first.find(',');
    if (comma == std::string::npos) return {};  // names no vendor
    const std::string vendor = first.substr(0, comma);
    return NamesChip(first, LastEntry(text)) || IsPlaceholder(vendor) ? std::string() : vendor;
}

void OpenLiveClasses(const std::string &root, const std::string &className, LiveClasses *classes) {
    const std::string base = WithTrailingSlash(root);
    if (className == kAhciClass || className == kNVMeClass) {
        // Both disk classes come from one walk of /sys/block.
        auto others = new DiskSource(base, /* nvme */ false);  // owned by its class below
        auto nvme = new DiskSource(base, /* nvme */ true);
        ForEachDiskName(base, [others, nvme](const char *name, bool isNVMe) { (isNVMe ? nvme : others)->Offer(name); });
        others->EndPass();
        nvme->EndPass();
        (*classes)[kAhciClass] = std::make_shared<LiveClass>();
        (*classes)[kAhciClass]->source.reset(others);
        (*classes)[kNVMeClass] = std::make_shared<LiveClass>();
        (*classes)[kNVMeClass]->source.reset(nvme);
        return;
    }
    auto live = std::make_shared<LiveClass>();
    if (className == "IOPlatformExpertDevice") live->services.push_back(LoadPlatformExpert(base));
    if (className == "IONetworkInterface" || className == "IOEthernetInterface")
        live->source.reset(new NetworkSource(base));
    (*classes)[className] = std::move(live);
}

}  // namespace standin
