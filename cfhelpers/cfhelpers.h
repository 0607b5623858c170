// Core Foundation helpers: bundle resources, file data by URL or path, property lists, typed
// dictionary values, C strings from CF strings, and packed bundle versions. Create and Copy routines
// hand their results to the caller (CF objects: CFRelease; heap blocks: free); Get routines return
// plain values or borrowed references.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOReturn.h>
#include <stdint.h>

// The POSIX path of a resource of the bundle with the given identifier; type and subdirectory may be
// null. Heap string: the caller frees it. Null when there is no such bundle or resource.
char *CopyBundleResourcePath(CFStringRef bundleIdentifier, CFStringRef resourceName, CFStringRef resourceType,
                             CFStringRef subdirectory);

// The bytes of the file url names as new CF data (the caller releases it), or null.
CFDataRef CreateDataFromURL(CFURLRef url);

// The bytes of the file at path (UTF-8) as new CF data (the caller releases it), or null. With a
// place for the URL: on success the new URL (the caller releases it), on a later failure null; a
// null path leaves the place as it was.
CFDataRef CreateDataFromPath(const char *path, CFURLRef *urlOut);

// A property list read from a file; the caller releases it. Null when the file cannot be read or
// holds no property list. mutability is passed on to Core Foundation.
CFPropertyListRef CreatePropertyListFromPathString(CFStringRef path, CFOptionFlags mutability);
CFPropertyListRef CreatePropertyListFromURL(CFURLRef url, CFOptionFlags mutability);
CFPropertyListRef CreatePropertyListFromPath(const char *path, CFOptionFlags mutability);

// Writes propertyList as XML to the file url names. 0, kIOReturnBadArgument, or the error code of the
// failed write (kIOReturnError when the write failed without one). Nothing is handed to the caller.
IOReturn WritePropertyListToURL(CFPropertyListRef propertyList, CFURLRef url);
// The same for a path given as length bytes; kIOReturnInvalid when no URL can be made of them.
IOReturn WritePropertyListToPath(CFPropertyListRef propertyList, const UInt8 *pathBytes, CFIndex length);

// The value for key when it has the given type; borrowed from the dictionary. Null otherwise.
CFTypeRef GetDictionaryValueOfType(CFDictionaryRef dictionary, CFTypeID type, CFStringRef key);

// The UTF-8 form of string as a heap string that the caller frees; null for null, empty or failure.
char *CreateCStringFromCFString(CFStringRef string);

// Converts an array of CF strings into a null-terminated list of heap strings. *listOut and *sizeOut
// (bytes: 8 per element and 8 for the terminator) go to the caller, who gives them back with
// FreeCStringList and then frees the list block. On failure *listOut is null and *sizeOut 0.
IOReturn CreateCStringList(CFArrayRef array, char ***listOut, uint64_t *sizeOut);

// Frees the strings of a list from CreateCStringList, up to its null slot; not the list block.
IOReturn FreeCStringList(char **list, uint64_t size);

// The bundle's version ("CFBundleVersion") packed as up to four numbers, 8 bits apart from bit 24
// down; 0 on any failure.
uint32_t GetBundleVersion(CFBundleRef bundle);
// The same for the bundle with the identifier, or the main bundle for a null identifier.
uint32_t GetBundleVersionByIdentifier(CFStringRef bundleIdentifier);

// Packs the numbers of a version text as GetBundleVersion does ("1.2.3.4" gives 0x01020304; a first
// word that is not a number is skipped); 0 when there is none.
uint32_t PackVersionText(const char *text);
