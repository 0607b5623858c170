// Laying interface records out as xnu's ifconf() does: the writer that both the installed list and
// the live machine's list lay their records out through, and the socket addresses they hold.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "platform/interface_list.h"

namespace standin {

const size_t kRecordSize = kInterfaceNameBytes + 16;  // struct ifreq: the name and a struct sockaddr

// The bytes of a record whose socket address takes addressSize bytes: the name, then at least 16.
inline size_t RecordBytes(size_t addressSize) { return kInterfaceNameBytes + std::max<size_t>(16, addressSize); }

// The size of an interface's struct sockaddr_dl: a header of 8 bytes, the name (at most 15 bytes)
// and the link-layer address (at most 32), at least 20 and rounded up to 4.
inline size_t LinkAddressSize(size_t nameLength, size_t addressLength) {
    const size_t size = std::max<size_t>(
        8 + std::min<size_t>(nameLength, kInterfaceNameBytes - 1) + std::min<size_t>(addressLength, 32), 20);
    return (size + 3) & ~size_t{3};
}

// A socket address of up to 64 bytes, built in place: the largest here is a link-level address of
// 8 + 15 + 32 bytes.
struct SocketAddress {
    unsigned char bytes[64];
    size_t size;
};

// A struct sockaddr_dl for an interface: its index, type and name, then the link-layer address (at
// most 32 bytes of it).
SocketAddress LinkSocketAddress(const char *name, size_t nameLength, unsigned index, unsigned char type,
                                const unsigned char *address, size_t addressLength);
// A sockaddr_in (4 address bytes, at offset 4) or a sockaddr_in6 (16 bytes, at offset 8).
SocketAddress InetSocketAddress(const unsigned char *address, size_t addressLength);

// Appends records to a buffer while more than one record's size is left: an address of 16 bytes or
// less takes a whole record, a longer one its own length after the name when that fits. The buffer
// stays the caller's.
class RecordWriter {
  public:
    RecordWriter(unsigned char *buffer, size_t capacity) : buffer_(buffer), capacity_(buffer ? capacity : 0) {}
    // No record can be written any more.
    bool Full() const { return capacity_ - used_ <= kRecordSize; }
    // One record: the name (cut to 15 bytes), then the socket address. False when it was not written.
    bool Append(const char *name, size_t nameLength, const SocketAddress &address) {
        const size_t size = RecordBytes(address.size);
        if (Full() || capacity_ - used_ < size) return false;
        unsigned char *record = buffer_ + used_;
        std::memset(record, 0, size);
        std::memcpy(record, name, std::min<size_t>(nameLength, kInterfaceNameBytes - 1));
        std::memcpy(record + kInterfaceNameBytes, address.bytes, address.size);
        used_ += size;
        return true;
    }
    size_t used() const { return used_; }

  private:
    unsigned char *buffer_;
    size_t capacity_;
    size_t used_ = 0;
};

}  // namespace standin
