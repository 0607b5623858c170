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

const size_t kRecordSize = kInterfaceNameBytes + 16;  // struct ifreq: the name and a struct sockaddr

// A socket address of up to 64 bytes, built in place: the largest here is a link-level address of
// 8 + 15 + 32 bytes.
struct SocketAddress {
    unsigned char bytes[64];
    size_t size;
};

// Appends one record (the name, then the socket address) as ifconf() does, while more than one record's
// size is left: an address of 16 bytes or less takes a whole record, a longer one its own length
// after the name when that fits. False when it was not written.
bool AppendRecord(const std::string &name, const SocketAddress &address, unsigned char *buffer, size_t capacity,
                  size_t *used) {
    const size_t size = kInterfaceNameBytes + std::max<size_t>(16, address.size);
    if (capacity - *used <= kRecordSize || capacity - *used < size) return false;
    unsigned char *record = buffer + *used;
    std::memset(record, 0, size);
    std::memcpy(record, name.data(), std::min<size_t>(name.size(), kInterfaceNameBytes - 1));
    std::memcpy(record + kInterfaceNameBytes, address.bytes, address.size);
    *used += size;
    return true;
}

SocketAddress LinkAddress(const InterfaceInfo &info) {
    const size_t nlen = std::min<size_t>(info.name.size(), kInterfaceNameBytes - 1);
    const size_t alen = std::min<size_t>(info.linkAddress.size(), 32);
    SocketAddress sdl = {{}, RoundUp4(std::max<size_t>(8 + nlen + alen, 20))};
    sdl.bytes[0] = static_cast<unsigned char>(sdl.size);
    sdl.bytes[1] = kFamilyLink;
    sdl.bytes[2] = static_cast<unsigned char>(info.index & 0xFF);  // sdl_index, in host order as macOS keeps it
    sdl.bytes[3] = static_cast<unsigned char>((info.index >> 8) & 0xFF);
    sdl.bytes[4] = info.type;
    sdl.bytes[5] = static_cast<unsigned char>(nlen);
    sdl.bytes[6] = static_cast<unsigned char>(alen);
    sdl.bytes[7] = 0;  // sdl_slen
    std::memcpy(&sdl.bytes[8], info.name.data(), nlen);
    if (alen > 0) std::memcpy(&sdl.bytes[8 + nlen], info.linkAddress.data(), alen);
    return sdl;
}

// A sockaddr_in (16 bytes, address at offset 4) or sockaddr_in6 (28 bytes, address at offset 8).
template <size_t N>
SocketAddress InetAddress(const std::array<unsigned char, N> &address) {
    const bool v4 = N == 4;
    SocketAddress sa = {{}, v4 ? 16u : 28u};
    sa.bytes[0] = static_cast<unsigned char>(sa.size);
    sa.bytes[1] = v4 ? kFamilyInet : kFamilyInet6;
    std::memcpy(&sa.bytes[v4 ? 4 : 8], address.data(), N);
    return sa;
}

}  // namespace

size_t EncodeInterfaceRecords(const std::vector<InterfaceInfo> &interfaces, unsigned char *buffer, size_t capacity) {
    size_t used = 0;
    if (buffer == nullptr) return 0;
    for (const auto &info : interfaces) {
        if (capacity - used <= kRecordSize) break;
        // The link-level address first, then the others in the order the interface holds them (those
        // the order leaves out after it, IPv4 first); the first record that is not written ends them.
        if (!AppendRecord(info.name, LinkAddress(info), buffer, capacity, &used)) continue;
        size_t next4 = 0, next6 = 0;
        bool written = true;
        const auto append = [&](char family) {
            if (family == '4' && next4 < info.ipv4.size()) {
                written = AppendRecord(info.name, InetAddress(info.ipv4[next4++]), buffer, capacity, &used);
            } else if (family == '6' && next6 < info.ipv6.size()) {
                written = AppendRecord(info.name, InetAddress(info.ipv6[next6++]), buffer, capacity, &used);
            }
        };
        for (size_t k = 0; written && k < info.order.size(); ++k) append(info.order[k]);
        while (written && next4 < info.ipv4.size()) append('4');
        while (written && next6 < info.ipv6.size()) append('6');
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
