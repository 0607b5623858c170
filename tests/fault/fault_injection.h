// Fault simulation for the tests: the product built for them (the "faulty" libraries) calls every
// seam function and system call it uses through a hook, and a test can make the Nth hooked call from
// now fail as the platform fails it (NULL, an error code, or -1 with a chosen errno).
#pragma once

namespace fault {

// Arms the injector: the nth hooked call from now (counted from 1) fails, with error as errno where
// the call reports one; when persistent, every later call of the same hook fails too, as a resource
// that is gone (memory, descriptors, a broken file system) stays gone. 0 disarms it; hooked calls then
// pass through.
void FailNth(long nth, int error, bool persistent = false);

// Whether the armed failure was injected, into which call (a name such as "rename"), and the how-manieth
// call of that name since FailNth it was (counted from 1).
bool Fired();
const char *FiredAt();
long FiredOccurrence();

// Makes every call of the named hook fail with error, as a mount point refuses every rename over it
// (EBUSY), apart from the armed failure, which counts the other calls. nullptr stops it.
void RefuseEvery(const char *call, int error);

// Arms the other kind of fault: the nth stat, lstat or fstat call from now, and the times - 1 after it,
// succeed but report no link left, as a file that other processes replaced while it was looked at (or
// links links, as one whose other links they removed). 0 disarms it.
void ReportUnlinkedNth(long nth, long times = 1, unsigned links = 0);
// Whether that happened (and so whether the nth such call was made).
bool ReportedUnlinked();

// The last folder opened (O_DIRECTORY) through the open hook, as the run named it.
const char *LastFolderOpened();
void NoteFolderOpened(const char *path);

// Called by each hook: true when this call is to fail (errno is set then).
bool Hit(const char *call);

}  // namespace fault
