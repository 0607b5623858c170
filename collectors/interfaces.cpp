// Fills the interface table from the SIOCGIFCONF records: a link-level record with a 6-byte address
// makes an interface a candidate; the IPv4 records of that same interface give its address; the
// registry's network interface nodes tell the primary and the built-in ports, which come first.
#include "collectors/interfaces.h"

#include <errno.h>
#include <mach/mach.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "inventory/captured_text.h"
#include "platform/platform.h"

namespace {

const int32_t kAddressOffset = kInterfaceNameBytes;  // the socket address follows the name
const int32_t kLinkHeaderSize = 8;                   // sockaddr_dl up to sdl_data
const int32_t kLinkAddressSize = 6;
const int32_t kInetAddressOffset = 4;  // sin_addr inside sockaddr_in

// The classes of the report's order, first to last.
enum Rank { kPrimaryPort, kAddressedNode, kBuiltinPort, kAddressed, kOther };

// An interface whose link-level record qualified, waiting for the IPv4 records that follow it.
struct Candidate {
    const char *name;  // the raw 16-byte name in the records
    const unsigned char *link;
    const unsigned char *ipv4;  // the last IPv4 address listed for it, or null
};

const InterfaceNode *FindNode(const char *rawName, const InterfaceNode *nodes, int32_t nodeCount) {
    for (int32_t n = 0; nodes != NULL && n < nodeCount; ++n) {
        if (strncmp(rawName, nodes[n].name, kInterfaceNameBytes) == 0) return &nodes[n];
    }
    return NULL;
}

Rank RankOf(const Candidate &candidate, const InterfaceNode *nodes, int32_t nodeCount) {
    const InterfaceNode *node = FindNode(candidate.name, nodes, nodeCount);
    const bool addressed = candidate.ipv4 != NULL;
    if (node != NULL && node->primary) return kPrimaryPort;
    if (node != NULL && addressed) return kAddressedNode;
    if (node != NULL && node->builtin) return kBuiltinPort;
    return addressed ? kAddressed : kOther;
}

// Puts a candidate into the table, kept in report order (ranks[0..*filled) the ranks of its records):
// after every record of its rank or a better one, or nowhere when the table is full of better ones.
void Place(const Candidate &candidate, Rank rank, InterfaceRecord *table, Rank *ranks, int32_t count, int32_t *filled) {
    int32_t at = *filled;
    while (at > 0 && ranks[at - 1] > rank) --at;
    if (at == count) return;
    const int32_t moved = (*filled < count ? *filled : count - 1) - at;
    memmove(&table[at + 1], &table[at], static_cast<size_t>(moved) * sizeof table[0]);
    memmove(&ranks[at + 1], &ranks[at], static_cast<size_t>(moved) * sizeof ranks[0]);
    if (*filled < count) ++*filled;
    char rawName[kInterfaceNameBytes + 1];
    memcpy(rawName, candidate.name, kInterfaceNameBytes);
    rawName[kInterfaceNameBytes] = '\0';
    EscapeCopy(table[at].name, sizeof table[at].name, rawName);
    memcpy(table[at].linkAddress, candidate.link, kLinkAddressSize);
    if (candidate.ipv4 != NULL) {
        memcpy(table[at].ipv4Address, candidate.ipv4, 4);
    } else {
        memset(table[at].ipv4Address, 0, sizeof table[at].ipv4Address);
    }
    ranks[at] = rank;
}

bool IsTrue(io_service_t service, CFStringRef key) {
    CFTypeRef value = IORegistryEntryCreateCFProperty(service, key, kCFAllocatorDefault, 0);  // owned
    if (value == NULL) return false;
    const bool isTrue =
        CFGetTypeID(value) == CFBooleanGetTypeID() && CFBooleanGetValue(static_cast<CFBooleanRef>(value));
    CFRelease(value);
    return isTrue;
}

}  // namespace

int32_t ReadInterfaceNodes(InterfaceNode *nodes, int32_t capacity) {
    if (nodes == NULL || capacity <= 0) return 0;
    io_iterator_t iterator = IO_OBJECT_NULL;  // owned: released below
    // The matching dictionary is consumed by the lookup; MACH_PORT_NULL is the default master port.
    if (IOServiceGetMatchingServices(MACH_PORT_NULL, IOServiceMatching("IONetworkInterface"), &iterator) !=
        KERN_SUCCESS) {
        return 0;
    }
    int32_t count = 0;
    io_service_t service = IOIteratorNext(iterator);  // owned: released in the loop
    while (count < capacity && service != IO_OBJECT_NULL) {
        CFTypeRef name =  // owned: released below
            IORegistryEntryCreateCFProperty(service, CFSTR("BSD Name"), kCFAllocatorDefault, 0);
        InterfaceNode &node = nodes[count];
        node.name[0] = '\0';
        if (name != NULL && CFGetTypeID(name) == CFStringGetTypeID()) {
            CopyCFStringBytes(static_cast<CFStringRef>(name), kCFStringEncodingUTF8, node.name, sizeof node.name);
        }
        if (name != NULL) CFRelease(name);
        if (node.name[0] != '\0') {
            node.primary = IsTrue(service, CFSTR("IOPrimaryInterface"));
            node.builtin = IsTrue(service, CFSTR("IOBuiltin"));
            ++count;
        }
        IOObjectRelease(service);
        service = IOIteratorNext(iterator);
    }
    if (service != IO_OBJECT_NULL) IOObjectRelease(service);  // taken, but the nodes are full
    IOObjectRelease(iterator);
    return count;
}

