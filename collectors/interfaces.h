// The network interface table: each interface with a link-layer address, its name and its IPv4
// address, from one snapshot of the system's interface list, the primary port first.
#pragma once

#include <stdint.h>

#include "inventory/store.h"
#include "platform/interface_list.h"

enum {
    kInterfaceRequestRecords = 30,
    kInterfaceRequestRecordSize = 32,
    kLargestInterfaceRecord = kInterfaceNameBytes + 255,  // a name and the longest socket address
    kLargestInterfaceRequest = 64 * 1024,                 // the request buffer grows no further
    kInterfaceNodes = 64,                                 // registry nodes read; the rest count as none
};

// What the registry says of one network interface ("IONetworkInterface" node): its BSD name,
// NUL-terminated, and whether it is the primary port and built in.
struct InterfaceNode {
    char name[kInterfaceNameBytes];
    bool primary;  // "IOPrimaryInterface"
    bool builtin;  // "IOBuiltin"
};

// Takes the interface list and fills table (count records, at most 30) in the order of the report:
// the primary port, interfaces with an IPv4 address and a registry node, the other built-in ports,
// other interfaces with an IPv4 address, the rest; each class in list order. Returns the index of
// the last record filled (-1 when none qualified, count when more qualified than fit); -1 for a null
// table, a count above 30 or no memory; after a failed socket or request, 0 when errno was set and -1
// otherwise.
int32_t CaptureInterfaces(InterfaceRecord *table, int32_t count);

// Reads the registry's network interface nodes that carry a "BSD Name" into nodes (at most capacity,
// in registry order); returns how many. Every registry object is released here; a failed lookup
// gives 0.
int32_t ReadInterfaceNodes(InterfaceNode *nodes, int32_t capacity);

// Walks length bytes of interface request records and fills table as CaptureInterfaces does, with
// nodeCount registry nodes (none when nodes is null). Reads nothing beyond length. Returns the index
// of the last record filled, as above; -1 for a count below 0 or above 30.
int32_t WalkInterfaceRecords(const unsigned char *records, int32_t length, InterfaceRecord *table, int32_t count,
                             const InterfaceNode *nodes = 0, int32_t nodeCount = 0);
