// Property checks over arbitrary bytes, one per fuzz target. Each runs the code under test on the
// input and aborts with a message when a property fails. libFuzzer drives them; the test suite
// replays the seed corpora and the kept regression inputs through them.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The captured-text rules at every capacity from 1 to 64.
void CheckCapturedText(const uint8_t *data, size_t size);
// The serial-number data parse.
void CheckSerialNumberData(const uint8_t *data, size_t size);
// The walk over interface request records.
void CheckInterfaceWalk(const uint8_t *data, size_t size);
// Property-list reading from file contents, with nothing left alive.
void CheckPropertyList(const uint8_t *data, size_t size);
// The packed bundle version of a version text, through a bundle, with nothing left alive.
void CheckBundleVersion(const uint8_t *data, size_t size);

struct FuzzCheck {
    const char *name;  // also the folder of its corpus: fuzz/corpus/<name>/
    void (*check)(const uint8_t *data, size_t size);
};

extern const FuzzCheck kFuzzChecks[];
extern const size_t kFuzzCheckCount;
