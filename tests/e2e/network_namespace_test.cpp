// The interface rows on a machine whose interfaces we choose: a private network namespace (root and
// unshare needed) with veth pairs and a bridge of hostile and long names. The rows must match what
// `ip` and sysfs report in the same namespace.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "inventory/captured_text.h"
#include "test_util.h"

namespace {

const char kSetup[] = R"(
set -e
ip link add 'a<b&c' type veth peer name "p\"q'r"
ip link set dev 'a<b&c' address 02:00:00:00:00:0a
ip addr add 10.200.0.1/24 dev 'a<b&c'
ip addr add 10.200.0.9/24 dev 'a<b&c'
ip link add br0 type bridge 2>/dev/null || ip link add br0 type veth peer name br0p
ip addr add 10.201.0.1/16 dev br0
ip link add fifteen_chars_x type veth peer name v2
for n in 1 2 3 4; do ip link add "veth$n" type veth peer name "peer$n"; done
ip link set lo up
)";

struct Row {
    std::string name, mac, ip;
};

std::vector<std::string> Split(const std::string &text, char sep) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, sep)) parts.push_back(part);
    return parts;
}

std::vector<std::string> Words(const std::string &line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

std::string BaseName(const std::string &word) { return word.substr(0, word.find('@')); }

const char kReport[] = R"(
ip -br link
echo ----
ip -br -4 addr
echo ----
for d in /sys/class/net/*; do
  [ -e "$d/device" ] || continue
  readlink -f "$d" | grep -q '/usb[0-9]' && echo "${d##*/} usb" || echo "${d##*/} builtin"
done
echo ----
exec "$0" -
)";

// Runs argv (whose script prints `ip -br link`, `ip -br -4 addr`, the interfaces on a device and then
// the document, separated by "----" lines) and checks the document's interface rows against what ip
// and sysfs said: interfaces on a device that hold an IPv4 address first, then the other built-in
// ones, then the others that hold one, then the rest, each in list order.
void ExpectRowsMatchIp(const std::vector<std::string> &argv, const char *mustShow) {
    testutil::RunResult r = testutil::Run(argv);
    ASSERT_EQ(r.status, 0) << r.stdErr;
    std::vector<std::string> parts;  // the links, the addresses, the devices, the document
    size_t at = 0;
    for (size_t end; parts.size() < 3 && (end = r.stdOut.find("----\n", at)) != std::string::npos; at = end + 5) {
        parts.push_back(r.stdOut.substr(at, end - at));
    }
    ASSERT_EQ(parts.size(), 3u) << r.stdOut;
    const std::string &links = parts[0], &addresses = parts[1], &devices = parts[2];
    const std::string document = r.stdOut.substr(at);

    std::vector<std::pair<int, Row>> ranked;
    for (const auto &line : Split(links, '\n')) {
        const auto w = Words(line);
        if (w.size() < 3 || w[2] == "00:00:00:00:00:00" || w[2].size() != 17) continue;
        Row row;
        char escaped[16];
        EscapeCopy(escaped, sizeof escaped, BaseName(w[0]).c_str());
        row.name = escaped;
        for (char c : w[2]) {
            if (c != ':') row.mac += c;
        }
        row.ip = "0.0.0.0";
        for (const auto &aline : Split(addresses, '\n')) {
            const auto a = Words(aline);
            if (a.size() >= 3 && BaseName(a[0]) == BaseName(w[0])) row.ip = a.back().substr(0, a.back().find('/'));
        }
        std::string device;
        for (const auto &dline : Split(devices, '\n')) {
            const auto d = Words(dline);
            if (d.size() == 2 && d[0] == BaseName(w[0])) device = d[1];
        }
        const bool addressed = row.ip != "0.0.0.0";
        ranked.push_back({!device.empty() && addressed ? 0 : device == "builtin" ? 1 : addressed ? 2 : 3, row});
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const std::pair<int, Row> &a, const std::pair<int, Row> &b) { return a.first < b.first; });
    std::vector<Row> expected;
    for (size_t n = 0; n < ranked.size() && n < 4; ++n) expected.push_back(ranked[n].second);
    bool shown = false;
    for (const auto &row : expected) shown = shown || row.name == mustShow;
    EXPECT_TRUE(shown) << mustShow << " not among the first rows: " << links;
    expected.resize(4, Row{"", "000000000000", "0.0.0.0"});

    std::string message;
    EXPECT_TRUE(testutil::ValidatesAgainstSchema(document, &message)) << message;
    static const std::regex kSetting(
        "<QX:setting name=\"(NICAdapterName|MACAddress|IPAddress)([0-3])\" value=\"([^\"]*)\" />");
    std::vector<Row> rows(4);
    for (const auto &line : Split(document, '\n')) {
        std::smatch m;
        if (!std::regex_match(line, m, kSetting)) continue;
        Row &row = rows[std::stoi(m[2])];
        if (m[1] == "NICAdapterName") row.name = m[3];
        if (m[1] == "MACAddress") row.mac = m[3];
        if (m[1] == "IPAddress") row.ip = m[3];
    }
    for (size_t n = 0; n < 4; ++n) {
        EXPECT_EQ(rows[n].name, expected[n].name) << n;
        EXPECT_EQ(rows[n].mac, expected[n].mac) << n;
        EXPECT_EQ(rows[n].ip, expected[n].ip) << n;
    }
}

bool HaveIp() { return access("/usr/sbin/ip", X_OK) == 0 || access("/sbin/ip", X_OK) == 0; }

TEST(NetworkNamespace, LiveMachineRowsMatchIp) {
    if (!HaveIp()) GTEST_SKIP() << "needs ip (iproute2)";
    // The machine's first interface with a hardware address; eth0 on these machines.
    testutil::RunResult first =
        testutil::Run({"/bin/sh", "-c", "ip -br link | awk '$3 != \"00:00:00:00:00:00\" {print $1; exit}'"});
    const std::string name = first.stdOut.substr(0, first.stdOut.find_first_of("@\n"));
    ExpectRowsMatchIp({"/bin/sh", "-c", kReport, MACHINEINFO_BINARY}, name.c_str());
}

TEST(NetworkNamespace, HostileInterfaceNamesMatchIp) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a private network namespace";
    if (access("/usr/bin/unshare", X_OK) != 0 || !HaveIp()) GTEST_SKIP() << "needs unshare and ip";
    testutil::RunResult probe = testutil::Run({"/usr/bin/unshare", "-n", "/bin/true"});
    if (probe.status != 0) GTEST_SKIP() << "no private network namespace here: " << probe.stdErr;
    ExpectRowsMatchIp({"/usr/bin/unshare", "-n", "/bin/sh", "-c", std::string(kSetup) + kReport, MACHINEINFO_BINARY},
                      "a&lt;b&amp;c");
}

}  // namespace
