// The tool on machines made hostile in private namespaces (root and unshare needed; skipped
// otherwise): host and pretty names, DMI and block-device trees, and a destination that fills up.
// Every document must validate against the schema and carry the values as the README states.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

using testutil::RunResult;
using testutil::TempDir;

bool CanUnshare(const char *flags) {
    if (geteuid() != 0 || access("/usr/bin/unshare", X_OK) != 0) return false;
    return testutil::Run({"/usr/bin/unshare", flags, "/bin/true"}).status == 0;
}

#define REQUIRE_NAMESPACES(flags) \
    if (!CanUnshare(flags)) GTEST_SKIP() << "needs root and unshare " flags " for a private namespace"

std::string Hex(const std::string &bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

std::string Value(const std::string &document, const std::string &name) {
    const std::regex line("<QX:setting name=\"" + name + "\" value=\"([^\"]*)\" />");
    std::smatch m;
    return std::regex_search(document, m, line) ? m[1].str() : "<missing>";
}

void ExpectValidDocument(const RunResult &r) {
    ASSERT_EQ(r.status, 0) << r.stdErr;
    std::string message;
    EXPECT_TRUE(testutil::ValidatesAgainstSchema(r.stdOut, &message)) << message << r.stdOut;
}

// Hides any pretty name of the machine, so that the host name decides.
const char kHidePrettyName[] = "[ -e /etc/machine-info ] && mount --bind /dev/null /etc/machine-info; ";

struct NameCase {
    std::string name;
    std::string expected;
};

using testutil::Repeat;

TEST(HostileMachine, HostNames) {
    REQUIRE_NAMESPACES("-um");
    const NameCase cases[] = {
        {"a<b>&\"c'd", "a&lt;b&gt;&amp;&quot;c&apos;d"},
        {"tab\there\x01\x7f", "tab here \x7f"},
        {"caf\xc3\xa9-\xff\xfe", "caf\xc3\xa9-\xef\xbf\xbd\xef\xbf\xbd"},
        {std::string(64, 'h'), std::string(63, 'h')},
        {std::string(64, '&'), Repeat("&amp;", 12)},
        {"\xe2\x82\xac" + std::string(61, 'x'), "\xe2\x82\xac" + std::string(60, 'x')},
    };
    for (const auto &c : cases) {
        const std::string script = std::string(kHidePrettyName) + "exec \"$0\" \"$1\" \"$2\" -";
        RunResult r = testutil::Run({"/usr/bin/unshare", "-um", "/bin/sh", "-c", script, MACHINEINFO_SET_HOSTNAME,
                                     Hex(c.name), MACHINEINFO_BINARY});
        ExpectValidDocument(r);
        EXPECT_EQ(Value(r.stdOut, "ComputerName"), c.expected) << Hex(c.name);
    }
}

TEST(HostileMachine, PrettyNames) {
    REQUIRE_NAMESPACES("-m");
    const NameCase cases[] = {
        {"PRETTY_HOSTNAME=\"Tom's \\\"Mac\\\" <&>\"\n", "Tom&apos;s &quot;Mac&quot; &lt;&amp;&gt;"},
        {"PRETTY_HOSTNAME='tab\there'\n", "tab here"},
        {"PRETTY_HOSTNAME=bad\xff\xc3\n", "bad\xef\xbf\xbd\xef\xbf\xbd"},
        {"PRETTY_HOSTNAME=" + std::string(80, 'p') + "\n", std::string(63, 'p')},
        {"PRETTY_HOSTNAME=\"\"\nICON_NAME=computer\n", "<host>"},
    };
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    for (const auto &c : cases) {
        TempDir dir;
        testutil::WriteFile(dir / "machine-info", c.name);
        // A private /etc with this machine-info over the real one (an overlay when there is none); a
        // set-up that fails exits 77, which the tool never does, so that a failing tool still fails.
        const std::string script =
            "if [ -e /etc/machine-info ]; then mount --bind \"$1/machine-info\" /etc/machine-info || exit 77; else "
            "mkdir \"$1/up\" \"$1/work\" && cp \"$1/machine-info\" \"$1/up/\" && "
            "mount -t overlay overlay -o lowerdir=/etc,upperdir=\"$1/up\",workdir=\"$1/work\" /etc || exit 77; fi; "
            "exec \"$0\" -";
        RunResult r =
            testutil::Run({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, MACHINEINFO_BINARY, dir.path()});
        if (r.status == 77) GTEST_SKIP() << "no private /etc here: " << r.stdErr;
        ExpectValidDocument(r);
        const std::string expected = c.expected == "<host>" ? std::string(host) : c.expected;
        EXPECT_EQ(Value(r.stdOut, "ComputerName"), expected) << c.name;
    }
}

// Runs the tool on a machine tree that script makes in a private mount namespace before it runs
// "$0" -. Where the build names a peer (the tool built for another architecture), the peer runs on
// the same tree and must write the same document.
RunResult RunOnTree(const std::string &script) {
    RunResult r = testutil::Run({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, MACHINEINFO_BINARY});
    const std::string peer = MACHINEINFO_PEER_BINARY;
    if (!peer.empty()) {
        RunResult other = testutil::Run({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, peer});
        EXPECT_EQ(other.status, r.status) << peer << ": " << other.stdErr;
        EXPECT_EQ(other.stdOut, r.stdOut) << peer << " writes another document";
    }
    return r;
}

TEST(HostileMachine, DmiAndBlockDeviceTrees) {
    REQUIRE_NAMESPACES("-m");
    RunResult r = RunOnTree(R"(
set -e
mount -t tmpfs tmpfs /sys/class
mkdir -p /sys/class/dmi/id
printf '<Model & "Co">\n' > /sys/class/dmi/id/product_name
printf ' \tDell <Inc> & "Co"  \n' > /sys/class/dmi/id/sys_vendor
printf '  SER\tIAL\377-0123456789012345678901234567890123456789\n' > /sys/class/dmi/id/product_serial
mount -t tmpfs tmpfs /sys/block
for d in sda sdb sdc sdd sde sdf loop0; do mkdir /sys/block/$d; done
printf '   WD-<1>&2   \n' > /sys/block/sda/serial
printf '\n' > /sys/block/sdb/serial
mkdir /sys/block/sdc/device; printf 'S\001\002 3\n' > /sys/block/sdc/device/serial
printf '%070d\n' 7 > /sys/block/sdd/serial
printf 'fifth\n' > /sys/block/sde/serial
printf 'sixth\n' > /sys/block/sdf/serial
printf 'loop\n' > /sys/block/loop0/serial
exec "$0" -
)");
    ExpectValidDocument(r);
    EXPECT_EQ(Value(r.stdOut, "ComputerModel"), "&lt;Model &amp; &quot;Co&quot;&gt;");
    EXPECT_EQ(Value(r.stdOut, "ComputerModelWMI"), "&lt;Model &amp; &quot;Co&quot;&gt;");
    EXPECT_EQ(Value(r.stdOut, "ComputerMake"), "Dell &lt;Inc&gt; &amp; &quot;Co&quot;");
    EXPECT_EQ(Value(r.stdOut, "ComputerMakeWMI"), "Dell &lt;Inc&gt; &amp; &quot;Co&quot;");
    // 33 bytes of the serial, the bad byte decoded as U+FFFD, the tab a blank, then trimmed.
    EXPECT_EQ(Value(r.stdOut, "ComputerSerial"), "SER IAL\xef\xbf\xbd-01234567890123456789");
    EXPECT_EQ(Value(r.stdOut, "HDDSerialNumber0"), "WD-&lt;1&gt;&amp;2");
    EXPECT_EQ(Value(r.stdOut, "HDDSerialNumber1"), "S   3");
    EXPECT_EQ(Value(r.stdOut, "HDDSerialNumber2"), std::string(63, '0'));
    EXPECT_EQ(Value(r.stdOut, "HDDSerialNumber3"), "fifth");
}

// A board without DMI, as a Raspberry Pi is: maker, model and serial from the device tree; its eMMC
// card's boot area and a card reader are no disks, and its USB disk comes after the card.
TEST(HostileMachine, DeviceTreeBoard) {
    REQUIRE_NAMESPACES("-m");
    RunResult r = RunOnTree(R"(
set -e
mount -t tmpfs tmpfs /sys/class
mount -t tmpfs tmpfs /sys/firmware
mkdir -p /sys/firmware/devicetree/base
printf 'Raspberry Pi 4 Model B Rev 1.4\0' > /sys/firmware/devicetree/base/model
printf 'raspberrypi,4-model-b\0brcm,bcm2711\0' > /sys/firmware/devicetree/base/compatible
printf '10000000abcdef12\0' > /sys/firmware/devicetree/base/serial-number
mount -t tmpfs tmpfs /sys/block
mkdir -p /sys/block/mmcblk0/device /sys/block/mmcblk0boot0/device /sys/block/sdb
mkdir -p /sys/firmware/soc/usb1/1-1/block/sda
ln -s ../firmware/soc/usb1/1-1/block/sda /sys/block/sda
printf '0x9a3c1e2f\n' > /sys/block/mmcblk0/device/serial
printf 'BOOT\n' > /sys/block/mmcblk0boot0/device/serial
printf 'USB<1>\n' > /sys/block/sda/serial
printf 'READER\n' > /sys/block/sdb/serial
printf '1\n' > /sys/block/sdb/removable
exec "$0" -
)");
    ExpectValidDocument(r);
    EXPECT_EQ(Value(r.stdOut, "ComputerMake"), "raspberrypi");
    EXPECT_EQ(Value(r.stdOut, "ComputerModel"), "Raspberry Pi 4 Model B Rev 1.4");
    EXPECT_EQ(Value(r.stdOut, "ComputerSerial"), "10000000abcdef12");
    EXPECT_EQ(Value(r.stdOut, "ComputerSerialWMI"), "10000000abcdef12");
    EXPECT_EQ(Value(r.stdOut, "HDDSerialNumber0"), "0x9a3c1e2f");
    EXPECT_EQ(Value(r.stdOut, "HDDSerialNumber1"), "USB&lt;1&gt;");
    EXPECT_EQ(Value(r.stdOut, "HDDSerialNumber2"), "");
}

TEST(HostileMachine, FullFilesystemKeepsTheEarlierDocument) {
    REQUIRE_NAMESPACES("-m");
    TempDir dir;
    const std::string script = R"(
mount -t tmpfs -o size=64k tmpfs "$1" || exit 70
printf 'earlier document\n' > "$1/inventory.xml"
dd if=/dev/zero of="$1/fill" bs=4k 2>/dev/null
"$0" "$1/inventory.xml"
echo "status=$?"
cat "$1/inventory.xml"
ls -a "$1"
)";
    RunResult r = testutil::Run({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, MACHINEINFO_BINARY, dir.path()});
    ASSERT_EQ(r.status, 0) << r.stdErr;
    EXPECT_NE(r.stdOut.find("status=2\n"), std::string::npos) << r.stdOut;
    EXPECT_NE(r.stdOut.find("earlier document\n"), std::string::npos) << r.stdOut;
    EXPECT_EQ(r.stdOut.find(".inventory.xml."), std::string::npos) << "a temporary file was left: " << r.stdOut;
}

