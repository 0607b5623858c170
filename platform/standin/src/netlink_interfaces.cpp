// The live machine's interfaces read from the kernel through rtnetlink, as `ip` reads them: a link
// dump, kept only as far as the link records can still fit, then an IPv4 and an IPv6 address dump for
// the interfaces kept.
#include <errno.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "interface_records.h"
#include "standin_testing.h"

#ifndef RTEXT_FILTER_SKIP_STATS
#define RTEXT_FILTER_SKIP_STATS (1 << 3)
#endif

namespace standin {
namespace {

const unsigned char kTypeEthernet = 6;   // IFT_ETHER
const unsigned char kTypeLoopback = 24;  // IFT_LOOP
const unsigned char kTypeOther = 1;      // IFT_OTHER
// The largest link-layer address the C library's interface list keeps (its socket address storage),
// and the bytes of it that a packet socket address holds.
const size_t kLargestLinkAddress = 28;
const size_t kKeptLinkAddress = 8;

// The bytes of the link-level record of an interface with this name and link-layer address.
size_t LinkRecordBytes(size_t nameLength, size_t addressLength) {
    return RecordBytes(LinkAddressSize(nameLength, addressLength));
}

// Walks the netlink messages in one received buffer; visit(header, payload, payloadLength) returns false
// to stop. Returns false when the dump ended (done or an error message) or was stopped.
template <typename Visit>
bool ForEachMessage(const unsigned char *bytes, size_t length, bool *failed, Visit visit) {
    size_t offset = 0;
    while (length - offset >= sizeof(nlmsghdr)) {
        nlmsghdr header;
        std::memcpy(&header, bytes + offset, sizeof header);
        if (header.nlmsg_len < sizeof header || header.nlmsg_len > length - offset) {
            *failed = true;
            return false;
        }
        if (header.nlmsg_type == NLMSG_DONE) return false;
        if (header.nlmsg_type == NLMSG_ERROR) {
            *failed = true;
            return false;
        }
        if (!visit(header, bytes + offset + sizeof header, header.nlmsg_len - sizeof header)) return false;
        offset += NLMSG_ALIGN(header.nlmsg_len);
        if (offset > length) break;
    }
    return true;
}

// Calls visit(type, data, length) for each attribute of a message's attribute area, until it returns
// false.
template <typename Visit>
void ForEachAttribute(const unsigned char *bytes, size_t length, Visit visit) {
    size_t offset = 0;
    while (length - offset >= sizeof(rtattr)) {
        rtattr attribute;
        std::memcpy(&attribute, bytes + offset, sizeof attribute);
        if (attribute.rta_len < sizeof attribute || attribute.rta_len > length - offset) return;
        if (!visit(attribute.rta_type, bytes + offset + RTA_LENGTH(0), attribute.rta_len - RTA_LENGTH(0))) return;
        offset += RTA_ALIGN(attribute.rta_len);
        if (offset > length) return;
    }
}

}  // namespace

NetlinkInterfaces::NetlinkInterfaces(size_t capacity) : capacity_(capacity) {
    // Room for a small host's links, without growing the heap for it; see TakeLinks for a large one.
    links_.reserve(std::min<size_t>(capacity / 36, 32));
}

std::vector<NetlinkInterfaces::Link>::iterator NetlinkInterfaces::Find(unsigned index) {
    auto at = std::lower_bound(links_.begin(), links_.end(), index,
                               [](const Link &link, unsigned i) { return link.index < i; });
    return (at != links_.end() && at->index == index) ? at : links_.end();
}

bool NetlinkInterfaces::TakeLinks(const unsigned char *bytes, size_t length) {
    if (bytes == nullptr) return false;
    return ForEachMessage(
        bytes, length, &failed, [this](const nlmsghdr &header, const unsigned char *payload, size_t payloadLength) {
            if (header.nlmsg_type != RTM_NEWLINK || payloadLength < sizeof(ifinfomsg)) return true;
            ifinfomsg message;
            std::memcpy(&message, payload, sizeof message);
            Link link = {};
            link.index = static_cast<unsigned>(message.ifi_index);
            link.firstAddress = link.lastAddress = -1;
            link.type = (message.ifi_flags & IFF_LOOPBACK) ? kTypeLoopback : kTypeOther;
            ForEachAttribute(
                payload + NLMSG_ALIGN(sizeof message),
                payloadLength - std::min(payloadLength, NLMSG_ALIGN(sizeof message)),
                [&](unsigned short type, const unsigned char *data, size_t size) {
                    if (type == IFLA_IFNAME && size > 0 && size <= IF_NAMESIZE) {
                        const size_t nameLength = strnlen(reinterpret_cast<const char *>(data), size);
                        link.nameLength = static_cast<unsigned char>(std::min(nameLength, sizeof link.name));
                        std::memcpy(link.name, data, link.nameLength);
                    } else if (type == IFLA_ADDRESS && size <= kLargestLinkAddress) {
                        if (message.ifi_type == ARPHRD_LOOPBACK) {
                            link.type = kTypeLoopback;
                        } else {
                            if (message.ifi_type == ARPHRD_ETHER && link.type != kTypeLoopback)
                                link.type = kTypeEthernet;
                            link.addressLength = static_cast<unsigned char>(std::min(size, kKeptLinkAddress));
                            std::memcpy(link.address, data, link.addressLength);
                        }
                        return false;  // the kernel puts the name first, the address after it
                    }
                    return true;
                });
            if (link.index <= lastIndex_) ascending_ = false;
            lastIndex_ = std::max(lastIndex_, link.index);
            auto at = std::lower_bound(links_.begin(), links_.end(), link.index,
                                       [](const Link &l, unsigned index) { return l.index < index; });
            if (at != links_.end() && at->index == link.index) return true;  // a repeat
            const size_t position = static_cast<size_t>(at - links_.begin());
            if (links_.size() == links_.capacity()) {
                // More links than a small host has: room for as many as link records fit, made once, since
                // growing the list as it fills would hold it twice over on a host with thousands.
                links_.reserve(std::max(links_.capacity() * 2, std::min<size_t>(capacity_ / 36, 4096)));
            }
            if (position == links_.size()) {
                // After every link kept so far, as links in index order come: only its own bytes to add.
                const size_t bytes = LinkRecordBytes(link.nameLength, link.addressLength);
                if (linkBytes_ + bytes > capacity_) return !ascending_;
                linkBytes_ += bytes;
                links_.push_back(link);
                return true;
            }
            links_.insert(links_.begin() + static_cast<std::ptrdiff_t>(position), link);
            // Keep the interfaces whose link records alone still fit; addresses only take more room. (An
            // interface skipped near the end for a longer link record could leave room for a shorter one
            // after it, which this drops: a few bytes at the end of the largest buffer, on a host with
            // thousands of interfaces.)
            size_t kept = 0;
            linkBytes_ = 0;
            for (size_t bytes;
                 kept < links_.size() &&
                 linkBytes_ + (bytes = LinkRecordBytes(links_[kept].nameLength, links_[kept].addressLength)) <=
                     capacity_;
                 ++kept) {
                linkBytes_ += bytes;
            }
            links_.resize(kept);
            return true;  // out of index order: a later link may still come before these
        });
}

void NetlinkInterfaces::BeginAddresses() {
    addressesAscending_ = true;
    lastAddressIndex_ = 0;
}

bool NetlinkInterfaces::TakeAddresses(const unsigned char *bytes, size_t length) {
    if (bytes == nullptr) return false;
    return ForEachMessage(
        bytes, length, &failed, [this](const nlmsghdr &header, const unsigned char *payload, size_t payloadLength) {
            if (header.nlmsg_type != RTM_NEWADDR || payloadLength < sizeof(ifaddrmsg)) return true;
            ifaddrmsg message;
            std::memcpy(&message, payload, sizeof message);
            const size_t size = message.ifa_family == AF_INET ? 4 : message.ifa_family == AF_INET6 ? 16 : 0;
            if (size == 0) return true;
            if (message.ifa_index < lastAddressIndex_) addressesAscending_ = false;
            lastAddressIndex_ = message.ifa_index;
            const bool inOrder = ascending_ && addressesAscending_;
            if (inOrder && !links_.empty() && message.ifa_index > links_.back().index) {
                return false;  // in index order: past every interface that can still fit
            }
            auto link = Find(message.ifa_index);
            if (link == links_.end()) return true;
            // The local address, else the address (a point-to-point link's IFA_ADDRESS is its peer).
            const unsigned char *local = nullptr, *any = nullptr;
            ForEachAttribute(payload + NLMSG_ALIGN(sizeof message),
                             payloadLength - std::min(payloadLength, NLMSG_ALIGN(sizeof message)),
                             [&](unsigned short type, const unsigned char *data, size_t dataSize) {
                                 if (dataSize < size) return true;
                                 if (type == IFA_LOCAL) local = data;
                                 if (type == IFA_ADDRESS) any = data;
                                 return true;
                             });
            const unsigned char *chosen = local != nullptr ? local : any;
            if (chosen == nullptr) return true;
            // Every address of a kept interface is kept, after those it already has: the kernel's
            // layout drops what does not fit and goes on with the next interface.
            Address address = {};
            address.next = -1;
            address.size = static_cast<unsigned char>(size);
            std::memcpy(address.bytes, chosen, size);
            const int added = static_cast<int>(addresses_.size());
            addresses_.push_back(address);
            if (link->lastAddress >= 0) {
                addresses_[static_cast<size_t>(link->lastAddress)].next = added;
            } else {
                link->firstAddress = added;
            }
            link->lastAddress = added;
            return true;
        });
}

std::vector<InterfaceInfo> NetlinkInterfaces::Interfaces() const {
    std::vector<InterfaceInfo> interfaces(links_.size());
    for (size_t i = 0; i < links_.size(); ++i) {
        const Link &link = links_[i];
        InterfaceInfo &info = interfaces[i];
        info.name.assign(link.name, link.nameLength);
        info.index = link.index;
        info.type = link.type;
        info.linkAddress.assign(link.address, link.address + link.addressLength);
        for (int k = link.firstAddress; k >= 0; k = addresses_[static_cast<size_t>(k)].next) {
            const Address &address = addresses_[static_cast<size_t>(k)];
            info.order += address.size == 4 ? '4' : '6';  // the order they came in, as LayOut writes them
            if (address.size == 4) {
                info.ipv4.push_back({{address.bytes[0], address.bytes[1], address.bytes[2], address.bytes[3]}});
            } else {
                std::array<unsigned char, 16> bytes16;
                std::memcpy(bytes16.data(), address.bytes, 16);
                info.ipv6.push_back(bytes16);
            }
        }
    }
    return interfaces;
}

size_t NetlinkInterfaces::LayOut(unsigned char *buffer, size_t capacity) const {
    // Each interface's addresses in the order they came (the live dumps give IPv4, then IPv6), as
    // Interfaces() gives them.
    RecordWriter writer(buffer, capacity);
    for (const Link &link : links_) {
        if (writer.Full()) break;
        if (!writer.Append(link.name, link.nameLength,
                           LinkSocketAddress(link.name, link.nameLength, link.index, link.type, link.address,
                                             link.addressLength))) {
            continue;
        }
        for (int k = link.firstAddress; k >= 0; k = addresses_[static_cast<size_t>(k)].next) {
            const Address &address = addresses_[static_cast<size_t>(k)];
            if (!writer.Append(link.name, link.nameLength, InetSocketAddress(address.bytes, address.size))) break;
        }
    }
    return writer.used();
}

namespace {

// Sends one dump request on a new rtnetlink socket and hands every buffer of the answer to take,
// until it says it needs no more. False when the socket or the dump failed.
template <typename Request, typename Take>
bool Dump(const Request &request, Take take) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);  // owned: closed below
    if (fd < 0) return false;
    sockaddr_nl kernel = {};
    kernel.nl_family = AF_NETLINK;
    bool ok = sendto(fd, &request, sizeof request, 0, reinterpret_cast<const sockaddr *>(&kernel), sizeof kernel) ==
              static_cast<ssize_t>(sizeof request);
    alignas(nlmsghdr) unsigned char buffer[8192];
    while (ok) {
        iovec part = {buffer, sizeof buffer};
        msghdr message = {};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        const ssize_t received = recvmsg(fd, &message, 0);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0 || (message.msg_flags & MSG_TRUNC)) {
            ok = false;
            break;
        }
        if (!take(buffer, static_cast<size_t>(received))) break;
    }
    close(fd);
    return ok;
}

