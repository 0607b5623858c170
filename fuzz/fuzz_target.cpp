// The libFuzzer entry of one fuzz target; MACHINEINFO_FUZZ_CHECK names its property check.
#include <stddef.h>
#include <stdint.h>

#include "checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    MACHINEINFO_FUZZ_CHECK(data, size);
    return 0;
}
