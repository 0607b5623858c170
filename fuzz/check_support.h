// Shared by the property checks: failing loudly, and the text properties every captured text keeps.
#pragma once

#include <stddef.h>

// Reports the failed property and aborts, so that the fuzzer keeps the input.
[[noreturn]] void FailCheck(const char *check, const char *property, const char *text);

#define CHECK_PROPERTY(check, condition, text)                \
    do {                                                      \
        if (!(condition)) FailCheck(check, #condition, text); \
    } while (0)

// True when text (NUL-terminated) is valid UTF-8 with no byte below 0x20 and no raw XML special: every
// "&" begins one of the five entities.
bool IsCleanEscapedText(const char *text);
