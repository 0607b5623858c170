// The network interface table: each interface with a link-layer address, its name and its IPv4
// address, from one snapshot of the system's interface list.
#pragma once

#include <stdint.h>

#include "inventory/store.h"

enum { kInterfaceRequestRecords = 30, kInterfaceRequestRecordSize = 32 };

// Takes the interface list and fills table (count records, at most 30). Returns the index of the last
// record reached (-1 when none qualified, count when more qualified than fit); -1 for a null table, a
// count above 30 or no memory; after a failed socket or request, 0 when errno was set and -1 otherwise.
int32_t CaptureInterfaces(InterfaceRecord *table, int32_t count);

// Walks length bytes of interface request records and fills table as CaptureInterfaces does. Reads
// nothing beyond length. Returns the index of the last record reached, as above.
int32_t WalkInterfaceRecords(const unsigned char *records, int32_t length, InterfaceRecord *table, int32_t count);
