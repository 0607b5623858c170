// The stand-in's interface list: BSD record layout, whole records only, the rtnetlink messages it
// is built from, and agreement with getifaddrs on the live machine.
#include "platform/interface_list.h"

#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "standin_testing.h"

namespace {

struct Parsed {
    std::string name;
    int family;
    size_t size;
    std::vector<unsigned char> address;  // the socket address, length bytes
};

std::vector<Parsed> Parse(const unsigned char *buffer, size_t length) {
    std::vector<Parsed> records;
    size_t at = 0;
    while (at + 18 <= length) {
        const unsigned char *r = buffer + at;
        const size_t l = r[16];
        const size_t size = 16 + (l > 16 ? l : 16);
        EXPECT_LE(at + size, length);
        Parsed p{std::string(reinterpret_cast<const char *>(r), strnlen(reinterpret_cast<const char *>(r), 16)), r[17],
                 size, std::vector<unsigned char>(r + 16, r + 16 + l)};
        records.push_back(p);
        at += size;
    }
    EXPECT_EQ(at, length);
    return records;
}

TEST(InterfaceRecords, Layout) {
    standin::InterfaceInfo eth;
    eth.name = "eth0";
    eth.index = 2;
    eth.linkAddress = {0x02, 0xfc, 0, 0, 0, 1};
    eth.ipv4 = {{{192, 0, 2, 2}}};
    eth.ipv6 = {{{0xfe, 0x80}}};
    standin::InterfaceInfo longName;
    longName.name = "fifteen_chars_x";
    longName.index = 300;
    longName.linkAddress = {1, 2, 3, 4, 5, 6};
    standin::InterfaceInfo loopback;
    loopback.name = "lo";
    loopback.index = 1;
    loopback.type = 24;
    unsigned char buffer[512];
    const size_t used = standin::EncodeInterfaceRecords({loopback, eth, longName}, buffer, sizeof buffer);
    const auto records = Parse(buffer, used);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].size, 36u);      // lo: 8 + 2 + 0 rounds up to the 20-byte minimum
    EXPECT_EQ(records[0].address[6], 0);  // no link-layer address
    EXPECT_EQ(records[1].size, 36u);
    EXPECT_EQ(records[1].family, 18);
    EXPECT_EQ(records[1].address[5], 4);  // sdl_nlen
    EXPECT_EQ(records[1].address[6], 6);  // sdl_alen
    EXPECT_EQ(std::string(records[1].address.begin() + 8, records[1].address.begin() + 12), "eth0");
    EXPECT_EQ(records[1].address[13], 0xfc);
    EXPECT_EQ(records[2].size, 32u);
    EXPECT_EQ(records[2].family, 2);
    EXPECT_EQ(records[2].address[4], 192);
    EXPECT_EQ(records[2].address[7], 2);
    EXPECT_EQ(records[3].size, 44u);
    EXPECT_EQ(records[3].family, 30);
    EXPECT_EQ(records[4].name, "fifteen_chars_x");
    EXPECT_EQ(records[4].size, 48u);  // 8 + 15 + 6 = 29, rounded up to 32
    EXPECT_EQ(records[4].address[2] | (records[4].address[3] << 8), 300);

    // Whole records only, while more than 32 bytes are left: 36 + 36 + 31 bytes hold the first two.
    EXPECT_EQ(standin::EncodeInterfaceRecords({loopback, eth, longName}, buffer, 103), 72u);
    EXPECT_EQ(standin::EncodeInterfaceRecords({loopback}, buffer, 35), 0u);
    EXPECT_EQ(standin::EncodeInterfaceRecords({eth}, buffer, 100), 68u) << "no IPv6 record in the 32 bytes left";
    // Addresses in the order the interface holds them; an IPv6 record that does not fit drops the
    // rest of its interface, and the next interface goes on.
    eth.order = "64";
    EXPECT_EQ(standin::EncodeInterfaceRecords({eth}, buffer, sizeof buffer), 112u);
    const auto ordered = Parse(buffer, 112);
    EXPECT_EQ(ordered[1].family, 30);
    EXPECT_EQ(ordered[2].family, 2);
    EXPECT_EQ(standin::EncodeInterfaceRecords({eth, loopback}, buffer, 36 + 43), 72u);
    EXPECT_EQ(Parse(buffer, 72)[1].name, "lo");

    // A list laid out for the largest buffer, laid out again for each smaller one, is what that buffer
    // would have had.
    const std::vector<std::vector<standin::InterfaceInfo>> lists = {{loopback, eth, longName}, {eth, loopback, eth}};
    for (const auto &list : lists) {
        unsigned char whole[512], relaid[512], direct[512];
        const size_t length = standin::EncodeInterfaceRecords(list, whole, sizeof whole);
        for (size_t capacity = 0; capacity <= sizeof whole; ++capacity) {
            const size_t got = standin::RelayInterfaceRecords(whole, length, relaid, capacity);
            ASSERT_EQ(got, standin::EncodeInterfaceRecords(list, direct, capacity)) << capacity;
            ASSERT_EQ(std::vector<unsigned char>(relaid, relaid + got),
                      std::vector<unsigned char>(direct, direct + got));
        }
    }
    EXPECT_EQ(standin::RelayInterfaceRecords(nullptr, 64, buffer, sizeof buffer), 0u);
    EXPECT_EQ(standin::RelayInterfaceRecords(buffer, 64, nullptr, sizeof buffer), 0u);
}

