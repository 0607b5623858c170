// The machine's maker as the platform names it: a per-platform call, like the interface list.
#pragma once

#include <stddef.h>

// Copies the maker's name, as raw bytes (not escaped, not trimmed), into buffer (size bytes, NUL
// included) and returns the bytes copied. An unknown maker gives "" and 0. A null buffer or a size of
// 0 leaves everything untouched. The caller owns buffer.
size_t CopyComputerMake(char *buffer, size_t size);
