// Converts a CF string into a caller's fixed byte buffer.
#include "platform/platform.h"

CFIndex CopyCFStringBytes(CFStringRef string, CFStringEncoding encoding, char *buffer, CFIndex size) {
    if (buffer == NULL || size <= 0) return 0;
    buffer[0] = '\0';
    if (string == NULL) return 0;
    const CFIndex length = CFStringGetLength(string);
    if (length <= 0) return 0;
    CFIndex used = 0;
    const CFIndex converted =
        CFStringGetBytes(string, CFRangeMake(0, length), encoding, /* lossByte */ '?',
                         /* isExternalRepresentation */ true, reinterpret_cast<UInt8 *>(buffer), size - 1, &used);
    buffer[used] = '\0';
    return converted;
}