// One rtnetlink message: its fixed part, then attributes (type and bytes).
template <typename Fixed>
std::string Message(uint16_t type, const Fixed &fixed,
                    const std::vector<std::pair<uint16_t, std::string>> &attributes) {
    std::string body(reinterpret_cast<const char *>(&fixed), sizeof fixed);
    body.resize(NLMSG_ALIGN(body.size()));
    for (const auto &a : attributes) {
        const rtattr header = {static_cast<unsigned short>(RTA_LENGTH(a.second.size())), a.first};
        body += std::string(reinterpret_cast<const char *>(&header), sizeof header) + a.second;
        body.resize(RTA_ALIGN(body.size()));
    }
    nlmsghdr header = {};
    header.nlmsg_len = static_cast<uint32_t>(NLMSG_HDRLEN + body.size());
    header.nlmsg_type = type;
    return std::string(reinterpret_cast<const char *>(&header), sizeof header) + body;
}

std::string Link(int index, const std::string &name, const std::string &address, unsigned short type = ARPHRD_ETHER,
                 unsigned flags = 0) {
    ifinfomsg link = {};
    link.ifi_index = index;
    link.ifi_type = type;
    link.ifi_flags = flags;
    return Message(RTM_NEWLINK, link, {{IFLA_IFNAME, name + std::string(1, '\0')}, {IFLA_ADDRESS, address}});
}

std::string Address(int index, int family, const std::vector<std::pair<uint16_t, std::string>> &attributes) {
    ifaddrmsg address = {};
    address.ifa_index = static_cast<unsigned>(index);
    address.ifa_family = static_cast<unsigned char>(family);
    return Message(RTM_NEWADDR, address, attributes);
}

std::string Done() { return Message(NLMSG_DONE, 0, {}); }

bool Take(standin::NetlinkInterfaces *reader, const std::string &bytes, bool links) {
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    return links ? reader->TakeLinks(data, bytes.size()) : reader->TakeAddresses(data, bytes.size());
}

const std::string kMac = {2, 0, 0, 0, 0, 1};

