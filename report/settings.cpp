// The setting table and its value providers: store texts, constants, and values formatted on demand.
#include "report/settings.h"

#include <SystemConfiguration/SystemConfiguration.h>
#include <stdio.h>
#include <string.h>

#include "inventory/captured_text.h"
#include "inventory/store.h"
#include "platform/platform.h"

const uint32_t kEnabledMask = 0x9FFFF07F;

const SettingRow kSettingTable[kSettingRowCount + 1] = {
    {"ComputerMakeWMI", MakeProvider, 0},
    {"ComputerModelWMI", ModelProvider, 0},
    {"ComputerSerialWMI", SerialProvider, 0},
    {"ComputerMake", MakeProvider, 0},
    {"ComputerModel", ModelProvider, 0},
    {"ComputerSerial", SerialProvider, 0},
    {"ComputerAsset0", AssetProvider, 0},
    {"ComputerAsset1", NULL, 0},
    {"SystemSMBIOSVersion", NULL, 0},
    {"SystemBiosVersion", NULL, 0},
    {"SystemBiosDate", NULL, 0},
    {"BaseBoardVersion", NULL, 0},
    {"HDDSerialNumber0", DiskSerialProvider, 0},
    {"HDDSerialNumber1", DiskSerialProvider, 1},
    {"HDDSerialNumber2", DiskSerialProvider, 2},
    {"HDDSerialNumber3", DiskSerialProvider, 3},
    {"ComputerName", ComputerNameProvider, 0},
    {"NICAdapterName0", InterfaceNameProvider, 0},
    {"MACAddress0", MacAddressProvider, 0},
    {"IPAddress0", IPv4AddressProvider, 0},
    {"NICAdapterName1", InterfaceNameProvider, 1},
    {"MACAddress1", MacAddressProvider, 1},
    {"IPAddress1", IPv4AddressProvider, 1},
    {"NICAdapterName2", InterfaceNameProvider, 2},
    {"MACAddress2", MacAddressProvider, 2},
    {"IPAddress2", IPv4AddressProvider, 2},
    {"NICAdapterName3", InterfaceNameProvider, 3},
    {"MACAddress3", MacAddressProvider, 3},
    {"IPAddress3", IPv4AddressProvider, 3},
    {"OSProductKey", NULL, 0},
    {"BatteryDeviceID", NULL, 0},
    {"InventoryVersion", VersionProvider, 0},
    {"ComputerUUID", NULL, 0},
    {NULL, NULL, 0},
};

bool IsRowEnabled(int32_t row) { return row >= 0 && row < 32 && ((kEnabledMask >> row) & 1u) != 0; }

const char *SettingValue(int32_t row) {
    if (!IsRowEnabled(row) || row >= kSettingRowCount || kSettingTable[row].provider == NULL) return "";
    const char *value = kSettingTable[row].provider(kSettingTable[row].argument);
    return value != NULL ? value : "";
}

const char *MakeProvider(int32_t) { return gStore.makeText; }
const char *ModelProvider(int32_t) { return gStore.modelText; }
const char *SerialProvider(int32_t) { return gStore.serialText; }
const char *AssetProvider(int32_t) { return gStore.assetText; }

const char *DiskSerialProvider(int32_t index) {
    if (index < 0 || index >= gStore.diskSerialCount || gStore.diskSerialCount > kDiskSerialSlots) return "";
    return gStore.diskSerials[index];
}

const char *ComputerNameProvider(int32_t) {
    // Owned: released below once its bytes are copied.
    CFStringRef name = SCDynamicStoreCopyComputerName(/* store */ NULL, /* nameEncoding */ NULL);
    if (name == NULL) {
        snprintf(gStore.scratch, sizeof gStore.scratch, "%s", "Macintosh");
        return gStore.scratch;
    }
    char converted[kTextSize];
    CopyCFStringBytes(name, kCFStringEncodingUTF8, converted, sizeof converted);
    EscapeCopy(gStore.scratch, sizeof gStore.scratch, converted);
    CFRelease(name);
    return gStore.scratch;
}

const char *InterfaceNameProvider(int32_t index) {
    if (index < 0 || index >= kInterfaceRecords) return "Unknown";
    return gStore.interfaces[index].name;
}

const char *MacAddressProvider(int32_t index) {
    if (index < 0 || index >= kInterfaceRecords) {
        memset(gStore.scratch, 0, sizeof gStore.scratch);
        return gStore.scratch;
    }
    const unsigned char *a = gStore.interfaces[index].linkAddress;
    snprintf(gStore.scratch, sizeof gStore.scratch, "%02x%02x%02x%02x%02x%02x", a[0], a[1], a[2], a[3], a[4], a[5]);
    return gStore.scratch;
}

const char *IPv4AddressProvider(int32_t index) {
    if (index < 0 || index >= kInterfaceRecords) {
        memset(gStore.scratch, 0, sizeof gStore.scratch);
        return gStore.scratch;
    }
    const unsigned char *a = gStore.interfaces[index].ipv4Address;
    snprintf(gStore.scratch, sizeof gStore.scratch, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    return gStore.scratch;
}

const char *VersionProvider(int32_t) {
    snprintf(gStore.versionText, sizeof gStore.versionText, "%x.%x", kFormatMajor, kFormatMinor);
    return gStore.versionText;
}