// The static executable needs nothing from the root file system: in a root that holds only the
// executable, /proc, /sys (and the udev database where the host has one), it writes the host's
// document, the computer name aside (the pretty name lives in /etc).
TEST(HostileMachine, EmptyRootGivesTheHostDocument) {
    if (!MACHINEINFO_STATIC_BUILD) GTEST_SKIP() << "the tool is linked dynamically in this build";
    REQUIRE_NAMESPACES("-m");
    TempDir dir;
    const std::string script = R"(
set -e
mkdir "$1/proc" "$1/sys"
cp "$0" "$1/machineinfo"
mount -t proc proc "$1/proc"
mount --rbind /sys "$1/sys"
if [ -d /run/udev/data ]; then mkdir -p "$1/run/udev/data"; mount --bind /run/udev/data "$1/run/udev/data"; fi
exec chroot "$1" /machineinfo -
)";
    RunResult inRoot =
        testutil::Run({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, MACHINEINFO_BINARY, dir.path()});
    ExpectValidDocument(inRoot);
    RunResult host = testutil::Run({MACHINEINFO_BINARY, "-"});
    const std::regex name("<QX:setting name=\"ComputerName\" value=\"[^\"]*\" />");
    EXPECT_EQ(std::regex_replace(inRoot.stdOut, name, ""), std::regex_replace(host.stdOut, name, ""));

    // A dynamically linked build of the same sources cannot even start there.
    const std::string dynamic = std::string(R"(
mkdir "$1/proc" && cp "$0" "$1/machineinfo" && exec chroot "$1" /machineinfo -
)");
    TempDir other;
    RunResult twin =
        testutil::Run({"/usr/bin/unshare", "-m", "/bin/sh", "-c", dynamic, MACHINEINFO_DYNAMIC_BINARY, other.path()});
    EXPECT_NE(twin.status, 0);
    EXPECT_EQ(twin.stdOut, "");
}

