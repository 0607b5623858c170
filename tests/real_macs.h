// Real Macs, as tests/data describes them: their I/O Kit registries as `ioreg -lw0` prints them, read
// into the stand-in's registry model, and their interface lists as `ifconfig -a` showed them. The
// Linux tests and the emulated Mac runs (tests/macos) read the same files.
#pragma once

#include <string>
#include <vector>

#include "standin_testing.h"

namespace testutil {

// The services of an `ioreg -lw0` text in registry order, each with its class, the superclasses the
// class has on macOS (those the product looks up through), and its string, data, boolean and
// dictionary properties (numbers and arrays are left out: nothing here reads them). A line that is
// neither a service, a property nor a brace fails the read: *error says which, and the result is empty.
std::vector<standin::Service> ReadIoreg(const std::string &text, std::string *error);

// The same, from a file of tests/data/macos-registries.
std::vector<standin::Service> ReadIoregFile(const std::string &name, std::string *error);

// A Mac's interface list, a line an interface in the kernel's order: its name, M (a 6-byte link-level
// address), Z (six zero bytes), F (FireWire's 8 bytes) or - (none), then its addresses in the order it
// holds them (4:a.b.c.d, or 6 for an IPv6 address). Indexes count from 1; the link-level and IPv6
// addresses are made up from the index, the loopback is of the loopback's type.
std::vector<standin::InterfaceInfo> ReadInterfaceList(const std::string &text);

// The text of the list under "@ key | ..." in tests/data/macos-interfaces.txt; empty when there is none.
std::string MacInterfaceList(const std::string &key);

// A Mac's network interface nodes as tests/data/macos-interface-nodes.txt writes them ("name",
// "name=b", "name=pb", "name=-", separated by blanks), as registry services.
std::vector<standin::Service> MacNetworkNodes(const std::string &text);

// The nodes of the Mac under key in tests/data/macos-interface-nodes.txt; empty for none.
std::string MacNodeList(const std::string &key);

}  // namespace testutil
