// The platform seam's own wrappers: the platform expert lookup and the CF string to bytes conversion
// that every captured text goes through.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>

// The platform expert service, or 0. The caller releases the service with IOObjectRelease. The master
// port is obtained once and kept for the process; a failed attempt is retried on the next call.
io_service_t GetPlatformExpert(void);

// Converts string into buffer as at most size - 1 bytes in encoding, ending on a whole character, with
// "?" for characters the encoding cannot hold, and NUL-terminates it. Returns the UTF-16 units
// converted. A null buffer or a size of 0 leaves everything untouched; the caller owns buffer.
CFIndex CopyCFStringBytes(CFStringRef string, CFStringEncoding encoding, char *buffer, CFIndex size);