// Interfaces from rtnetlink messages: in index order whatever order they come in, only as many as
// the records can hold, and a dump given up once the rest cannot fit.
TEST(NetlinkInterfaces, MessagesToInterfaces) {
    const std::string local = {10, 0, 0, 1}, peer = {10, 0, 0, 2}, other = {10, 0, 0, 3};
    standin::NetlinkInterfaces unordered(104);  // room for two link records and an IPv4 record
    EXPECT_TRUE(Take(&unordered, Link(3, "c", kMac) + Link(1, "lo", "", ARPHRD_LOOPBACK, IFF_LOOPBACK), true));
    EXPECT_TRUE(Take(&unordered, Link(2, "b", std::string(20, 'i'), ARPHRD_INFINIBAND) + Link(4, "d", kMac), true));
    EXPECT_FALSE(Take(&unordered, Done(), true));
    std::vector<standin::InterfaceInfo> got = unordered.Interfaces();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].name, "lo");
    EXPECT_EQ(got[0].type, 24);
    EXPECT_TRUE(got[0].linkAddress.empty());
    EXPECT_EQ(got[1].name, "b");
    EXPECT_EQ(got[1].type, 1);
    EXPECT_EQ(got[1].linkAddress, std::vector<unsigned char>(8, 'i'));  // as a packet address holds it
    EXPECT_FALSE(unordered.failed);
    unordered.BeginAddresses();
    EXPECT_TRUE(Take(&unordered,
                     Address(2, AF_INET, {{IFA_LOCAL, other}}) + Address(2, AF_INET, {{IFA_LOCAL, other}}) +
                         Address(1, AF_INET, {{IFA_LOCAL, local}}),
                     false))
        << "out of index order, addresses end nothing";
    got = unordered.Interfaces();
    EXPECT_EQ(got[0].ipv4.size(), 1u);
    EXPECT_EQ(got[1].ipv4.size(), 2u);

    standin::NetlinkInterfaces ordered(104);  // two link records and one IPv4 record
    EXPECT_FALSE(Take(&ordered, Link(1, "a", kMac) + Link(2, "b", std::string(29, 'x')) + Link(3, "c", kMac), true))
        << "in index order the dump stops at the first link that cannot fit";
    got = ordered.Interfaces();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].linkAddress, std::vector<unsigned char>(kMac.begin(), kMac.end()));
    EXPECT_TRUE(got[1].linkAddress.empty()) << "an address longer than the C library keeps";
    ordered.BeginAddresses();
    EXPECT_TRUE(Take(&ordered,
                     Address(1, AF_INET, {{IFA_ADDRESS, peer}, {IFA_LOCAL, local}}) +
                         Address(1, AF_INET, {{IFA_LOCAL, "\1"}}) + Address(1, AF_INET, {{IFA_ADDRESS, other}}),
                     false));
    EXPECT_TRUE(Take(&ordered, Address(2, AF_INET, {{IFA_ADDRESS, other}}), false)) << "every address of a kept one";
    got = ordered.Interfaces();
    ASSERT_EQ(got.size(), 2u);
    ASSERT_EQ(got[0].ipv4.size(), 2u);
    EXPECT_EQ(got[0].ipv4[0][3], 1) << "the local address, not the peer";
    EXPECT_EQ(got[0].ipv4[1][3], 3);
    EXPECT_EQ(got[1].ipv4.size(), 1u) << "the layout, not the reader, drops what does not fit";
    ordered.BeginAddresses();
    EXPECT_FALSE(Take(&ordered, Address(3, AF_INET6, {{IFA_ADDRESS, std::string(16, 'z')}}), false))
        << "past the last interface kept";

    for (const std::string &bad : {Link(1, "a", kMac).substr(0, 30), Message(NLMSG_ERROR, -EPERM, {})}) {
        standin::NetlinkInterfaces reader(960);
        EXPECT_FALSE(Take(&reader, bad, true));
        EXPECT_TRUE(reader.failed);
    }
}

// On the live machine, in a private network namespace with more interfaces than the records can
// hold: stopping early gives the same records as reading everything.
TEST(NetlinkInterfaces, StopsWhereTheRecordsNoLongerFit) {
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "needs root for a private network namespace";
    const std::string script =
        "ip link set lo up && ip addr add 10.9.0.1/24 dev lo && "
        "for i in $(seq 1 150); do echo \"link add va$i type veth peer name vb$i\"; done | ip -batch - && "
        "ip addr add 10.9.1.1/24 dev va3 && ip addr add 10.9.2.1/24 dev va3 && ip -6 addr add fd09::1/64 dev vb3 nodad";
    if (system(("PATH=/usr/sbin:/sbin:$PATH; " + script + " 2>/dev/null").c_str()) != 0) GTEST_SKIP() << "needs ip";
    const std::vector<standin::InterfaceInfo> all = standin::ReadLiveInterfaces();
    ASSERT_EQ(all.size(), 301u);
    for (const size_t capacity : {0u, 35u, 36u, 68u, 200u, 960u, 4000u}) {
        std::vector<unsigned char> whole(capacity + 1), early(capacity + 1), direct(capacity + 1);
        const std::vector<standin::InterfaceInfo> kept = standin::ReadLiveInterfaces(capacity);
        EXPECT_LE(kept.size(), capacity / 36 + 1) << capacity;
        const size_t length = standin::EncodeInterfaceRecords(all, whole.data(), capacity);
        ASSERT_EQ(standin::EncodeInterfaceRecords(kept, early.data(), capacity), length) << capacity;
        EXPECT_EQ(whole, early) << capacity;
        ASSERT_EQ(standin::ReadLiveInterfaceRecords(direct.data(), capacity), length) << capacity;
        EXPECT_EQ(whole, direct) << capacity;
    }

    // A socket keeps the list its first request saw; a new socket sees the list as it is now.
    std::vector<unsigned char> expected(4000), first(960), again(4000), now(4000);
    const size_t expectedLength = standin::EncodeInterfaceRecords(all, expected.data(), expected.size());
    int32_t firstLength = 960, againLength = 4000, nowLength = 4000;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_EQ(RequestInterfaceList(fd, first.data(), &firstLength), 0);
    ASSERT_EQ(system("PATH=/usr/sbin:/sbin:$PATH; ip link del va1 && ip addr add 10.9.3.1/24 dev lo"), 0);
    ASSERT_EQ(RequestInterfaceList(fd, again.data(), &againLength), 0);
    close(fd);
    const int later = socket(AF_INET, SOCK_DGRAM, 0);  // most likely the same descriptor number
    ASSERT_EQ(RequestInterfaceList(later, now.data(), &nowLength), 0);
    close(later);
    EXPECT_EQ(static_cast<size_t>(againLength), expectedLength);
    EXPECT_EQ(again, expected) << "the list as the socket's first request saw it";
    const auto records = Parse(now.data(), static_cast<size_t>(nowLength));
    ASSERT_GT(records.size(), 5u);
    EXPECT_EQ(records[3].address[6], 3) << "lo's third IPv4 address, added since";
    for (const auto &r : records) EXPECT_NE(r.name, "va1") << "deleted since";
}