// The shipped service's limits, as far as a machine without systemd running allows: root with every
// capability dropped and no new privileges, in a mount namespace where all but /tmp is read-only.
// The document at the default path is the one an unrestricted run writes.
TEST(HostileMachine, ServiceLimitsGiveTheSameDocument) {
    REQUIRE_NAMESPACES("-m");
    const std::string script = R"(
set -e
mount --make-rprivate /
mount --bind /tmp /tmp
awk '{ print $5 }' /proc/self/mountinfo | sort -u | while read -r point; do
  case "$point" in /tmp|/tmp/*|/proc|/proc/*|/dev|/dev/*) continue ;; esac
  mount -o remount,bind,ro "$point" 2>/dev/null || true
done
if touch /etc/.machineinfo-probe 2>/dev/null; then rm -f /etc/.machineinfo-probe; exit 71; fi
setpriv --no-new-privs --inh-caps=-all --ambient-caps=-all --bounding-set=-all -- "$0"
echo "status=$?"
cat /tmp/inventory.xml
)";
    unlink("/tmp/inventory.xml");
    RunResult restricted = testutil::Run({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, MACHINEINFO_BINARY});
    unlink("/tmp/inventory.xml");
    ASSERT_EQ(restricted.status, 0) << restricted.stdErr;
    RunResult free = testutil::Run({MACHINEINFO_BINARY, "-"});
    EXPECT_EQ(restricted.stdOut, "status=0\n" + free.stdOut);
}

// The shipped unit passes systemd's own checks: no errors, and an exposure of 2.0 or less.
TEST(HostileMachine, ServiceUnitIsHardened) {
    if (access("/usr/bin/systemd-analyze", X_OK) != 0) GTEST_SKIP() << "needs systemd-analyze";
    RunResult security = testutil::Run(
        {"/usr/bin/systemd-analyze", "security", "--offline=true", "--no-pager", MACHINEINFO_SERVICE_UNIT});
    std::smatch m;
    ASSERT_TRUE(std::regex_search(security.stdOut, m, std::regex("Overall exposure level for [^:]+: ([0-9.]+)")))
        << security.stdOut << security.stdErr;
    EXPECT_LE(std::stod(m[1].str()), 2.0) << security.stdOut;

    // verify wants the executable where the unit names it; this copy points at the built one.
    TempDir dir;
    std::string unit;
    ASSERT_TRUE(testutil::ReadFile(MACHINEINFO_SERVICE_UNIT, &unit));
    unit = std::regex_replace(unit, std::regex("ExecStart=/usr/bin/machineinfo"),
                              std::string("ExecStart=") + MACHINEINFO_BINARY);
    ASSERT_TRUE(testutil::WriteFile(dir / "machineinfo.service", unit));
    RunResult verify = testutil::Run({"/usr/bin/systemd-analyze", "verify", "--man=no", dir / "machineinfo.service"});
    EXPECT_EQ(verify.status, 0) << verify.stdErr;
    EXPECT_EQ(verify.stdErr, "");
}

}  // namespace
