// The interface list for hosts without SIOCGIFCONF's BSD records: the records macOS would return,
// built from the kernel's rtnetlink dumps (or from a test's installed interfaces).
#include <errno.h>
#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/interface_list.h"
#include "standin_testing.h"

namespace standin {
namespace {

struct ListState {
    std::mutex mutex;
    bool installed = false;
    std::vector<InterfaceInfo> interfaces;
    int error = 0;
};

ListState &GetListState() {
    static auto *state = new ListState();
    return *state;
}

size_t RoundUp4(size_t n) { return (n + 3) & ~size_t{3}; }

// Appends one record (name, then the socket address) if it fits whole; false when it does not.
bool AppendRecord(const std::string &name, const std::vector<unsigned char> &address, unsigned char *buffer,
                  size_t capacity, size_t *used) {
    const size_t size = kInterfaceNameBytes + std::max<size_t>(16, address.size());
    if (size > capacity - *used) return false;
    unsigned char *record = buffer + *used;
    std::memset(record, 0, size);
    std::memcpy(record, name.data(), std::min<size_t>(name.size(), kInterfaceNameBytes - 1));
    std::memcpy(record + kInterfaceNameBytes, address.data(), address.size());
    *used += size;
    return true;
}

std::vector<unsigned char> LinkAddress(const InterfaceInfo &info) {
    const size_t nlen = std::min<size_t>(info.name.size(), kInterfaceNameBytes - 1);
    const size_t alen = std::min<size_t>(info.linkAddress.size(), 32);
    const size_t length = RoundUp4(std::max<size_t>(8 + nlen + alen, 20));
    std::vector<unsigned char> sdl(length, 0);
    sdl[0] = static_cast<unsigned char>(length);
    sdl[1] = kFamilyLink;
    sdl[2] = static_cast<unsigned char>(info.index & 0xFF);  // sdl_index, in host order as macOS keeps it
    sdl[3] = static_cast<unsigned char>((info.index >> 8) & 0xFF);
    sdl[4] = info.type;
    sdl[5] = static_cast<unsigned char>(nlen);
    sdl[6] = static_cast<unsigned char>(alen);
    sdl[7] = 0;  // sdl_slen
    std::memcpy(&sdl[8], info.name.data(), nlen);
    if (alen > 0) std::memcpy(&sdl[8 + nlen], info.linkAddress.data(), alen);
    return sdl;
}

// A sockaddr_in (16 bytes, address at offset 4) or sockaddr_in6 (28 bytes, address at offset 8).
template <size_t N>
std::vector<unsigned char> InetAddress(const std::array<unsigned char, N> &address) {
    const bool v4 = N == 4;
    std::vector<unsigned char> sa(v4 ? 16 : 28, 0);
    sa[0] = static_cast<unsigned char>(sa.size());
    sa[1] = v4 ? kFamilyInet : kFamilyInet6;
    std::memcpy(&sa[v4 ? 4 : 8], address.data(), N);
    return sa;
}

}  // namespace

size_t EncodeInterfaceRecords(const std::vector<InterfaceInfo> &interfaces, unsigned char *buffer, size_t capacity) {
    size_t used = 0;
    if (buffer == nullptr) return 0;
    for (const auto &info : interfaces) {
        if (!AppendRecord(info.name, LinkAddress(info), buffer, capacity, &used)) return used;
        for (const auto &a : info.ipv4) {
            if (!AppendRecord(info.name, InetAddress(a), buffer, capacity, &used)) return used;
        }
        for (const auto &a : info.ipv6) {
            if (!AppendRecord(info.name, InetAddress(a), buffer, capacity, &used)) return used;
        }
    }
    return used;
}

void InstallInterfaces(const std::vector<InterfaceInfo> &interfaces) {
    ListState &state = GetListState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.installed = true;
    state.interfaces = interfaces;
}

void UseLiveInterfaces() {
    ListState &state = GetListState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.installed = false;
    std::vector<InterfaceInfo>().swap(state.interfaces);  // its memory too: a test ends as it began
    state.error = 0;
}

void SetInterfaceListError(int error) {
    ListState &state = GetListState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.error = error;
}

}  // namespace standin

int RequestInterfaceList(int socket, void *buffer, int32_t *length) {
    if (fcntl(socket, F_GETFD) == -1) return -1;  // errno is EBADF, as the ioctl would give
    if (buffer == nullptr || length == nullptr || *length < 0) {
        errno = EINVAL;
        return -1;
    }
    standin::ListState &state = standin::GetListState();
    std::vector<standin::InterfaceInfo> interfaces;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.error != 0) {
            errno = state.error;
            return -1;
        }
        if (state.installed) interfaces = state.interfaces;
    }
    if (!state.installed) interfaces = standin::ReadLiveInterfaces(static_cast<size_t>(*length));
    *length = static_cast<int32_t>(standin::EncodeInterfaceRecords(interfaces, static_cast<unsigned char *>(buffer),
                                                                   static_cast<size_t>(*length)));
    return 0;
}
