// The walk over interface request records, on hand-built buffers, and the collector around it.
#include "collectors/interfaces.h"

#include <errno.h>
#include <string.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "collector_fixture.h"
#include "platform/interface_list.h"
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
         Records().Link("en0", {0, 0, 0, 0, 0, 0}).Link("en1", macOnlyFirstByte).Link("en2", kMac2),
         0,
         {{"en2", "a483e70f12c7", "0.0.0.0"}}},
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
    };
    for (const auto &c : cases) {
        InterfaceRecord table[16];
        memset(table, 0, sizeof table);
        std::vector<unsigned char> exact = c.records.bytes();  // exact size: sanitizers catch overreads
        EXPECT_EQ(WalkInterfaceRecords(exact.data(), static_cast<int32_t>(exact.size()), table, 16), c.result)
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

TEST_F(CaptureInterfacesTest, OnlyWhatFitsInTheRequestBufferIsSeen) {
    // Each interface takes a 36-byte link record and a 32-byte IPv4 record: 14 fit in 960 bytes.
    std::vector<standin::InterfaceInfo> list;
    for (unsigned n = 0; n < 40; ++n) {
        list.push_back(Iface("en" + std::to_string(n % 10), n + 1, {2, 0, 0, 0, 1, static_cast<unsigned char>(n)},
                             {{{10, 0, 0, static_cast<unsigned char>(n)}}}));
    }
    standin::InstallInterfaces(list);
    InterfaceRecord table[30];
    memset(table, 0, sizeof table);
    EXPECT_EQ(CaptureInterfaces(table, 30), 13);
    EXPECT_EQ(Dotted(table[13].ipv4Address), "10.0.0.13");
    EXPECT_STREQ(table[14].name, "");
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
    standin::SetInterfaceListError(0);
    EXPECT_EQ(CaptureInterfaces(table, 16), 0);
    EXPECT_STREQ(table[0].name, "en0");
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
