// The walk over interface request records, on hand-built buffers, and the collector around it.
#include "collectors/interfaces.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "collector_fixture.h"
#include "platform/interface_list.h"
#include "real_macs.h"
#include "report/capture_pass.h"
#include "report/settings.h"

namespace {

// Builds records as macOS lays them out: a 16-byte name, a socket address of length L, padding up to
// 16 + max(16, L) bytes.
class Records {
  public:
    Records &Link(const std::string &name, std::vector<unsigned char> address, int nameLength = -1) {
        const size_t nlen = nameLength >= 0 ? static_cast<size_t>(nameLength) : name.size();
        size_t length = 8 + nlen + address.size();
        length = length < 20 ? 20 : (length + 3) / 4 * 4;
        std::vector<unsigned char> sdl(length, 0);
        sdl[0] = static_cast<unsigned char>(length);
        sdl[1] = 18;
        sdl[5] = static_cast<unsigned char>(nlen);
        sdl[6] = static_cast<unsigned char>(address.size());
        memcpy(&sdl[8], name.data(), std::min(nlen, name.size()));
        if (!address.empty()) memcpy(&sdl[8 + nlen], address.data(), address.size());
        return Add(name, sdl);
    }
    Records &Inet(const std::string &name, unsigned char a, unsigned char b, unsigned char c, unsigned char d,
                  unsigned char length = 16) {
        std::vector<unsigned char> sin(16, 0);
        sin[0] = length, sin[1] = 2, sin[4] = a, sin[5] = b, sin[6] = c, sin[7] = d;
        return Add(name, sin);
    }
    Records &Inet6(const std::string &name) {
        std::vector<unsigned char> sin6(28, 0);
        sin6[0] = 28, sin6[1] = 30, sin6[8] = 0xfe, sin6[9] = 0x80;
        return Add(name, sin6);
    }
    // A link-level address of sdlLength bytes whose name and address lengths claim nlen and alen.
    Records &LinkClaiming(const std::string &name, unsigned char sdlLength, unsigned char nlen, unsigned char alen) {
        std::vector<unsigned char> sdl(sdlLength, 0xAB);
        sdl[0] = sdlLength, sdl[1] = 18, sdl[5] = nlen, sdl[6] = alen;
        return Add(name, sdl);
    }
    // A record whose socket address claims length claimed but carries the given bytes.
    Records &Raw(const std::string &name, unsigned char claimed, unsigned char family, size_t actual) {
        std::vector<unsigned char> address(actual, 0);
        address[0] = claimed;
        address[1] = family;
        return Add(name, address, /* pad */ false);
    }
    const std::vector<unsigned char> &bytes() const { return bytes_; }

