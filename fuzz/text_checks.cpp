// Property checks for the captured-text rules and the parses over machine bytes (serial-number data,
// interface records and the rtnetlink messages they are built from).
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "check_support.h"
#include "checks.h"
#include "collectors/interfaces.h"
#include "collectors/platform_identity.h"
#include "inventory/captured_text.h"
#include "standin_testing.h"

void CheckCapturedText(const uint8_t *data, size_t size) {
    std::vector<char> src(data, data + size);
    src.push_back('\0');
    for (size_t capacity = 1; capacity <= 64; ++capacity) {
        std::vector<char> dest(capacity + 1, '#');  // one guard byte
        EscapeCopy(dest.data(), capacity, src.data());
        CHECK_PROPERTY("text", dest[capacity] == '#', dest.data());
        CHECK_PROPERTY("text", strlen(dest.data()) < capacity, dest.data());
        CHECK_PROPERTY("text", IsCleanEscapedText(dest.data()), dest.data());
        TrimSpaces(dest.data());
        const size_t length = strlen(dest.data());
        CHECK_PROPERTY("text", length == 0 || (dest[0] != ' ' && dest[length - 1] != ' '), dest.data());
        CHECK_PROPERTY("text", IsCleanEscapedText(dest.data()), dest.data());
        CutEscaped(dest.data(), 9);
        CHECK_PROPERTY("text", strlen(dest.data()) <= 9 && IsCleanEscapedText(dest.data()), dest.data());
    }
    char appended[64];
    EscapeCopy(appended, sizeof appended, "0123456789012345678901234567890123456789012345678901234");
    char escaped[64];
    EscapeCopy(escaped, sizeof escaped, src.data());
    AppendEscaped(appended, sizeof appended, escaped);
    CHECK_PROPERTY("text", strlen(appended) < sizeof appended && IsCleanEscapedText(appended), appended);
}

void CheckSerialNumberData(const uint8_t *data, size_t size) {
    // An exact-size heap copy, so that any read past the data is caught.
    const std::vector<UInt8> bytes(data, data + size);
    char asset[64], serial[64];
    ParseSerialNumberData(bytes.data(), static_cast<CFIndex>(size), asset, serial);
    CHECK_PROPERTY("serial", std::equal(bytes.begin(), bytes.end(), data), serial);
    CHECK_PROPERTY("serial", strlen(asset) <= 9, asset);
    CHECK_PROPERTY("serial", strlen(serial) <= 63, serial);
    CHECK_PROPERTY("serial", IsCleanEscapedText(asset), asset);
    CHECK_PROPERTY("serial", IsCleanEscapedText(serial), serial);
}

namespace {

void WalkAndCheck(const unsigned char *records, size_t size) {
    InterfaceRecord table[kInterfaceRecords + 1];
    memset(table, 0, sizeof table);
    const int32_t length = size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
    // Registry nodes named as the first records are, primary and built in as bytes of them say.
    InterfaceNode nodes[4] = {};
    int32_t nodeCount = 0;
    for (size_t at = 0; nodeCount < 4 && at + 32 <= size; at += 32, ++nodeCount) {
        memcpy(nodes[nodeCount].name, records + at, sizeof nodes[nodeCount].name - 1);
        nodes[nodeCount].primary = (records[at + 18] & 1) != 0;
        nodes[nodeCount].builtin = (records[at + 19] & 1) != 0;
    }
    const int32_t result = WalkInterfaceRecords(records, length, table, kInterfaceRecords, nodes, nodeCount);
    CHECK_PROPERTY("interfaces", result >= -1 && result <= kInterfaceRecords, "");
    const InterfaceRecord untouched = {};
    CHECK_PROPERTY("interfaces", memcmp(&table[kInterfaceRecords], &untouched, sizeof untouched) == 0, "");
    for (const InterfaceRecord &r : table) {
        CHECK_PROPERTY("interfaces", memchr(r.name, '\0', sizeof r.name) != NULL, "");
        CHECK_PROPERTY("interfaces", strlen(r.name) <= 15 && IsCleanEscapedText(r.name), r.name);
    }
}

}  // namespace

void CheckInterfaceWalk(const uint8_t *data, size_t size) {
    const std::vector<unsigned char> records(data, data + size);
    WalkAndCheck(records.data(), size);

    // The same bytes as the buffers of a link dump and an address dump: the interfaces built from
    // them come in index order, only as many as fit, and lay out as records that walk as any do.
    const size_t capacity = kInterfaceRequestRecords * kInterfaceRequestRecordSize;
    standin::NetlinkInterfaces reader(capacity);
    reader.TakeLinks(records.data(), size);
    reader.BeginAddresses();
    reader.TakeAddresses(records.data(), size);
    const std::vector<standin::InterfaceInfo> interfaces = reader.Interfaces();
    for (size_t i = 1; i < interfaces.size(); ++i) {
        CHECK_PROPERTY("netlink", interfaces[i - 1].index < interfaces[i].index, "");
    }
    CHECK_PROPERTY("netlink", interfaces.size() <= capacity / 36, "");
    std::vector<unsigned char> laidOut(capacity), direct(capacity);
    const size_t used = standin::EncodeInterfaceRecords(interfaces, laidOut.data(), capacity);
    CHECK_PROPERTY("netlink", used <= capacity, "");
    CHECK_PROPERTY("netlink", reader.LayOut(direct.data(), capacity) == used && direct == laidOut, "");
    laidOut.resize(used);  // exactly the bytes written, so that a read past them is caught
    WalkAndCheck(laidOut.data(), used);
}
