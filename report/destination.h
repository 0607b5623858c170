// Where the document goes: standard output, or a file replaced whole through a temporary file and a
// rename, so that a failed run never leaves a partial document in place of the earlier one.
#pragma once

#include <limits.h>
#include <stdio.h>

enum { kDestinationPathSize = PATH_MAX };

struct Destination {
    FILE *stream;  // owned until FinishDestination
    bool toStandardOutput;
    bool replaceByRename;  // tempPath is renamed over finalPath on success
    char finalPath[kDestinationPathSize];
    char tempPath[kDestinationPathSize];
};

extern const char kDefaultDestination[];

// Opens the destination for name, or the default path when name is null. A name that begins with "-"
// means standard output. Returns false, with nothing created, when it cannot be opened.
bool OpenDestination(Destination *destination, const char *name);

// Closes the stream and, for a file written aside, renames it into place. writes_ok false (or any
// stream error or failed close) removes the temporary file and leaves the earlier file as it was.
// Returns true when the whole document reached its destination.
bool FinishDestination(Destination *destination, bool writes_ok);
