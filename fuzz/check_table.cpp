// The property checks by name.
#include "checks.h"

const FuzzCheck kFuzzChecks[] = {
    {"captured_text", CheckCapturedText},   {"serial_number", CheckSerialNumberData},
    {"interface_walk", CheckInterfaceWalk}, {"property_list", CheckPropertyList},
    {"bundle_version", CheckBundleVersion},
};
const size_t kFuzzCheckCount = sizeof kFuzzChecks / sizeof kFuzzChecks[0];
