// The maker on Linux: the DMI system or board vendor, else the vendor prefix of the device tree's first
// "compatible" entry, both read below the live registry's root.
#include <string.h>

#include <algorithm>

#include "platform/computer_make.h"
#include "registry.h"

size_t CopyComputerMake(char *buffer, size_t size) {
    if (buffer == nullptr || size == 0) return 0;
    const std::string make = standin::ReadLiveComputerMake(standin::LiveRegistryRoot());
    const size_t length = std::min(make.size(), size - 1);
    memcpy(buffer, make.data(), length);
    buffer[length] = '\0';
    return length;
}
