// The interface list for hosts without SIOCGIFCONF's BSD records: the records macOS would return,
// built from the kernel's rtnetlink dumps (or from a test's installed interfaces), taken once a
// socket.
#include <errno.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "interface_records.h"
#include "platform/interface_list.h"
#include "standin_testing.h"

namespace standin {
namespace {

// A socket's first request lays out the records that a request of this many bytes takes (the largest
// that the interface collector makes); its later requests are answered from them.
const size_t kSnapshotBytes = 64 * 1024;

// One socket's view of the list, known by the socket's inode, which no other open socket shares.
struct Snapshot {
    bool taken = false;
    dev_t device = 0;
    ino_t inode = 0;
    size_t length = 0;  // the bytes of gSnapshotRecords laid out
};

// Process-wide, as the kernel's list is: the snapshot's records, not on the heap.
unsigned char gSnapshotRecords[kSnapshotBytes];

struct ListState {
    std::mutex mutex;
    bool installed = false;
    std::vector<InterfaceInfo> interfaces;
    int error = 0;
    Snapshot snapshot;
};

ListState &GetListState() {
    static auto *state = new ListState();
    return *state;
}

// The list laid out in capacity bytes, as the kernel would lay it out now.
size_t LayOutList(const ListState &state, unsigned char *buffer, size_t capacity) {
    return state.installed ? EncodeInterfaceRecords(state.interfaces, buffer, capacity)
                           : ReadLiveInterfaceRecords(buffer, capacity);
}

}  // namespace

SocketAddress LinkSocketAddress(const char *name, size_t nameLength, unsigned index, unsigned char type,
                                const unsigned char *address, size_t addressLength) {
    const size_t nlen = std::min<size_t>(nameLength, kInterfaceNameBytes - 1);
    const size_t alen = std::min<size_t>(addressLength, 32);
    SocketAddress sdl = {{}, LinkAddressSize(nlen, alen)};
    sdl.bytes[0] = static_cast<unsigned char>(sdl.size);
    sdl.bytes[1] = kFamilyLink;
    sdl.bytes[2] = static_cast<unsigned char>(index & 0xFF);  // sdl_index, in host order as macOS keeps it
    sdl.bytes[3] = static_cast<unsigned char>((index >> 8) & 0xFF);
    sdl.bytes[4] = type;
    sdl.bytes[5] = static_cast<unsigned char>(nlen);
    sdl.bytes[6] = static_cast<unsigned char>(alen);
    sdl.bytes[7] = 0;  // sdl_slen
    if (nlen > 0) std::memcpy(&sdl.bytes[8], name, nlen);
    if (alen > 0) std::memcpy(&sdl.bytes[8 + nlen], address, alen);
    return sdl;
}

SocketAddress InetSocketAddress(const unsigned char *address, size_t addressLength) {
    const bool v4 = addressLength == 4;
    SocketAddress sa = {{}, v4 ? 16u : 28u};
    sa.bytes[0] = static_cast<unsigned char>(sa.size);
    sa.bytes[1] = v4 ? kFamilyInet : kFamilyInet6;
    std::memcpy(&sa.bytes[v4 ? 4 : 8], address, v4 ? 4 : 16);
    return sa;
}

size_t EncodeInterfaceRecords(const std::vector<InterfaceInfo> &interfaces, unsigned char *buffer, size_t capacity) {
    RecordWriter writer(buffer, capacity);
    for (const auto &info : interfaces) {
        if (writer.Full()) break;
        // The link-level address first, then the others in the order the interface holds them (those
        // the order leaves out after it, IPv4 first); the first record that is not written ends them.
        const char *name = info.name.data();
        if (!writer.Append(name, info.name.size(),
                           LinkSocketAddress(name, info.name.size(), info.index, info.type, info.linkAddress.data(),
                                             info.linkAddress.size()))) {
            continue;
        }
        size_t next4 = 0, next6 = 0;
        bool written = true;
        const auto append = [&](char family) {
            if (family == '4' && next4 < info.ipv4.size()) {
                written = writer.Append(name, info.name.size(), InetSocketAddress(info.ipv4[next4++].data(), 4));
            } else if (family == '6' && next6 < info.ipv6.size()) {
                written = writer.Append(name, info.name.size(), InetSocketAddress(info.ipv6[next6++].data(), 16));
            }
        };
        for (size_t k = 0; written && k < info.order.size(); ++k) append(info.order[k]);
        while (written && next4 < info.ipv4.size()) append('4');
        while (written && next6 < info.ipv6.size()) append('6');
    }
    return writer.used();
}

size_t RelayInterfaceRecords(const unsigned char *records, size_t length, unsigned char *buffer, size_t capacity) {
    if (records == nullptr || buffer == nullptr) return 0;
    size_t used = 0;
    bool skipping = false;  // a record of this interface did not fit: the rest of it is dropped
    for (size_t at = 0; length - at >= kRecordSize && capacity - used > kRecordSize;) {
        const unsigned char *record = records + at;
        const size_t size = RecordBytes(record[kInterfaceNameBytes]);
        if (size > length - at) break;
        at += size;
        if (record[kInterfaceNameBytes + 1] == kFamilyLink) skipping = false;  // the next interface begins
        if (skipping) continue;
        if (capacity - used < size) {
            skipping = true;
            continue;
        }
        std::memcpy(buffer + used, record, size);
        used += size;
    }
    return used;
}

void InstallInterfaces(const std::vector<InterfaceInfo> &interfaces) {
    ListState &state = GetListState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.installed = true;
    state.interfaces = interfaces;  // a socket that has taken its snapshot keeps it, as a kernel's view
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
    struct stat status;
    if (fstat(socket, &status) == -1) return -1;  // errno is EBADF, as the ioctl would give
    if (buffer == nullptr || length == nullptr || *length < 0) {
        errno = EINVAL;
        return -1;
    }
    standin::ListState &state = standin::GetListState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.error != 0) {
        errno = state.error;
        return -1;
    }
    const size_t capacity = static_cast<size_t>(*length);
    auto *out = static_cast<unsigned char *>(buffer);
    if (capacity > standin::kSnapshotBytes) {
        // More than a snapshot holds: the list is laid out for this request alone.
        *length = static_cast<int32_t>(standin::LayOutList(state, out, capacity));
        return 0;
    }
    standin::Snapshot &snapshot = state.snapshot;
    if (!snapshot.taken || snapshot.device != status.st_dev || snapshot.inode != status.st_ino) {
        snapshot.length = standin::LayOutList(state, standin::gSnapshotRecords, standin::kSnapshotBytes);
        snapshot.taken = true;
        snapshot.device = status.st_dev;
        snapshot.inode = status.st_ino;
    }
    *length =
        static_cast<int32_t>(standin::RelayInterfaceRecords(standin::gSnapshotRecords, snapshot.length, out, capacity));
    return 0;
}
