// Finds the I/O Kit platform expert service through a master port obtained once per process.
#include "platform/platform.h"

namespace {
mach_port_t gMasterPort = MACH_PORT_NULL;  // kept for the process, never released
}

io_service_t GetPlatformExpert(void) {
    if (gMasterPort == MACH_PORT_NULL && IOMasterPort(MACH_PORT_NULL, &gMasterPort) != KERN_SUCCESS) {
        gMasterPort = MACH_PORT_NULL;
        return IO_OBJECT_NULL;
    }
    // The matching dictionary is consumed by the lookup; the returned service is the caller's.
    return IOServiceGetMatchingService(gMasterPort, IOServiceMatching("IOPlatformExpertDevice"));
}
