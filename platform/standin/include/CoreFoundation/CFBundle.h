/* Stand-in for Apple's CFBundle.h: bundles, their information dictionaries and resources. */
#ifndef STANDIN_CFBUNDLE_H
#define STANDIN_CFBUNDLE_H

#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFDictionary.h>
#include <CoreFoundation/CFString.h>
#include <CoreFoundation/CFURL.h>

CF_EXTERN_C_BEGIN

typedef struct __CFBundle *CFBundleRef;

CF_EXPORT const CFStringRef kCFBundleInfoDictionaryVersionKey;
CF_EXPORT const CFStringRef kCFBundleExecutableKey;
CF_EXPORT const CFStringRef kCFBundleIdentifierKey;
CF_EXPORT const CFStringRef kCFBundleVersionKey;
CF_EXPORT const CFStringRef kCFBundleNameKey;

CF_EXPORT CFTypeID CFBundleGetTypeID(void);
/* Create: the caller releases the result; NULL when bundleURL names no folder. */
CF_EXPORT CFBundleRef CFBundleCreate(CFAllocatorRef allocator, CFURLRef bundleURL);
/* Borrowed: a bundle created before and still alive, or NULL. */
CF_EXPORT CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID);
/* Borrowed: lives as long as the process. */
CF_EXPORT CFBundleRef CFBundleGetMainBundle(void);
/* Borrowed: the bundle's own dictionary. */
CF_EXPORT CFDictionaryRef CFBundleGetInfoDictionary(CFBundleRef bundle);
/* Copy: the caller releases the result, or NULL when there is no such resource. */
CF_EXPORT CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName, CFStringRef resourceType,
                                           CFStringRef subDirName);

CF_EXTERN_C_END

#endif
