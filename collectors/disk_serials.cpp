// Collects up to four disk serial numbers: the "Serial Number" of each AHCI disk driver, then the
// "device serial" of each ATA device nub (optical drives left out), then the "Serial Number" in the
// "Device Characteristics" of each NVMe block storage device, in registry order; the machine's own
// disks first, then those marked external.
#include "collectors/disk_serials.h"

#include <mach/mach.h>
#include <string.h>

#include "inventory/captured_text.h"
#include "platform/platform.h"

namespace {

const size_t kConversionSize = 512;

// Reads one service's serial into a slot; true when the slot ends up non-empty.
typedef bool (*SerialReader)(io_service_t service, CFStringRef key, char *slot);

// Which round of the slot filling a disk service belongs to, or none.
enum DiskPlacement { kInternalDisk, kExternalDisk, kNotADisk };
typedef DiskPlacement (*PlacementReader)(io_service_t service);

// One class of disk services, the key its serial is read with, and how its place is told.
struct DiskClass {
    const char *className;
    SerialReader readSerial;
    CFStringRef key;
    PlacementReader placement;
};

// True when value is a string (null is none). The value stays the caller's.
bool IsString(CFTypeRef value) { return value != NULL && CFGetTypeID(value) == CFStringGetTypeID(); }

// True when value is a string equal to text. The value stays the caller's.
bool IsStringEqual(CFTypeRef value, CFStringRef text) { return IsString(value) && CFEqual(value, text); }

// True when the service's property key is a string equal to text.
bool HasStringProperty(io_service_t service, CFStringRef key, CFStringRef text) {
    CFTypeRef value = IORegistryEntryCreateCFProperty(service, key, kCFAllocatorDefault, 0);  // owned
    if (value == NULL) return false;
    const bool equal = IsStringEqual(value, text);
    CFRelease(value);
    return equal;
}

// AHCI disk drivers name their place at the top level; unmarked ones are the machine's own.
DiskPlacement PlacementOfAhciDisk(io_service_t service) {
    return HasStringProperty(service, CFSTR("Physical Interconnect Location"), CFSTR("External")) ? kExternalDisk
                                                                                                  : kInternalDisk;
}

// ATA device nubs are the machine's own; those of ATAPI units (CD and DVD drives) are no disks.
DiskPlacement PlacementOfAtaNub(io_service_t service) {
    return HasStringProperty(service, CFSTR("ata device type"), CFSTR("atapi")) ? kNotADisk : kInternalDisk;
}

// NVMe devices name their place inside their "Protocol Characteristics" dictionary.
DiskPlacement PlacementOfNVMeDevice(io_service_t service) {
    CFTypeRef protocol =  // owned: released below
        IORegistryEntryCreateCFProperty(service, CFSTR("Protocol Characteristics"), kCFAllocatorDefault, 0);
    if (protocol == NULL) return kInternalDisk;
    bool external = false;
    if (CFGetTypeID(protocol) == CFDictionaryGetTypeID()) {
        // Borrowed from the dictionary: not released here.
        const void *location =
            CFDictionaryGetValue(static_cast<CFDictionaryRef>(protocol), CFSTR("Physical Interconnect Location"));
        external = IsStringEqual(location, CFSTR("External"));
    }
    CFRelease(protocol);
    return external ? kExternalDisk : kInternalDisk;
}

// Reads one serial per service of the class placed in round into slots[n...] while slots remain;
// returns the new n. Sets *externalSeen when a service of the class was placed outside the machine.
int32_t ReadClassSerials(mach_port_t masterPort, const DiskClass &disks, DiskPlacement round, char (*slots)[kTextSize],
                         int32_t count, int32_t n, bool *externalSeen) {
    io_iterator_t iterator = IO_OBJECT_NULL;  // owned: released below
    // The matching dictionary is consumed by the lookup. A failed lookup skips this class only.
    if (IOServiceGetMatchingServices(masterPort, IOServiceMatching(disks.className), &iterator) != KERN_SUCCESS) {
        return n;
    }
    io_service_t service = IOIteratorNext(iterator);  // owned: released in the loop
    while (n < count && service != IO_OBJECT_NULL) {
        const DiskPlacement placement = disks.placement(service);
        if (placement == kExternalDisk) *externalSeen = true;
        if (placement == round && disks.readSerial(service, disks.key, slots[n])) ++n;
        IOObjectRelease(service);
        service = IOIteratorNext(iterator);
    }
    if (service != IO_OBJECT_NULL) IOObjectRelease(service);  // taken, but the slots are full
    IOObjectRelease(iterator);
    return n;
}

// Converts a serial string into slot: leading blanks skipped, escaped, trimmed. The string stays the
// caller's. True when the slot is not empty.
bool CopySerial(CFStringRef serial, char *slot) {
    char converted[kConversionSize];
    CopyCFStringBytes(serial, kCFStringEncodingUTF8, converted, sizeof converted);
    size_t start = 0;
    while (start < sizeof converted - 1 && converted[start] == ' ') ++start;
    EscapeCopy(slot, kTextSize, converted + start);
    TrimSpaces(slot);
    return slot[0] != '\0';
}

}  // namespace

