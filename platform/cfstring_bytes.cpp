// Converts a CF string into a caller's fixed byte buffer.
#include "platform/platform.h"

CFIndex CopyCFStringBytes(CFStringRef string, CFStringEncoding encoding, char *buffer, CFIndex size) {
    if (buffer == NULL || size <= 0) return 0;
    buffer[0] = '\0';
    if (string == NULL) return 0;
    const CFIndex length = CFStringGetLength(string);
    if (length <= 0) return 0;
    const CFIndex room = size - 1;  // and the NUL
    CFIndex converted = 0, used = 0;
    // Core Foundation's UTF-8 conversion stops before a character it cannot convert (an unpaired
    // surrogate) instead of using the loss byte; such a character becomes "?" here and the rest
    // follows. Each call is given only the room left, never 0 bytes (which would only measure).
    while (converted < length && used < room) {
        CFIndex written = 0;
        const CFIndex n = CFStringGetBytes(string, CFRangeMake(converted, length - converted), encoding,
                                           /* lossByte */ '?', /* isExternalRepresentation */ true,
                                           reinterpret_cast<UInt8 *>(buffer) + used, room - used, &written);
        if (n < 0 || written < 0 || written > room - used) break;  // never trust more than the room given
        converted += n;
        used += written;
        if (converted >= length || used >= room) break;
        // Stopped early: either the next character does not fit, or it cannot be converted at all.
        const CFIndex next = length - converted < 2 ? length - converted : 2;  // a surrogate pair at most
        CFIndex needed = 0;
        if (CFStringGetBytes(string, CFRangeMake(converted, next), encoding, /* lossByte */ 0,
                             /* isExternalRepresentation */ true, /* buffer */ NULL, 0, &needed) > 0) {
            break;  // it converts, but the room is full
        }
        buffer[used++] = '?';
        converted += 1;
    }
    buffer[used] = '\0';
    return converted;
}
