// Collects up to four disk serial numbers: the "Serial Number" of each AHCI disk driver, then the
// "device serial" of each ATA device nub, then the "Serial Number" in the "Device Characteristics" of
// each NVMe block storage device, in registry order.
#include "collectors/disk_serials.h"

#include <mach/mach.h>
#include <string.h>

#include "inventory/captured_text.h"
#include "platform/platform.h"

namespace {

const size_t kConversionSize = 512;

// Reads one service's serial into a slot; true when the slot ends up non-empty.
typedef bool (*SerialReader)(io_service_t service, CFStringRef key, char *slot);

// Reads one serial per service of className into slots[n...] while slots remain; returns the new n.
int32_t ReadClassSerials(mach_port_t masterPort, const char *className, SerialReader read, CFStringRef key,
                         char (*slots)[kTextSize], int32_t count, int32_t n) {
    io_iterator_t iterator = IO_OBJECT_NULL;  // owned: released below
    // The matching dictionary is consumed by the lookup. A failed lookup skips this class only.
    if (IOServiceGetMatchingServices(masterPort, IOServiceMatching(className), &iterator) != KERN_SUCCESS) return n;
    io_service_t service = IOIteratorNext(iterator);  // owned: released in the loop
    while (n < count && service != IO_OBJECT_NULL) {
        if (read(service, key, slots[n])) ++n;
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
    const bool filled =
        CFGetTypeID(property) == CFStringGetTypeID() && CopySerial(static_cast<CFStringRef>(property), slot);
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
        filled = serial != NULL && CFGetTypeID(serial) == CFStringGetTypeID() &&
                 CopySerial(static_cast<CFStringRef>(serial), slot);
    }
    CFRelease(characteristics);
    return filled;
}

int32_t CaptureDiskSerials(char (*slots)[kTextSize], int32_t count) {
    if (slots == NULL || count <= 0) return 0;
    memset(slots, 0, static_cast<size_t>(count) * kTextSize);
    mach_port_t masterPort = MACH_PORT_NULL;  // owned: this collector's own, deallocated below
    if (IOMasterPort(MACH_PORT_NULL, &masterPort) != KERN_SUCCESS) return -1;

    int32_t n =
        ReadClassSerials(masterPort, "AppleAHCIDiskDriver", ReadServiceSerial, CFSTR("Serial Number"), slots, count, 0);
    n = ReadClassSerials(masterPort, "ATADeviceNub", ReadServiceSerial, CFSTR("device serial"), slots, count, n);
    n = ReadClassSerials(masterPort, "IONVMeBlockStorageDevice", ReadCharacteristicsSerial, CFSTR("Serial Number"),
                         slots, count, n);
    mach_port_deallocate(mach_task_self(), masterPort);
    return n;
}