TEST(InterfaceList, AgreesWithGetifaddrs) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    std::vector<unsigned char> buffer(64 * 1024);
    int32_t length = static_cast<int32_t>(buffer.size());
    ASSERT_EQ(RequestInterfaceList(fd, buffer.data(), &length), 0);
    close(fd);
    const auto records = Parse(buffer.data(), static_cast<size_t>(length));

    std::map<std::string, std::vector<unsigned char>> macs;
    std::set<std::pair<std::string, std::string>> ipv4;
    ifaddrs *list = nullptr;
    ASSERT_EQ(getifaddrs(&list), 0);
    for (ifaddrs *a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr) continue;
        std::string name = a->ifa_name;
        name = name.substr(0, name.find(':'));
        if (a->ifa_addr->sa_family == AF_PACKET && !(a->ifa_flags & IFF_LOOPBACK)) {
            const auto *ll = reinterpret_cast<sockaddr_ll *>(a->ifa_addr);
            if (ll->sll_halen == 6) macs[name].assign(ll->sll_addr, ll->sll_addr + 6);
        } else if (a->ifa_addr->sa_family == AF_INET) {
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(a->ifa_addr)->sin_addr, text, sizeof text);
            ipv4.emplace(name, text);
        }
    }
    freeifaddrs(list);

    std::map<std::string, std::vector<unsigned char>> seenMacs;
    std::set<std::pair<std::string, std::string>> seenIpv4;
    int lastIndex = -1;
    std::string current;
    for (const auto &r : records) {
        if (r.family == 18) {
            const int index = r.address[2] | (r.address[3] << 8);
            EXPECT_GT(index, lastIndex) << "interfaces in index order";
            lastIndex = index;
            current = r.name;
            EXPECT_EQ(if_nametoindex(r.name.c_str()), static_cast<unsigned>(index)) << r.name;
            const size_t nlen = r.address[5], alen = r.address[6];
            if (alen == 6) seenMacs[r.name].assign(r.address.begin() + 8 + nlen, r.address.begin() + 8 + nlen + 6);
        } else if (r.family == 2) {
            EXPECT_EQ(r.name, current) << "an IPv4 record under its own interface";
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, r.address.data() + 4, text, sizeof text);
            seenIpv4.emplace(r.name, text);
        }
    }
    EXPECT_EQ(seenMacs, macs);
    EXPECT_EQ(seenIpv4, ipv4);
}

TEST(InterfaceList, BadDescriptorAndArguments) {
    unsigned char buffer[64];
    int32_t length = sizeof buffer;
    errno = 0;
    EXPECT_EQ(RequestInterfaceList(-1, buffer, &length), -1);
    EXPECT_EQ(errno, EBADF);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_EQ(RequestInterfaceList(fd, nullptr, &length), -1);
    EXPECT_EQ(RequestInterfaceList(fd, buffer, nullptr), -1);
    close(fd);
}

}  // namespace
