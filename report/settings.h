// The setting table of the "MachineInfo" section: 33 rows of name, value provider and argument, the
// enabled mask, and the providers.
#pragma once

#include <stdint.h>

// Returns a NUL-terminated text that stays valid at least until the next provider call. Borrowed:
// it points into the store or at a constant.
typedef const char *(*ValueProvider)(int32_t argument);

struct SettingRow {
    const char *name;
    ValueProvider provider;
    int32_t argument;
};

enum { kSettingRowCount = 33 };

// The 33 rows and an all-empty end row.
extern const SettingRow kSettingTable[kSettingRowCount + 1];
extern const uint32_t kEnabledMask;

// True when row calls its provider: its bit is set in the 32-bit mask (row 32 and beyond never).
bool IsRowEnabled(int32_t row);
// The value written for row: its provider's result when enabled, else "". Borrowed.
const char *SettingValue(int32_t row);

const char *MakeProvider(int32_t argument);
const char *ModelProvider(int32_t argument);
const char *SerialProvider(int32_t argument);
const char *AssetProvider(int32_t argument);
const char *DiskSerialProvider(int32_t index);
const char *ComputerNameProvider(int32_t argument);
const char *InterfaceNameProvider(int32_t index);
const char *MacAddressProvider(int32_t index);
const char *IPv4AddressProvider(int32_t index);
const char *VersionProvider(int32_t argument);

// The report format version, 1.11: major 1, minor 0x11.
enum { kFormatMajor = 1, kFormatMinor = 0x11 };
