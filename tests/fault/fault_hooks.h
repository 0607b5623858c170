// Included before every product source of the faulty build (-include): the declarations of the calls
// the product makes, then a macro for each that sends it through its hook (fault_injection.cpp), so
// that the product's own code, unchanged, meets the failures a test injects.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#include <SystemConfiguration/SystemConfiguration.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/interface_list.h"

extern "C" {
FILE *FaultFdopen(int fd, const char *mode);
int FaultFclose(FILE *stream);
int FaultFputs(const char *text, FILE *stream);
int FaultFprintf(FILE *stream, const char *format, ...);
int FaultFflush(FILE *stream);
int FaultFsync(int fd);
int FaultRename(const char *from, const char *to);
int FaultMkstemp(char *path);
int FaultFchmod(int fd, mode_t mode);
int FaultOpen(const char *path, int flags, ...);
int FaultClose(int fd);
ssize_t FaultRead(int fd, void *buffer, size_t size);
ssize_t FaultWrite(int fd, const void *buffer, size_t size);
int FaultFtruncate(int fd, off_t length);
int FaultFstat(int fd, struct stat *info);
int FaultStat(const char *path, struct stat *info);
int FaultLstat(const char *path, struct stat *info);
int FaultFaccessat(int dir, const char *path, int mode, int flags);
ssize_t FaultReadlink(const char *path, char *buffer, size_t size);
int FaultSocket(int domain, int type, int protocol);
void *FaultMalloc(size_t size);
void *FaultCalloc(size_t count, size_t size);
void *FaultRealloc(void *block, size_t size);
int FaultRequestInterfaceList(int socket, void *buffer, int32_t *length);
kern_return_t FaultIOMasterPort(mach_port_t bootstrap, mach_port_t *master);
CFMutableDictionaryRef FaultIOServiceMatching(const char *name);
io_service_t FaultIOServiceGetMatchingService(mach_port_t master, CFDictionaryRef matching);
kern_return_t FaultIOServiceGetMatchingServices(mach_port_t master, CFDictionaryRef matching, io_iterator_t *existing);
CFTypeRef FaultIORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key, CFAllocatorRef allocator,
                                               IOOptionBits options);
CFStringRef FaultSCDynamicStoreCopyComputerName(SCDynamicStoreRef store, CFStringEncoding *encoding);
CFIndex FaultCFStringGetBytes(CFStringRef string, CFRange range, CFStringEncoding encoding, UInt8 lossByte,
                              Boolean external, UInt8 *buffer, CFIndex size, CFIndex *used);
CFStringRef FaultCFStringCreateWithCString(CFAllocatorRef allocator, const char *text, CFStringEncoding encoding);
Boolean FaultCFStringGetCString(CFStringRef string, char *buffer, CFIndex size, CFStringEncoding encoding);
CFURLRef FaultCFURLCreateWithFileSystemPath(CFAllocatorRef allocator, CFStringRef path, CFURLPathStyle style,
                                            Boolean isDirectory);
CFURLRef FaultCFURLCreateFromFileSystemRepresentation(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex length,
                                                      Boolean isDirectory);
CFStringRef FaultCFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle style);
Boolean FaultCFURLCreateDataAndPropertiesFromResource(CFAllocatorRef allocator, CFURLRef url, CFDataRef *data,
                                                      CFDictionaryRef *properties, CFArrayRef desired,
                                                      SInt32 *errorCode);
Boolean FaultCFURLWriteDataAndPropertiesToResource(CFURLRef url, CFDataRef data, CFDictionaryRef properties,
                                                   SInt32 *errorCode);
CFPropertyListRef FaultCFPropertyListCreateFromXMLData(CFAllocatorRef allocator, CFDataRef data, CFOptionFlags options,
                                                       CFStringRef *errorString);
CFDataRef FaultCFPropertyListCreateXMLData(CFAllocatorRef allocator, CFPropertyListRef list);
CFURLRef FaultCFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef name, CFStringRef type, CFStringRef folder);
CFBundleRef FaultCFBundleGetBundleWithIdentifier(CFStringRef identifier);
CFBundleRef FaultCFBundleGetMainBundle(void);
CFDictionaryRef FaultCFBundleGetInfoDictionary(CFBundleRef bundle);
}

