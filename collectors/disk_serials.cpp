// Collects up to four disk serial numbers: the "Serial Number" of each AHCI disk driver, then the
// "device serial" of each ATA device nub, in registry order.
#include "collectors/disk_serials.h"

#include <mach/mach.h>
#include <string.h>

#include "platform/platform.h"
#include "inventory/captured_text.h"

namespace {

const size_t kConversionSize = 512;

// Reads one serial per service of className into slots[n...] while slots remain; returns the new n.
int32_t ReadClassSerials(mach_port_t masterPort, const char *className, CFStringRef key, char (*slots)[kTextSize],
                         int32_t count, int32_t n) {
    io_iterator_t iterator = IO_OBJECT_NULL;  // owned: released below
    // The matching dictionary is consumed by the lookup. A failed lookup skips this class only.
    if (IOServiceGetMatchingServices(masterPort, IOServiceMatching(className), &iterator) != KERN_SUCCESS) return n;
    io_service_t service = IOIteratorNext(iterator);  // owned: released in the loop
    while (n < count && service != IO_OBJECT_NULL) {
        if (ReadServiceSerial(service, key, slots[n])) ++n;
        IOObjectRelease(service);
        service = IOIteratorNext(iterator);
    }
    if (service != IO_OBJECT_NULL) IOObjectRelease(service);  // taken, but the slots are full
    IOObjectRelease(iterator);
    return n;
}

}  // namespace

bool ReadServiceSerial(io_service_t service, CFStringRef key, char *slot) {
    if (service == IO_OBJECT_NULL || key == NULL || slot == NULL) return false;
    slot[0] = '\0';
    CFTypeRef property = IORegistryEntryCreateCFProperty(service, key, kCFAllocatorDefault, 0);  // owned
    if (property == NULL) return false;
    if (CFGetTypeID(property) != CFStringGetTypeID()) {
        CFRelease(property);
        return false;
    }
    char converted[kConversionSize];
    CopyCFStringBytes(static_cast<CFStringRef>(property), kCFStringEncodingUTF8, converted, sizeof converted);
    size_t start = 0;
    while (start < sizeof converted - 1 && converted[start] == ' ') ++start;
    EscapeCopy(slot, kTextSize, converted + start);
    TrimSpaces(slot);
    CFRelease(property);
    return slot[0] != '\0';
}

int32_t CaptureDiskSerials(char (*slots)[kTextSize], int32_t count) {
    if (slots == NULL || count <= 0) return 0;
    memset(slots, 0, static_cast<size_t>(count) * kTextSize);
    mach_port_t masterPort = MACH_PORT_NULL;  // owned: this collector's own, deallocated below
    if (IOMasterPort(MACH_PORT_NULL, &masterPort) != KERN_SUCCESS) return -1;

    int32_t n = ReadClassSerials(masterPort, "AppleAHCIDiskDriver", CFSTR("Serial Number"), slots, count, 0);
    n = ReadClassSerials(masterPort, "ATADeviceNub", CFSTR("device serial"), slots, count, n);
    mach_port_deallocate(mach_task_self(), masterPort);
    return n;
}
