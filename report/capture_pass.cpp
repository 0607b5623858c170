// The capture pass: fills the store from the collectors, in their fixed order.
#include "report/capture_pass.h"

#include <string.h>

#include "collectors/disk_serials.h"
#include "collectors/interfaces.h"
#include "collectors/platform_identity.h"
#include "inventory/captured_text.h"
#include "inventory/store.h"

void RunCapturePass(void) {
    memset(gStore.serialText, 0, sizeof gStore.serialText);
    memset(gStore.assetText, 0, sizeof gStore.assetText);
    memset(gStore.modelText, 0, sizeof gStore.modelText);
    memset(gStore.makeText, 0, sizeof gStore.makeText);
    gStore.diskSerialCount = CaptureDiskSerials(gStore.diskSerials, kDiskSerialSlots);
    CaptureInterfaces(gStore.interfaces, kInterfaceRecords);
    CapturePlatformIdentity(gStore.serialText, gStore.assetText, gStore.modelText);
    CaptureComputerMake(gStore.makeText);
    TrimSpaces(gStore.serialText);
    TrimSpaces(gStore.assetText);
    TrimSpaces(gStore.modelText);
    TrimSpaces(gStore.makeText);
}
