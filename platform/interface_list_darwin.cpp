// The interface list on macOS: the SIOCGIFCONF request itself.
#include <errno.h>
#include <net/if.h>
#include <stddef.h>
#include <sys/ioctl.h>
#include <sys/sockio.h>

#include "platform/interface_list.h"

int RequestInterfaceList(int socket, void *buffer, int32_t *length) {
    if (buffer == NULL || length == NULL) {
        errno = EINVAL;
        return -1;
    }
    struct ifconf request;  // 12 bytes, packed: the length, then the buffer pointer
    request.ifc_len = *length;
    request.ifc_buf = static_cast<char *>(buffer);
    if (ioctl(socket, SIOCGIFCONF, &request) == -1) return -1;
    *length = request.ifc_len;
    return 0;
}