int32_t WalkInterfaceRecords(const unsigned char *records, int32_t length, InterfaceRecord *table, int32_t count,
                             const InterfaceNode *nodes, int32_t nodeCount) {
    if (records == NULL || table == NULL || count < 0 || count > kInterfaceRequestRecords) return -1;
    Rank ranks[kInterfaceRequestRecords];
    int32_t filled = 0, qualified = 0;
    Candidate pending = {NULL, NULL, NULL};
    int32_t position = 0;
    for (;;) {
        const bool more = length - position > kAddressOffset + 1;
        const unsigned char *record = records + position;
        const int32_t addressLength = more ? record[kAddressOffset] : 0;
        const int32_t family = more ? record[kAddressOffset + 1] : 0;
        const bool whole = more && addressLength <= length - position - kAddressOffset;
        const unsigned char *address = record + kAddressOffset;
        const unsigned char *link = NULL;
        if (whole && family == kFamilyLink && addressLength >= kLinkHeaderSize) {
            const int32_t nameLength = address[5];
            link = address + kLinkHeaderSize + nameLength;
            bool nonZero = false;
            if (address[6] == kLinkAddressSize && kLinkHeaderSize + nameLength + kLinkAddressSize <= addressLength) {
                for (int k = 1; k < kLinkAddressSize; ++k) nonZero = nonZero || link[k] != 0;
            }
            if (!nonZero) link = NULL;
        }
        // The candidate before is complete at the next one, or where the records end.
        if ((link != NULL || !whole) && pending.name != NULL) {
            Place(pending, RankOf(pending, nodes, nodeCount), table, ranks, count, &filled);
            pending.name = NULL;
        }
        if (!whole) break;  // the end, or a record that runs past the returned bytes
        position += kAddressOffset + (addressLength > 16 ? addressLength : 16);
        const char *name = reinterpret_cast<const char *>(record);
        if (link != NULL) {
            ++qualified;
            pending.name = name;
            pending.link = link;
            pending.ipv4 = NULL;
        } else if (family == kFamilyInet && pending.name != NULL && addressLength >= kInetAddressOffset + 4 &&
                   strncmp(name, pending.name, kInterfaceNameBytes) == 0) {
            pending.ipv4 = address + kInetAddressOffset;
        }
    }
    return qualified > count ? count : qualified - 1;
}

int32_t CaptureInterfaces(InterfaceRecord *table, int32_t count) {
    if (table == NULL || count > kInterfaceRequestRecords) return -1;
    int32_t size = kInterfaceRequestRecords * kInterfaceRequestRecordSize;
    // Owned: the request buffer is freed before every return below.
    unsigned char *buffer = static_cast<unsigned char *>(calloc(static_cast<size_t>(size), 1));
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
    int32_t length = size;
    if (RequestInterfaceList(fd, buffer, &length) == -1) {
        const int error = errno;
        close(fd);
        free(buffer);
        return error != 0 ? 0 : -1;
    }
    // The kernel writes records while more than one record's size is left and never says it stopped
    // short: a list that comes within one largest record of the end may go on, so it is asked for
    // again with twice the room, up to the largest request. The buffer grows in place where the heap
    // allows, so that a long list is not held twice over; the records that came stay in its first
    // bytes, so a larger buffer that cannot be allocated, or a larger request that fails (it writes
    // nothing then), leaves the list as it came.
    while (length >= 0 && length <= size && size - length <= kLargestInterfaceRecord &&
           size < kLargestInterfaceRequest) {
        const int32_t larger = size * 2 < kLargestInterfaceRequest ? size * 2 : kLargestInterfaceRequest;
        unsigned char *more = static_cast<unsigned char *>(realloc(buffer, static_cast<size_t>(larger)));  // owned
        if (more == NULL) break;  // buffer is still ours, unchanged
        buffer = more;
        memset(buffer + size, 0, static_cast<size_t>(larger - size));  // zeroed, as the first request's
        int32_t got = larger;
        if (RequestInterfaceList(fd, buffer, &got) == -1) break;
        size = larger;
        length = got;
    }
    close(fd);
    if (length < 0 || length > size) length = 0;  // never trust more than we gave
    InterfaceNode nodes[kInterfaceNodes];
    const int32_t nodeCount = ReadInterfaceNodes(nodes, kInterfaceNodes);
    const int32_t result = WalkInterfaceRecords(buffer, length, table, count, nodes, nodeCount);
    free(buffer);
    return result;
}
