// The hooks of the faulty product build: each counts the call and either fails it as the platform
// fails it or passes it on to the real call. Built without the hooks' macros, so the names below are
// the real calls.
#include "fault/fault_injection.h"

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#include <SystemConfiguration/SystemConfiguration.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/interface_list.h"

namespace fault {
namespace {

long gCountdown = 0;  // calls left before the failing one; 0: disarmed
int gError = 0;
bool gPersistent = false;  // the hook that failed fails from then on
const char *gFiredAt = nullptr;
long gFiredOccurrence = 0;
// Calls of each name since FailNth (fixed room: the hooks allocate nothing the leak check would see).
struct Count {
    const char *call;
    long calls;
};
Count gCounts[64];
int gCountsUsed = 0;

long CountCall(const char *call) {
    for (int i = 0; i < gCountsUsed; ++i) {
        if (strcmp(gCounts[i].call, call) == 0) return ++gCounts[i].calls;
    }
    if (gCountsUsed == 64) return 0;
    gCounts[gCountsUsed++] = {call, 1};
    return 1;
}

}  // namespace

void FailNth(long nth, int error, bool persistent) {
    gCountdown = nth;
    gError = error;
    gPersistent = persistent;
    gFiredAt = nullptr;
    gFiredOccurrence = 0;
    gCountsUsed = 0;
}

namespace {

const char *gRefused = nullptr;  // the hook that fails every call, with gRefusedError
int gRefusedError = 0;

}  // namespace

void RefuseEvery(const char *call, int error) {
    gRefused = call;
    gRefusedError = error;
}

bool Fired() { return gFiredAt != nullptr; }
const char *FiredAt() { return gFiredAt != nullptr ? gFiredAt : ""; }
long FiredOccurrence() { return gFiredOccurrence; }

namespace {

long gUnlinkedCountdown = 0;
long gUnlinkedTimes = 0;  // looks left to report unlinked once the countdown reached them
nlink_t gReportedLinks = 0;
bool gReportedUnlinked = false;

}  // namespace

void ReportUnlinkedNth(long nth, long times, unsigned links) {
    gReportedLinks = links;
    gUnlinkedCountdown = nth;
    gUnlinkedTimes = nth > 0 ? times : 0;
    gReportedUnlinked = false;
}

bool ReportedUnlinked() { return gReportedUnlinked; }

char gFolderOpened[4096];  // no heap: it outlives the tests
void NoteFolderOpened(const char *path) { snprintf(gFolderOpened, sizeof gFolderOpened, "%s", path ? path : ""); }
const char *LastFolderOpened() { return gFolderOpened; }

// For the stat hooks: a successful look at a file shows no link left when this is the chosen one.
int Looked(int result, struct stat *info) {
    if (gUnlinkedCountdown > 1) {
        --gUnlinkedCountdown;
        return result;
    }
    if (gUnlinkedTimes <= 0) return result;
    gUnlinkedCountdown = 0;
    --gUnlinkedTimes;
    gReportedUnlinked = true;
    if (result == 0) info->st_nlink = gReportedLinks;
    return result;
}

bool Hit(const char *call) {
    if (gRefused != nullptr && strcmp(call, gRefused) == 0) {
        errno = gRefusedError;
        return true;
    }
    if (gPersistent && gFiredAt != nullptr && strcmp(call, gFiredAt) == 0) {
        errno = gError;
        return true;
    }
    if (gCountdown <= 0) return false;
    const long occurrence = CountCall(call);
    if (--gCountdown != 0) return false;
    gFiredAt = call;
    gFiredOccurrence = occurrence;
    errno = gError;
    return true;
}

}  // namespace fault

using fault::Hit;
using fault::Looked;

