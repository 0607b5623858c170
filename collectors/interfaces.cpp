// Fills the interface table from the SIOCGIFCONF records: a link-level record with a 6-byte address
// opens a table record; the IPv4 records of that same interface fill in its address.
#include "collectors/interfaces.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "inventory/captured_text.h"
#include "platform/interface_list.h"

namespace {

const int32_t kAddressOffset = kInterfaceNameBytes;  // the socket address follows the name
const int32_t kLinkHeaderSize = 8;                   // sockaddr_dl up to sdl_data
const int32_t kLinkAddressSize = 6;
const int32_t kInetAddressOffset = 4;  // sin_addr inside sockaddr_in

}  // namespace

int32_t WalkInterfaceRecords(const unsigned char *records, int32_t length, InterfaceRecord *table, int32_t count) {
    if (records == NULL || table == NULL) return -1;
    int32_t i = -1;
    const char *lastName = NULL;  // the raw name of the link-level record filled last
    int32_t position = 0;
    while (length - position > kAddressOffset + 1 && i < count) {
        const unsigned char *record = records + position;
        const int32_t remaining = length - position;
        const int32_t addressLength = record[kAddressOffset];
        const int32_t family = record[kAddressOffset + 1];
        if (addressLength > remaining - kAddressOffset) break;  // the record runs past the returned bytes
        position += kAddressOffset + (addressLength > 16 ? addressLength : 16);
        const unsigned char *address = record + kAddressOffset;
        const char *name = reinterpret_cast<const char *>(record);

        if (family == kFamilyLink && addressLength >= kLinkHeaderSize) {
            const int32_t nameLength = address[5];
            const int32_t linkLength = address[6];
            const unsigned char *link = address + kLinkHeaderSize + nameLength;
            if (linkLength != kLinkAddressSize || kLinkHeaderSize + nameLength + kLinkAddressSize > addressLength) {
                continue;
            }
            bool nonZero = false;
            for (int k = 1; k < kLinkAddressSize; ++k) nonZero = nonZero || link[k] != 0;
            if (!nonZero) continue;
            ++i;
            if (i < count) {
                char rawName[kInterfaceNameBytes + 1];
                memcpy(rawName, name, kInterfaceNameBytes);
                rawName[kInterfaceNameBytes] = '\0';
                EscapeCopy(table[i].name, sizeof table[i].name, rawName);
                memcpy(table[i].linkAddress, link, kLinkAddressSize);
                memset(table[i].ipv4Address, 0, sizeof table[i].ipv4Address);
                lastName = name;
            }
        } else if (family == kFamilyInet && i >= 0 && i < count && lastName != NULL &&
                   addressLength >= kInetAddressOffset + 4 && strncmp(name, lastName, kInterfaceNameBytes) == 0) {
            memcpy(table[i].ipv4Address, address + kInetAddressOffset, 4);
        }
    }
    return i;
}

int32_t CaptureInterfaces(InterfaceRecord *table, int32_t count) {
    if (table == NULL || count > kInterfaceRequestRecords) return -1;
    // Owned: the request buffer is freed before every return below.
    unsigned char *buffer = static_cast<unsigned char *>(calloc(kInterfaceRequestRecords, kInterfaceRequestRecordSize));
    if (buffer == NULL) return -1;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);  // owned: closed below, descriptor 0 included
    if (fd == 0) {
        close(fd);
        free(buffer);
        return 0;
    }
    if (fd == -1) {
        const int error = errno;
        free(buffer);
        return error != 0 ? 0 : -1;
    }
    int32_t length = kInterfaceRequestRecords * kInterfaceRequestRecordSize;
    if (RequestInterfaceList(fd, buffer, &length) == -1) {
        const int error = errno;
        close(fd);
        free(buffer);
        return error != 0 ? 0 : -1;
    }
    close(fd);
    if (length > kInterfaceRequestRecords * kInterfaceRequestRecordSize) length = 0;  // never trust more than we gave
    const int32_t result = WalkInterfaceRecords(buffer, length, table, count);
    free(buffer);
    return result;
}
