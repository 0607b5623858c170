// Real Macs' I/O Kit registries as `ioreg -lw0` prints them, read into the stand-in's registry model:
// the tests run the collectors on the registry a real Mac had.
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

}  // namespace testutil
