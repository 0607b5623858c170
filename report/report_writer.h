// The tool's one driver: chooses the destination, writes the document around the capture pass.
#pragma once

#include <stdint.h>

enum { kStatusWritten = 0, kStatusNotWritten = 2 };

// Writes the inventory document to argv[1] ("-..." for standard output), or to the default path when
// argc is below 2. Returns 0 when the whole document was written, 2 when the destination could not be
// opened or written.
int32_t WriteReport(int argc, char **argv);