extern "C" {

FILE *FaultFdopen(int fd, const char *mode) { return Hit("fdopen") ? nullptr : fdopen(fd, mode); }
// The stream is closed all the same: a failed close still releases it.
int FaultFclose(FILE *stream) {
    const bool fails = Hit("fclose");
    const int error = errno;
    const int result = fclose(stream);
    if (!fails) return result;
    errno = error;
    return EOF;
}
int FaultFputs(const char *text, FILE *stream) { return Hit("fputs") ? EOF : fputs(text, stream); }
int FaultFprintf(FILE *stream, const char *format, ...) {
    if (Hit("fprintf")) return -1;
    va_list arguments;
    va_start(arguments, format);
    const int result = vfprintf(stream, format, arguments);
    va_end(arguments);
    return result;
}
int FaultFflush(FILE *stream) { return Hit("fflush") ? EOF : fflush(stream); }
int FaultFsync(int fd) { return Hit("fsync") ? -1 : fsync(fd); }
int FaultRename(const char *from, const char *to) { return Hit("rename") ? -1 : rename(from, to); }
int FaultMkstemp(char *path) { return Hit("mkstemp") ? -1 : mkstemp(path); }
int FaultFchmod(int fd, mode_t mode) { return Hit("fchmod") ? -1 : fchmod(fd, mode); }
int FaultOpen(const char *path, int flags, ...) {
    if (flags & O_DIRECTORY) fault::NoteFolderOpened(path);
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, int));
        va_end(arguments);
    }
    return Hit("open") ? -1 : open(path, flags, mode);
}
// The descriptor is closed all the same, as close does on Linux whatever it reports.
int FaultClose(int fd) {
    const bool fails = Hit("close");
    const int error = errno;
    const int result = close(fd);
    if (!fails) return result;
    errno = error;
    return -1;
}
ssize_t FaultRead(int fd, void *buffer, size_t size) { return Hit("read") ? -1 : read(fd, buffer, size); }
ssize_t FaultWrite(int fd, const void *buffer, size_t size) { return Hit("write") ? -1 : write(fd, buffer, size); }
int FaultFtruncate(int fd, off_t length) { return Hit("ftruncate") ? -1 : ftruncate(fd, length); }
int FaultFstat(int fd, struct stat *info) { return Hit("fstat") ? -1 : Looked(fstat(fd, info), info); }
int FaultStat(const char *path, struct stat *info) { return Hit("stat") ? -1 : Looked(stat(path, info), info); }
int FaultLstat(const char *path, struct stat *info) { return Hit("lstat") ? -1 : Looked(lstat(path, info), info); }
int FaultFaccessat(int dir, const char *path, int mode, int flags) {
    return Hit("faccessat") ? -1 : faccessat(dir, path, mode, flags);
}
ssize_t FaultReadlink(const char *path, char *buffer, size_t size) {
    return Hit("readlink") ? -1 : readlink(path, buffer, size);
}
int FaultSocket(int domain, int type, int protocol) { return Hit("socket") ? -1 : socket(domain, type, protocol); }
void *FaultMalloc(size_t size) { return Hit("malloc") ? nullptr : malloc(size); }
void *FaultCalloc(size_t count, size_t size) { return Hit("calloc") ? nullptr : calloc(count, size); }
void *FaultRealloc(void *block, size_t size) { return Hit("realloc") ? nullptr : realloc(block, size); }
int FaultRequestInterfaceList(int socket, void *buffer, int32_t *length) {
    return Hit("RequestInterfaceList") ? -1 : RequestInterfaceList(socket, buffer, length);
}

