// Disk serial numbers from the I/O Kit registry: AHCI disk drivers first, then ATA device nubs, then
// NVMe block storage devices; the machine's own disks before those marked external.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#include <stdint.h>

#include "inventory/store.h"

// Clears count 64-byte slots and fills them with the serials found, in two rounds: first the disks
// not marked "External" ("Physical Interconnect Location", in "Protocol Characteristics" for NVMe
// devices), then the external ones, each round in class order and then registry order. ATAPI units
// (optical drives) use no slot. Returns the number filled (0 to count), or -1 when no master port
// can be obtained.
int32_t CaptureDiskSerials(char (*slots)[kTextSize], int32_t count);

// Reads the string property key of service into slot (64 bytes), escaped and trimmed. Returns true
// when the slot is not empty. The service and key stay the caller's.
bool ReadServiceSerial(io_service_t service, CFStringRef key, char *slot);

// As ReadServiceSerial, but key is read from the service's "Device Characteristics" dictionary (where
// NVMe devices keep their serial). A missing dictionary or a non-string value leaves the slot empty.
bool ReadCharacteristicsSerial(io_service_t service, CFStringRef key, char *slot);
