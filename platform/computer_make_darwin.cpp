// The maker on macOS: every machine the frameworks describe is Apple's.
#include <string.h>

#include "platform/computer_make.h"

size_t CopyComputerMake(char *buffer, size_t size) {
    if (buffer == NULL || size == 0) return 0;
    static const char kMake[] = "Apple";
    const size_t length = sizeof kMake - 1 < size - 1 ? sizeof kMake - 1 : size - 1;
    memcpy(buffer, kMake, length);
    buffer[length] = '\0';
    return length;
}
