// The system's interface list as BSD interface request records (SIOCGIFCONF): each record is a
// 16-byte interface name followed by a socket address whose first byte is its length and second its
// family; a record takes 16 + max(16, length) bytes.
#pragma once

#include <stdint.h>

enum {
    kInterfaceNameBytes = 16,
    kFamilyLink = 18,   // AF_LINK: a struct sockaddr_dl
    kFamilyInet = 2,    // AF_INET: a struct sockaddr_in
    kFamilyInet6 = 30,  // AF_INET6 as the records carry it
};

// Issues SIOCGIFCONF on socket into buffer. *length holds the buffer's size on entry and the bytes
// written on success; whole records only. Returns 0, or -1 with errno set. The buffer stays the
// caller's.
int RequestInterfaceList(int socket, void *buffer, int32_t *length);