bool ReadServiceSerial(io_service_t service, CFStringRef key, char *slot) {
    if (service == IO_OBJECT_NULL || key == NULL || slot == NULL) return false;
    slot[0] = '\0';
    CFTypeRef property = IORegistryEntryCreateCFProperty(service, key, kCFAllocatorDefault, 0);  // owned
    if (property == NULL) return false;
    const bool filled = IsString(property) && CopySerial(static_cast<CFStringRef>(property), slot);
    CFRelease(property);
    return filled;
}

bool ReadCharacteristicsSerial(io_service_t service, CFStringRef key, char *slot) {
    if (service == IO_OBJECT_NULL || key == NULL || slot == NULL) return false;
    slot[0] = '\0';
    CFTypeRef characteristics =  // owned: released below
        IORegistryEntryCreateCFProperty(service, CFSTR("Device Characteristics"), kCFAllocatorDefault, 0);
    if (characteristics == NULL) return false;
    bool filled = false;
    if (CFGetTypeID(characteristics) == CFDictionaryGetTypeID()) {
        // Borrowed from the dictionary: not released here.
        const void *serial = CFDictionaryGetValue(static_cast<CFDictionaryRef>(characteristics), key);
        filled = IsString(serial) && CopySerial(static_cast<CFStringRef>(serial), slot);
    }
    CFRelease(characteristics);
    return filled;
}

int32_t CaptureDiskSerials(char (*slots)[kTextSize], int32_t count) {
    if (slots == NULL || count <= 0) return 0;
    memset(slots, 0, static_cast<size_t>(count) * kTextSize);
    mach_port_t masterPort = MACH_PORT_NULL;  // owned: this collector's own, deallocated below
    if (IOMasterPort(MACH_PORT_NULL, &masterPort) != KERN_SUCCESS) return -1;

    const DiskClass classes[] = {
        {"AppleAHCIDiskDriver", ReadServiceSerial, CFSTR("Serial Number"), PlacementOfAhciDisk},
        {"ATADeviceNub", ReadServiceSerial, CFSTR("device serial"), PlacementOfAtaNub},
        {"IONVMeBlockStorageDevice", ReadCharacteristicsSerial, CFSTR("Serial Number"), PlacementOfNVMeDevice},
    };
    const size_t kClasses = sizeof classes / sizeof classes[0];
    bool externalSeen[kClasses] = {};
    int32_t n = 0;
    for (size_t i = 0; i < kClasses; ++i) {
        n = ReadClassSerials(masterPort, classes[i], kInternalDisk, slots, count, n, &externalSeen[i]);
    }
    // External disks take the slots that remain, in the same order. A class is looked up again only
    // when the first round met an external disk of it: while slots remained, that round saw them all.
    for (size_t i = 0; i < kClasses && n < count; ++i) {
        if (externalSeen[i])
            n = ReadClassSerials(masterPort, classes[i], kExternalDisk, slots, count, n, &externalSeen[i]);
    }
    mach_port_deallocate(mach_task_self(), masterPort);
    return n;
}