#define fdopen(...) FaultFdopen(__VA_ARGS__)
#define fclose(...) FaultFclose(__VA_ARGS__)
#define fputs(...) FaultFputs(__VA_ARGS__)
#define fprintf(...) FaultFprintf(__VA_ARGS__)
#define fflush(...) FaultFflush(__VA_ARGS__)
#define fsync(...) FaultFsync(__VA_ARGS__)
#define rename(...) FaultRename(__VA_ARGS__)
#define mkstemp(...) FaultMkstemp(__VA_ARGS__)
#define fchmod(...) FaultFchmod(__VA_ARGS__)
#define open(...) FaultOpen(__VA_ARGS__)
#define close(...) FaultClose(__VA_ARGS__)
#define read(...) FaultRead(__VA_ARGS__)
#define write(...) FaultWrite(__VA_ARGS__)
#define ftruncate(...) FaultFtruncate(__VA_ARGS__)
#define fstat(...) FaultFstat(__VA_ARGS__)
#define stat(...) FaultStat(__VA_ARGS__)
#define lstat(...) FaultLstat(__VA_ARGS__)
#define faccessat(...) FaultFaccessat(__VA_ARGS__)
#define readlink(...) FaultReadlink(__VA_ARGS__)
#define socket(...) FaultSocket(__VA_ARGS__)
#define malloc(...) FaultMalloc(__VA_ARGS__)
#define calloc(...) FaultCalloc(__VA_ARGS__)
#define realloc(...) FaultRealloc(__VA_ARGS__)
#define RequestInterfaceList(...) FaultRequestInterfaceList(__VA_ARGS__)
#define IOMasterPort(...) FaultIOMasterPort(__VA_ARGS__)
#define IOServiceMatching(...) FaultIOServiceMatching(__VA_ARGS__)
#define IOServiceGetMatchingService(...) FaultIOServiceGetMatchingService(__VA_ARGS__)
#define IOServiceGetMatchingServices(...) FaultIOServiceGetMatchingServices(__VA_ARGS__)
#define IORegistryEntryCreateCFProperty(...) FaultIORegistryEntryCreateCFProperty(__VA_ARGS__)
#define SCDynamicStoreCopyComputerName(...) FaultSCDynamicStoreCopyComputerName(__VA_ARGS__)
#define CFStringGetBytes(...) FaultCFStringGetBytes(__VA_ARGS__)
#define CFStringCreateWithCString(...) FaultCFStringCreateWithCString(__VA_ARGS__)
#define CFStringGetCString(...) FaultCFStringGetCString(__VA_ARGS__)
#define CFURLCreateWithFileSystemPath(...) FaultCFURLCreateWithFileSystemPath(__VA_ARGS__)
#define CFURLCreateFromFileSystemRepresentation(...) FaultCFURLCreateFromFileSystemRepresentation(__VA_ARGS__)
#define CFURLCopyFileSystemPath(...) FaultCFURLCopyFileSystemPath(__VA_ARGS__)
#define CFURLCreateDataAndPropertiesFromResource(...) FaultCFURLCreateDataAndPropertiesFromResource(__VA_ARGS__)
#define CFURLWriteDataAndPropertiesToResource(...) FaultCFURLWriteDataAndPropertiesToResource(__VA_ARGS__)
#define CFPropertyListCreateFromXMLData(...) FaultCFPropertyListCreateFromXMLData(__VA_ARGS__)
#define CFPropertyListCreateXMLData(...) FaultCFPropertyListCreateXMLData(__VA_ARGS__)
#define CFBundleCopyResourceURL(...) FaultCFBundleCopyResourceURL(__VA_ARGS__)
#define CFBundleGetBundleWithIdentifier(...) FaultCFBundleGetBundleWithIdentifier(__VA_ARGS__)
#define CFBundleGetMainBundle(...) FaultCFBundleGetMainBundle(__VA_ARGS__)
#define CFBundleGetInfoDictionary(...) FaultCFBundleGetInfoDictionary(__VA_ARGS__)
