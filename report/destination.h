// Where the document goes: standard output, or a file. A file is opened as writing it in place would
// be, and replaced whole through a temporary file and a rename wherever that cannot be told apart
// (a new file, or the runner's own with one link), so that a failed run leaves the earlier document.
#pragma once

#include <limits.h>
#include <stdio.h>

enum { kDestinationPathSize = PATH_MAX };

struct Destination {
    FILE *stream;  // owned until FinishDestination
    bool toStandardOutput;
    bool replaceByRename;  // tempPath is renamed over finalPath on success
    bool createdInPlace;   // finalPath was made by this run and is written in place: removed on failure
    char finalPath[kDestinationPathSize];
    char tempPath[kDestinationPathSize];
};

extern const char kDefaultDestination[];

// Opens the destination for name, or the default path when name is null. A name that begins with "-"
// means standard output. Returns false, with nothing created, when it cannot be opened, including an
// existing file the caller may not write.
bool OpenDestination(Destination *destination, const char *name);

// Closes the stream and, for a file written aside, renames it into place. writes_ok false (or any
// stream error or failed close) removes the temporary file and leaves the earlier file as it was.
// Returns true when the whole document reached its destination.
bool FinishDestination(Destination *destination, bool writes_ok);