kern_return_t FaultIOMasterPort(mach_port_t bootstrap, mach_port_t *master) {
    return Hit("IOMasterPort") ? KERN_FAILURE : IOMasterPort(bootstrap, master);
}
CFMutableDictionaryRef FaultIOServiceMatching(const char *name) {
    return Hit("IOServiceMatching") ? nullptr : IOServiceMatching(name);
}
// The lookups consume the matching dictionary, whether they find anything or fail.
io_service_t FaultIOServiceGetMatchingService(mach_port_t master, CFDictionaryRef matching) {
    if (!Hit("IOServiceGetMatchingService")) return IOServiceGetMatchingService(master, matching);
    if (matching != nullptr) CFRelease(matching);
    return 0;
}
kern_return_t FaultIOServiceGetMatchingServices(mach_port_t master, CFDictionaryRef matching, io_iterator_t *existing) {
    if (!Hit("IOServiceGetMatchingServices")) return IOServiceGetMatchingServices(master, matching, existing);
    if (matching != nullptr) CFRelease(matching);
    return kIOReturnNoMemory;
}
CFTypeRef FaultIORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key, CFAllocatorRef allocator,
                                               IOOptionBits options) {
    return Hit("IORegistryEntryCreateCFProperty") ? nullptr
                                                  : IORegistryEntryCreateCFProperty(entry, key, allocator, options);
}
CFStringRef FaultSCDynamicStoreCopyComputerName(SCDynamicStoreRef store, CFStringEncoding *encoding) {
    return Hit("SCDynamicStoreCopyComputerName") ? nullptr : SCDynamicStoreCopyComputerName(store, encoding);
}
// Nothing converted, as when no character fits.
CFIndex FaultCFStringGetBytes(CFStringRef string, CFRange range, CFStringEncoding encoding, UInt8 lossByte,
                              Boolean external, UInt8 *buffer, CFIndex size, CFIndex *used) {
    if (!Hit("CFStringGetBytes")) {
        return CFStringGetBytes(string, range, encoding, lossByte, external, buffer, size, used);
    }
    if (used != nullptr) *used = 0;
    return 0;
}
CFStringRef FaultCFStringCreateWithCString(CFAllocatorRef allocator, const char *text, CFStringEncoding encoding) {
    return Hit("CFStringCreateWithCString") ? nullptr : CFStringCreateWithCString(allocator, text, encoding);
}
Boolean FaultCFStringGetCString(CFStringRef string, char *buffer, CFIndex size, CFStringEncoding encoding) {
    return Hit("CFStringGetCString") ? false : CFStringGetCString(string, buffer, size, encoding);
}
CFURLRef FaultCFURLCreateWithFileSystemPath(CFAllocatorRef allocator, CFStringRef path, CFURLPathStyle style,
                                            Boolean isDirectory) {
    return Hit("CFURLCreateWithFileSystemPath") ? nullptr
                                                : CFURLCreateWithFileSystemPath(allocator, path, style, isDirectory);
}
CFURLRef FaultCFURLCreateFromFileSystemRepresentation(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex length,
                                                      Boolean isDirectory) {
    return Hit("CFURLCreateFromFileSystemRepresentation")
               ? nullptr
               : CFURLCreateFromFileSystemRepresentation(allocator, bytes, length, isDirectory);
}
CFStringRef FaultCFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle style) {
    return Hit("CFURLCopyFileSystemPath") ? nullptr : CFURLCopyFileSystemPath(url, style);
}
Boolean FaultCFURLCreateDataAndPropertiesFromResource(CFAllocatorRef allocator, CFURLRef url, CFDataRef *data,
                                                      CFDictionaryRef *properties, CFArrayRef desired,
                                                      SInt32 *errorCode) {
    if (!Hit("CFURLCreateDataAndPropertiesFromResource")) {
        return CFURLCreateDataAndPropertiesFromResource(allocator, url, data, properties, desired, errorCode);
    }
    if (errorCode != nullptr) *errorCode = kCFURLUnknownError;
    return false;
}
Boolean FaultCFURLWriteDataAndPropertiesToResource(CFURLRef url, CFDataRef data, CFDictionaryRef properties,
                                                   SInt32 *errorCode) {
    if (!Hit("CFURLWriteDataAndPropertiesToResource")) {
        return CFURLWriteDataAndPropertiesToResource(url, data, properties, errorCode);
    }
    if (errorCode != nullptr) *errorCode = kCFURLResourceAccessViolationError;
    return false;
}
// A refused parse hands back an error text when asked for one, as Core Foundation does.
CFPropertyListRef FaultCFPropertyListCreateFromXMLData(CFAllocatorRef allocator, CFDataRef data, CFOptionFlags options,
                                                       CFStringRef *errorString) {
    if (!Hit("CFPropertyListCreateFromXMLData")) {
        return CFPropertyListCreateFromXMLData(allocator, data, options, errorString);
    }
    if (errorString != nullptr) *errorString = CFStringCreateWithCString(allocator, "injected", kCFStringEncodingUTF8);
    return nullptr;
}
CFDataRef FaultCFPropertyListCreateXMLData(CFAllocatorRef allocator, CFPropertyListRef list) {
    return Hit("CFPropertyListCreateXMLData") ? nullptr : CFPropertyListCreateXMLData(allocator, list);
}
CFURLRef FaultCFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef name, CFStringRef type, CFStringRef folder) {
    return Hit("CFBundleCopyResourceURL") ? nullptr : CFBundleCopyResourceURL(bundle, name, type, folder);
}
CFBundleRef FaultCFBundleGetBundleWithIdentifier(CFStringRef identifier) {
    return Hit("CFBundleGetBundleWithIdentifier") ? nullptr : CFBundleGetBundleWithIdentifier(identifier);
}
CFBundleRef FaultCFBundleGetMainBundle(void) {
    return Hit("CFBundleGetMainBundle") ? nullptr : CFBundleGetMainBundle();
}
CFDictionaryRef FaultCFBundleGetInfoDictionary(CFBundleRef bundle) {
    return Hit("CFBundleGetInfoDictionary") ? nullptr : CFBundleGetInfoDictionary(bundle);
}

}  // extern "C"
