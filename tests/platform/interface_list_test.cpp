// The stand-in's interface list: BSD record layout, whole records only, and agreement with
// getifaddrs on the live machine.
#include "platform/interface_list.h"

#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netpacket/packet.h>
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

    // Whole records only: 36 + 36 + 31 bytes hold the first two records.
    EXPECT_EQ(standin::EncodeInterfaceRecords({loopback, eth, longName}, buffer, 103), 72u);
    EXPECT_EQ(standin::EncodeInterfaceRecords({loopback}, buffer, 35), 0u);
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
