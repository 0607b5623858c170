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

size_t RoundUp4(size_t n) { return (n + 3) & ~size_t{3}; }

// The bytes of the records an interface's link-level address takes, and each of its addresses.
size_t LinkRecordBytes(const InterfaceInfo &info) {
    const size_t nlen = std::min<size_t>(info.name.size(), 15);
    return 16 + std::max<size_t>(16, RoundUp4(std::max<size_t>(8 + nlen + info.linkAddress.size(), 20)));
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
    // Room for as many interfaces as link records fit, made once: growing the list as it fills would
    // hold it twice over for a moment, on a host with thousands of interfaces.
    interfaces.reserve(std::min<size_t>(capacity / 36, 4096));
}

std::vector<InterfaceInfo>::iterator NetlinkInterfaces::Find(unsigned index) {
    auto at = std::lower_bound(interfaces.begin(), interfaces.end(), index,
                               [](const InterfaceInfo &info, unsigned i) { return info.index < i; });
    return (at != interfaces.end() && at->index == index) ? at : interfaces.end();
}

bool NetlinkInterfaces::TakeLinks(const unsigned char *bytes, size_t length) {
    if (bytes == nullptr) return false;
    return ForEachMessage(
        bytes, length, &failed, [this](const nlmsghdr &header, const unsigned char *payload, size_t payloadLength) {
            if (header.nlmsg_type != RTM_NEWLINK || payloadLength < sizeof(ifinfomsg)) return true;
            ifinfomsg link;
            std::memcpy(&link, payload, sizeof link);
            InterfaceInfo info;
            info.index = static_cast<unsigned>(link.ifi_index);
            info.type = (link.ifi_flags & IFF_LOOPBACK) ? kTypeLoopback : kTypeOther;
            ForEachAttribute(payload + NLMSG_ALIGN(sizeof link),
                             payloadLength - std::min(payloadLength, NLMSG_ALIGN(sizeof link)),
                             [&](unsigned short type, const unsigned char *data, size_t size) {
                                 if (type == IFLA_IFNAME && size > 0 && size <= IF_NAMESIZE) {
                                     info.name.assign(reinterpret_cast<const char *>(data),
                                                      strnlen(reinterpret_cast<const char *>(data), size));
                                 } else if (type == IFLA_ADDRESS && size <= kLargestLinkAddress) {
                                     if (link.ifi_type == ARPHRD_LOOPBACK) {
                                         info.type = kTypeLoopback;
                                     } else {
                                         if (link.ifi_type == ARPHRD_ETHER && info.type != kTypeLoopback)
                                             info.type = kTypeEthernet;
                                         info.linkAddress.assign(data, data + std::min(size, kKeptLinkAddress));
                                     }
                                     return false;  // the kernel puts the name first, the address after it
                                 }
                                 return true;
                             });
            if (info.index <= lastIndex_) ascending_ = false;
            lastIndex_ = std::max(lastIndex_, info.index);
            auto at = std::lower_bound(interfaces.begin(), interfaces.end(), info.index,
                                       [](const InterfaceInfo &i, unsigned index) { return i.index < index; });
            if (at != interfaces.end() && at->index == info.index) return true;  // a repeat
            if (at == interfaces.end()) {
                // After every link kept so far, as links in index order come: only its own bytes to add.
                const size_t bytes = LinkRecordBytes(info);
                if (linkBytes_ + bytes > capacity_) return !ascending_;
                linkBytes_ += bytes;
                interfaces.push_back(std::move(info));
                return true;
            }
            interfaces.insert(at, std::move(info));
            // Keep the interfaces whose link records alone still fit; addresses only take more room. (An
            // interface skipped near the end for a longer link record could leave room for a shorter one
            // after it, which this drops: a few bytes at the end of the largest buffer, on a host with
            // thousands of interfaces.)
            size_t kept = 0;
            linkBytes_ = 0;
            for (size_t bytes;
                 kept < interfaces.size() && linkBytes_ + (bytes = LinkRecordBytes(interfaces[kept])) <= capacity_;
                 ++kept) {
                linkBytes_ += bytes;
            }
            interfaces.resize(kept);
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
            ifaddrmsg address;
            std::memcpy(&address, payload, sizeof address);
            const size_t size = address.ifa_family == AF_INET ? 4 : address.ifa_family == AF_INET6 ? 16 : 0;
            if (size == 0) return true;
            if (address.ifa_index < lastAddressIndex_) addressesAscending_ = false;
            lastAddressIndex_ = address.ifa_index;
            const bool inOrder = ascending_ && addressesAscending_;
            if (inOrder && !interfaces.empty() && address.ifa_index > interfaces.back().index) {
                return false;  // in index order: past every interface that can still fit
            }
            auto info = Find(address.ifa_index);
            if (info == interfaces.end()) return true;
            // The local address, else the address (a point-to-point link's IFA_ADDRESS is its peer).
            const unsigned char *local = nullptr, *any = nullptr;
            ForEachAttribute(payload + NLMSG_ALIGN(sizeof address),
                             payloadLength - std::min(payloadLength, NLMSG_ALIGN(sizeof address)),
                             [&](unsigned short type, const unsigned char *data, size_t dataSize) {
                                 if (dataSize < size) return true;
                                 if (type == IFA_LOCAL) local = data;
                                 if (type == IFA_ADDRESS) any = data;
                                 return true;
                             });
            const unsigned char *chosen = local != nullptr ? local : any;
            if (chosen == nullptr) return true;
            // Every address of a kept interface is kept: the kernel's layout drops what does not fit
            // and goes on with the next interface.
            if (size == 4) {
                std::array<unsigned char, 4> bytes4;
                std::memcpy(bytes4.data(), chosen, 4);
                info->ipv4.push_back(bytes4);
            } else {
                std::array<unsigned char, 16> bytes16;
                std::memcpy(bytes16.data(), chosen, 16);
                info->ipv6.push_back(bytes16);
            }
            return true;
        });
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

}  // namespace

std::vector<InterfaceInfo> ReadLiveInterfaces(size_t capacity) {
    NetlinkInterfaces reader(capacity);
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
    bool ok = Dump(links, [&](const unsigned char *b, size_t n) { return reader.TakeLinks(b, n); });
    for (const unsigned char family : {AF_INET, AF_INET6}) {
        if (!ok || reader.failed || reader.interfaces.empty()) break;
        struct AddressRequest {
            nlmsghdr header;
            ifaddrmsg address;
        };
        AddressRequest addresses = DumpRequest<AddressRequest>(RTM_GETADDR, 2);
        addresses.address.ifa_family = family;
        reader.BeginAddresses();
        ok = Dump(addresses, [&](const unsigned char *b, size_t n) { return reader.TakeAddresses(b, n); });
    }
    if (!ok || reader.failed) return {};
    return std::move(reader.interfaces);
}

}  // namespace standin