  private:
    Records &Add(const std::string &name, std::vector<unsigned char> address, bool pad = true) {
        std::vector<unsigned char> record(16, 0);
        memcpy(record.data(), name.data(), std::min<size_t>(name.size(), 16));  // 16: no NUL left
        if (pad && address.size() < 16) address.resize(16, 0);
        record.insert(record.end(), address.begin(), address.end());
        bytes_.insert(bytes_.end(), record.begin(), record.end());
        return *this;
    }
    std::vector<unsigned char> bytes_;
};

const std::vector<unsigned char> kMac1 = {0x00, 0x1b, 0x63, 0x84, 0x45, 0xe6};
const std::vector<unsigned char> kMac2 = {0xa4, 0x83, 0xe7, 0x0f, 0x12, 0xc7};

struct Row {
    std::string name, mac, ip;
};

struct WalkCase {
    const char *what;
    Records records;
    int32_t result;
    std::vector<Row> rows;
    int32_t count = 16;  // the table's records; those after them must stay zero
};

std::string Hex(const unsigned char *a) {
    char buf[13];
    snprintf(buf, sizeof buf, "%02x%02x%02x%02x%02x%02x", a[0], a[1], a[2], a[3], a[4], a[5]);
    return buf;
}

std::string Dotted(const unsigned char *a) {
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
}

TEST(WalkInterfaceRecords, Cases) {
    std::vector<unsigned char> macOnlyFirstByte = {0x02, 0, 0, 0, 0, 0};
    const WalkCase cases[] = {
        {"loopback first takes no row and keeps its address",
         Records().Link("lo0", {}).Inet("lo0", 127, 0, 0, 1).Link("en0", kMac1).Inet("en0", 192, 168, 1, 5),
         0,
         {{"en0", "001b638445e6", "192.168.1.5"}}},
        {"the last of several IPv4 addresses",
         Records().Link("en0", kMac1).Inet("en0", 10, 0, 0, 1).Inet6("en0").Inet("en0", 10, 0, 0, 2),
         0,
         {{"en0", "001b638445e6", "10.0.0.2"}}},
        {"IPv6 only", Records().Link("en1", kMac2).Inet6("en1").Inet6("en1"), 0, {{"en1", "a483e70f12c7", "0.0.0.0"}}},
        {"an IPv4 record of another interface is not credited",
         Records().Link("en0", kMac1).Inet("en0", 10, 0, 0, 1).Link("utun0", {}).Inet("utun0", 100, 64, 0, 1),
         0,
         {{"en0", "001b638445e6", "10.0.0.1"}}},
        {"IPv4 before any qualifying record is ignored",
         Records().Inet("en0", 1, 2, 3, 4).Link("en0", kMac1),
         0,
         {{"en0", "001b638445e6", "0.0.0.0"}}},
        {"names of other lengths find their own address",
         Records()
             .Link("en10", kMac1)
             .Link("bridge0", kMac2)
             .Link("ab", {1, 2, 3, 4, 5, 6})
             .Link("abcdefghijklmno", {6, 5, 4, 3, 2, 1}),
         3,
         {{"en10", "001b638445e6", "0.0.0.0"},
          {"bridge0", "a483e70f12c7", "0.0.0.0"},
          {"ab", "010203040506", "0.0.0.0"},
          {"abcdefghijklmno", "060504030201", "0.0.0.0"}}},
        {"address lengths other than 6 do not qualify",
         Records().Link("ib0", {1, 2, 3, 4, 5, 6, 7, 8}).Link("gif0", {}).Link("en0", {1, 2, 3, 4}),
         -1,
         {}},
        {"zero addresses do not qualify, byte 0 alone counts as zero",
         Records()
             .Link("en0", {0, 0, 0, 0, 0, 0})
             .Link("en1", macOnlyFirstByte)
             .Link("en2", kMac2)
             .Link("en3", {0, 5, 0, 0, 0, 0})
             .Link("en4", {0, 0, 0, 0, 0, 9}),
         2,
         {{"en2", "a483e70f12c7", "0.0.0.0"}, {"en3", "000500000000", "0.0.0.0"}, {"en4", "000000000009", "0.0.0.0"}}},
        {"XML specials in names are escaped, cut on whole entities",
         Records().Link("a<b&c", kMac1).Link("&&&&&&&&&&&&&&&", kMac2),
         1,
         {{"a&lt;b&amp;c", "001b638445e6", "0.0.0.0"}, {"&amp;&amp;&amp;", "a483e70f12c7", "0.0.0.0"}}},
        {"a zero length steps over a minimum record",
         Records().Raw("x", 0, 99, 16).Link("en0", kMac1),
         0,
         {{"en0", "001b638445e6", "0.0.0.0"}}},
        {"a length past the end stops the walk",
         Records().Link("en0", kMac1).Raw("en0", 200, 2, 16),
         0,
         {{"en0", "001b638445e6", "0.0.0.0"}}},
        {"a name length that points past the address does not qualify",
         Records().LinkClaiming("en0", 20, 10, 6).LinkClaiming("en1", 20, 255, 6),
         -1,
         {}},
        {"name and address lengths that fit qualify",
         Records().Link("en0", kMac1, 14),
         0,
         {{"en0", "001b638445e6", "0.0.0.0"}}},
        {"an IPv4 address length of 8 is the least that counts",
         Records().Link("en0", kMac1).Inet("en0", 10, 0, 0, 8, 8).Inet("en0", 10, 0, 0, 7, 7),
         0,
         {{"en0", "001b638445e6", "10.0.0.8"}}},
        {"nothing at all", Records(), -1, {}},
        {"a link-level record shorter than its header, at the very end, is not read",
         Records().Link("en0", kMac1).Raw("en1", 5, 18, 5),
         0,
         {{"en0", "001b638445e6", "0.0.0.0"}}},
        {"an address takes a full table's first row, the rest move down, a later plain one changes nothing",
         Records().Link("en0", kMac1).Link("en1", kMac2).Link("en2", kMac1).Inet("en2", 10, 0, 0, 2).Link("en3", kMac2),
         2,
         {{"en2", "001b638445e6", "10.0.0.2"}, {"en0", "001b638445e6", "0.0.0.0"}},
         2},
    };
    for (const auto &c : cases) {
        InterfaceRecord table[16];
        memset(table, 0, sizeof table);
        memset(table, 0xAB, sizeof table[0] * c.rows.size());  // a filled row is written whole
        std::vector<unsigned char> exact = c.records.bytes();  // exact size: sanitizers catch overreads
        EXPECT_EQ(WalkInterfaceRecords(exact.data(), static_cast<int32_t>(exact.size()), table, c.count), c.result)
            << c.what;
        for (size_t r = 0; r < 16; ++r) {
            const Row expected = r < c.rows.size() ? c.rows[r] : Row{"", "000000000000", "0.0.0.0"};
            EXPECT_EQ(table[r].name, expected.name) << c.what << " row " << r;
            EXPECT_EQ(Hex(table[r].linkAddress), expected.mac) << c.what << " row " << r;
            EXPECT_EQ(Dotted(table[r].ipv4Address), expected.ip) << c.what << " row " << r;
        }
    }
}

// Names fill all 16 bytes of the record, with no NUL: the escaped name keeps 15 bytes, whole
// characters only, and nothing is written past the record (the next one is a guard).
TEST(WalkInterfaceRecords, NameCutsStayInTheRecord) {
    const std::string euro = "\xE2\x82\xAC", smile = "\xF0\x9F\x98\x80";
    const std::pair<std::string, std::string> cases[] = {
        {std::string(16, 'n'), std::string(15, 'n')},
        {std::string(11, 'n') + euro + "xx", std::string(11, 'n') + euro + "x"},
        {std::string(12, 'n') + euro + "x", std::string(12, 'n') + euro},
        {std::string(13, 'n') + euro, std::string(13, 'n')},
        {std::string(10, 'n') + smile + "xx", std::string(10, 'n') + smile + "x"},
        {std::string(11, 'n') + smile + "x", std::string(11, 'n') + smile},
        {std::string(12, 'n') + smile, std::string(12, 'n')},
        {std::string(14, 'n') + "&x", std::string(14, 'n')},
    };
    for (const auto &c : cases) {
        const std::vector<unsigned char> bytes = Records().Link(c.first, kMac1).bytes();
        InterfaceRecord table[2];
        memset(table, 0xAB, sizeof table);
        EXPECT_EQ(WalkInterfaceRecords(bytes.data(), static_cast<int32_t>(bytes.size()), table, 1), 0);
        EXPECT_EQ(std::string(table[0].name), c.second) << c.first;
        const std::vector<unsigned char> guard(reinterpret_cast<unsigned char *>(&table[1]),
                                               reinterpret_cast<unsigned char *>(&table[2]));
        EXPECT_EQ(guard, std::vector<unsigned char>(sizeof table[1], 0xAB)) << c.first << ": wrote past the record";
    }
}

TEST(WalkInterfaceRecords, MoreInterfacesThanTheTable) {
    Records records;
    for (int n = 0; n < 17; ++n) {
        records.Link("en" + std::to_string(n), {2, 0, 0, 0, 0, static_cast<unsigned char>(n + 1)});
        records.Inet("en" + std::to_string(n), 10, 0, 0, static_cast<unsigned char>(n + 1));
    }
    InterfaceRecord table[17];
    memset(table, 0, sizeof table);
    EXPECT_EQ(WalkInterfaceRecords(records.bytes().data(), static_cast<int32_t>(records.bytes().size()), table, 16),
              16);
    EXPECT_STREQ(table[15].name, "en15");
    EXPECT_EQ(Dotted(table[15].ipv4Address), "10.0.0.16");
    EXPECT_STREQ(table[16].name, "");  // the 17th is never written
}

TEST(WalkInterfaceRecords, EveryTruncationStaysInBounds) {
    Records records;
    records.Link("lo0", {}).Inet("lo0", 127, 0, 0, 1).Link("en0", kMac1).Inet("en0", 10, 0, 0, 1).Inet6("en0");
    records.Link("bridge100", kMac2).Inet("bridge100", 10, 0, 0, 2);
    for (size_t length = 0; length <= records.bytes().size(); ++length) {
        std::vector<unsigned char> cut(records.bytes().begin(), records.bytes().begin() + static_cast<long>(length));
        InterfaceRecord table[16];
        memset(table, 0, sizeof table);
        const int32_t result = WalkInterfaceRecords(cut.data(), static_cast<int32_t>(length), table, 16);
        EXPECT_GE(result, -1);
        EXPECT_LE(result, 1);
    }
    const std::vector<unsigned char> one = Records().Link("en0", kMac1).bytes();
    InterfaceRecord table[16];
    EXPECT_EQ(WalkInterfaceRecords(nullptr, static_cast<int32_t>(one.size()), table, 16), -1);
    EXPECT_EQ(WalkInterfaceRecords(one.data(), static_cast<int32_t>(one.size()), nullptr, 16), -1);
    EXPECT_EQ(WalkInterfaceRecords(one.data(), static_cast<int32_t>(one.size()), table, -1), -1);
    EXPECT_EQ(WalkInterfaceRecords(one.data(), static_cast<int32_t>(one.size()), table, 31), -1);
    EXPECT_EQ(WalkInterfaceRecords(one.data(), static_cast<int32_t>(one.size()), table, 30), 0);
}

class CaptureInterfacesTest : public CollectorTest {
  protected:
    void TearDown() override {
        standin::UseLiveInterfaces();
        CollectorTest::TearDown();
    }
};

standin::InterfaceInfo Iface(const std::string &name, unsigned index, std::vector<unsigned char> mac,
                             std::initializer_list<std::array<unsigned char, 4>> ipv4 = {}) {
    standin::InterfaceInfo info;
    info.name = name;
    info.index = index;
    info.linkAddress = std::move(mac);
    info.ipv4 = ipv4;
    return info;
}

struct MacCase {
    const char *what;
    const char *list;               // the key of its list in tests/data/macos-interfaces.txt
    const char *nodes;              // and of its nodes in tests/data/macos-interface-nodes.txt ("": none)
    std::vector<std::string> rows;  // "name address" of rows 0 to 3
};

// Real Macs' interface lists (tests/data/macos-interfaces.txt), laid out as the kernel lays them, with their registry's
// nodes: row 0 is the primary port with its own address, then the ports that hold an address, then the built-in ports.
TEST_F(CaptureInterfacesTest, RealMacsPrimaryPortFirst) {
    const MacCase cases[] = {
        {"Apple silicon MacBook Pro, USB Ethernet in use (1,804 bytes)",
         "A",
         "A",
         {"en0 10.0.0.46", "en8 192.168.10.11", "en1 0.0.0.0", "en2 0.0.0.0"}},
        {"Apple silicon laptop", "C", "C", {"en0 10.21.139.150", "en1 0.0.0.0", "en2 0.0.0.0", "anpi1 0.0.0.0"}},
        {"Apple silicon laptop, 11 tunnels",
         "E",
         "E",
         {"en0 192.168.0.42", "en1 0.0.0.0", "en2 0.0.0.0", "anpi1 0.0.0.0"}},
        {"Apple silicon laptop, anpi0 listed first",
         "G",
         "G",
         {"en0 192.168.45.4", "en1 0.0.0.0", "en2 0.0.0.0", "anpi0 0.0.0.0"}},
        {"Intel MacBook Pro with T2, a link-local adapter",
         "I",
         "I",
         {"en0 192.168.10.193", "en6 169.254.29.245", "en1 0.0.0.0", "en2 0.0.0.0"}},
        {"Intel MacBook Pro 2013-15, VMware's networks",
         "K",
         "K",
         {"en0 172.20.144.41", "en1 0.0.0.0", "en2 0.0.0.0", "vmnet1 192.168.214.1"}},
        {"Intel MacBook Pro 2016-17",
         "M",
         "M",
         {"en0 172.30.16.62", "en1 0.0.0.0", "en2 0.0.0.0", "p2p0 0.0.0.0"}},
        {"Intel iMac, wired en0 idle, Wi-Fi en1 in use, Internet Sharing",
         "O",
         "O",
         {"en0 0.0.0.0", "en1 192.168.0.35", "en2 0.0.0.0", "bridge0 192.168.4.1"}},
        {"no registry nodes: by address, then in list order",
         "C",
         "",
         {"en0 10.21.139.150", "anpi1 0.0.0.0", "anpi0 0.0.0.0", "en3 0.0.0.0"}},
    };
    for (const auto &c : cases) {
        const std::string list = testutil::MacInterfaceList(c.list);
        ASSERT_FALSE(list.empty()) << c.what << ": no list " << c.list << " in tests/data/macos-interfaces.txt";
        standin::InstallInterfaces(testutil::ReadInterfaceList(list));
        Install(testutil::MacNetworkNodes(testutil::MacNodeList(c.nodes)));
        InterfaceRecord table[kInterfaceRecords];
        memset(table, 0, sizeof table);
        CaptureInterfaces(table, kInterfaceRecords);
        for (size_t r = 0; r < 4; ++r) {
            EXPECT_EQ(std::string(table[r].name) + " " + Dotted(table[r].ipv4Address), c.rows[r])
                << c.what << " row " << r;
        }
    }
}

// The request buffer grows until the list fits, up to 64 KiB: plain interfaces (36 bytes of records
// each), interfaces with an IPv6 address (80 bytes), then "last", which alone holds an IPv4 address.
TEST_F(CaptureInterfacesTest, TheWholeListUpToTheLargestRequest) {
    struct {
        unsigned plain, withIpv6;
        const char *first;  // row 0
    } const cases[] = {
        {8, 8, "last"},    // 928 bytes: the kernel stops with 32 of 960 left
        {0, 40, "last"},   // 3,268 bytes
        {0, 800, "last"},  // 64,068 bytes
        {0, 900, "v0"},    // 72,068 bytes: "last" is past the largest request
    };
    for (const auto &c : cases) {
        std::vector<standin::InterfaceInfo> list;
        for (unsigned n = 0; n < c.plain + c.withIpv6 + 1; ++n) {
            const std::string name = n < c.plain ? "p" + std::to_string(n) : "v" + std::to_string(n - c.plain);
            list.push_back(Iface(n == c.plain + c.withIpv6 ? "last" : name, n + 1,
                                 {2, 0, 0, static_cast<unsigned char>(n >> 8), 1, static_cast<unsigned char>(n)}));
            if (n >= c.plain) list.back().ipv6 = {{{0xfe, 0x80}}};
        }
        list.back().ipv6.clear();
        list.back().ipv4 = {{{10, 0, 0, 9}}};
        standin::InstallInterfaces(list);
        InterfaceRecord table[30];
        memset(table, 0, sizeof table);
        const int32_t qualified = static_cast<int32_t>(list.size());
        EXPECT_EQ(CaptureInterfaces(table, 30), qualified > 30 ? 30 : qualified - 1) << c.withIpv6;
        EXPECT_STREQ(table[0].name, c.first) << c.plain << " plain, " << c.withIpv6 << " with IPv6";
    }
}

TEST_F(CaptureInterfacesTest, FailuresLeaveTheTableAlone) {
    standin::InstallInterfaces({Iface("en0", 1, kMac1)});
    InterfaceRecord table[16];
    memset(table, 0, sizeof table);
    EXPECT_EQ(CaptureInterfaces(nullptr, 16), -1);
    EXPECT_EQ(CaptureInterfaces(table, 31), -1);
    standin::SetInterfaceListError(EINVAL);
    EXPECT_EQ(CaptureInterfaces(table, 16), 0);
    EXPECT_STREQ(table[0].name, "");
    // A socket that comes as descriptor 0 (standard input closed) is not used.
    const int input = dup(0);
    ASSERT_GE(input, 0);
    close(0);
    EXPECT_EQ(CaptureInterfaces(table, 16), 0);
    EXPECT_EQ(fcntl(0, F_GETFD), -1) << "closed again";
    ASSERT_EQ(dup2(input, 0), 0);
    close(input);
    EXPECT_STREQ(table[0].name, "");
    standin::SetInterfaceListError(0);
    EXPECT_EQ(CaptureInterfaces(table, 16), 0);
    EXPECT_STREQ(table[0].name, "en0");
}

// The registry's nodes as the collector reads them: those whose BSD name is a string, each boolean
// only when it is a boolean, and no more than the room given (the service past it released too).
TEST_F(CaptureInterfacesTest, RegistryNodes) {
    using standin::Property;
    const std::vector<std::string> supers = {"IONetworkInterface"};
    std::vector<standin::Service> services = {
        {"IOEthernetInterface", {{"BSD Name", Property::Data("en9")}, {"IOBuiltin", Property::Boolean(true)}}, supers},
        {"IOEthernetInterface",
         {{"BSD Name", Property::String("en0")},
          {"IOPrimaryInterface", Property::String("Yes")},
          {"IOBuiltin", Property::Boolean(true)}},
         supers},
    };
    for (int n = 1; n <= kInterfaceNodes; ++n) {
        services.push_back({"IOEthernetInterface", {{"BSD Name", Property::String("en" + std::to_string(n))}}, supers});
    }
    Install(services);
    for (const int32_t room : {int32_t{kInterfaceNodes} - 1, int32_t{kInterfaceNodes}, int32_t{kInterfaceNodes} + 1}) {
        InterfaceNode nodes[kInterfaceNodes + 2];
        memset(nodes, 'Q', sizeof nodes);
        EXPECT_EQ(ReadInterfaceNodes(nodes, room), room) << room;
        EXPECT_STREQ(nodes[0].name, "en0");
        EXPECT_FALSE(nodes[0].primary) << "a string is no boolean";
        EXPECT_TRUE(nodes[0].builtin);
        EXPECT_STREQ(nodes[room - 1].name, ("en" + std::to_string(room - 1)).c_str());
        EXPECT_EQ(nodes[room].name[0], 'Q') << "nothing past the room given";
    }
    InterfaceNode node;
    EXPECT_EQ(ReadInterfaceNodes(nullptr, 4), 0);
    EXPECT_EQ(ReadInterfaceNodes(&node, 0), 0);
    EXPECT_EQ(ReadInterfaceNodes(&node, 1), 1);
    EXPECT_STREQ(node.name, "en0");
    EXPECT_EQ(ReadInterfaceNodes(&node, -1), 0);
}

TEST_F(CaptureInterfacesTest, ReportRowsThroughTheCapturePass) {
    standin::InstallInterfaces({Iface("lo", 1, {}, {{{127, 0, 0, 1}}}), Iface("eth0", 2, kMac1, {{{192, 0, 2, 7}}}),
                                Iface("wlan0", 3, kMac2)});
    memset(gStore.interfaces, 0, sizeof gStore.interfaces);
    RunCapturePass();
    EXPECT_STREQ(SettingValue(17), "eth0");
    EXPECT_STREQ(SettingValue(18), "001b638445e6");
    EXPECT_STREQ(SettingValue(19), "192.0.2.7");
    EXPECT_STREQ(SettingValue(20), "wlan0");
    EXPECT_STREQ(SettingValue(22), "0.0.0.0");
    EXPECT_STREQ(SettingValue(23), "");
    EXPECT_STREQ(SettingValue(24), "000000000000");
}

}  // namespace