// A dump request of the given type: its header, and nothing else asked.
template <typename Request>
Request DumpRequest(uint16_t type, uint32_t sequence) {
    Request request = {};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
    return request;
}

// Reads the live machine's links, then their IPv4 and IPv6 addresses, into reader. False when the
// kernel could not be read.
bool ReadLive(NetlinkInterfaces *reader) {
    struct LinkRequest {
        nlmsghdr header;
        ifinfomsg link;
        rtattr maskHeader;
        uint32_t mask;
    };
    LinkRequest links = DumpRequest<LinkRequest>(RTM_GETLINK, 1);
    links.link.ifi_family = AF_UNSPEC;
    links.maskHeader.rta_len = RTA_LENGTH(sizeof links.mask);
    links.maskHeader.rta_type = IFLA_EXT_MASK;
    links.mask = RTEXT_FILTER_SKIP_STATS;  // the link statistics are most of each message
    bool ok = Dump(links, [&](const unsigned char *b, size_t n) { return reader->TakeLinks(b, n); });
    for (const unsigned char family : {AF_INET, AF_INET6}) {
        if (!ok || reader->failed || reader->Count() == 0) break;
        struct AddressRequest {
            nlmsghdr header;
            ifaddrmsg address;
        };
        AddressRequest addresses = DumpRequest<AddressRequest>(RTM_GETADDR, 2);
        addresses.address.ifa_family = family;
        reader->BeginAddresses();
        ok = Dump(addresses, [&](const unsigned char *b, size_t n) { return reader->TakeAddresses(b, n); });
    }
    return ok && !reader->failed;
}

}  // namespace

std::vector<InterfaceInfo> ReadLiveInterfaces(size_t capacity) {
    NetlinkInterfaces reader(capacity);
    if (!ReadLive(&reader)) return {};
    return reader.Interfaces();
}

size_t ReadLiveInterfaceRecords(unsigned char *buffer, size_t capacity) {
    NetlinkInterfaces reader(capacity);
    if (!ReadLive(&reader)) return 0;
    return reader.LayOut(buffer, capacity);
}

}  // namespace standin
