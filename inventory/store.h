// The machine information store: fixed process-wide buffers that the collectors fill once and the
// value providers hand out.
#pragma once

#include <stdint.h>

enum {
    kTextSize = 64,  // every captured text: 63 bytes and a NUL
    kDiskSerialSlots = 4,
    kInterfaceRecords = 16,
    kInterfaceNameSize = 16,  // 15 bytes and a NUL
    kVersionTextSize = 16,
};

struct InterfaceRecord {
    unsigned char linkAddress[6];
    unsigned char ipv4Address[4];  // network order, as the system delivers it
    char name[kInterfaceNameSize];
};

struct MachineInfoStore {
    char modelText[kTextSize];
    char serialText[kTextSize];
    char assetText[kTextSize];
    char makeText[kTextSize];
    char scratch[kTextSize];  // formatted provider results, valid until the next provider call
    int32_t diskSerialCount;
    char diskSerials[kDiskSerialSlots][kTextSize];
    char versionText[kVersionTextSize];
    InterfaceRecord interfaces[kInterfaceRecords];
};

// The one store of the process, zero at start.
extern MachineInfoStore gStore;
