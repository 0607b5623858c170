/* Stand-in for Apple's CFURLAccess.h: reading and writing the resource a file URL names. */
#ifndef STANDIN_CFURLACCESS_H
#define STANDIN_CFURLACCESS_H

#include <CoreFoundation/CFArray.h>
#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFData.h>
#include <CoreFoundation/CFDictionary.h>
#include <CoreFoundation/CFURL.h>

CF_EXTERN_C_BEGIN

typedef CF_ENUM(CFIndex, CFURLError) {
    kCFURLUnknownError = -10,
    kCFURLUnknownSchemeError = -11,
    kCFURLResourceNotFoundError = -12,
    kCFURLResourceAccessViolationError = -13,
    kCFURLRemoteHostUnavailableError = -14,
    kCFURLImproperArgumentsError = -15,
    kCFURLUnknownPropertyKeyError = -16,
    kCFURLPropertyKeyUnavailableError = -17,
    kCFURLTimeoutError = -18
};

/* On success *resourceData is a new CF data that the caller releases. */
CF_EXPORT Boolean CFURLCreateDataAndPropertiesFromResource(CFAllocatorRef alloc, CFURLRef url, CFDataRef *resourceData,
                                                           CFDictionaryRef *properties, CFArrayRef desiredProperties,
                                                           SInt32 *errorCode);
CF_EXPORT Boolean CFURLWriteDataAndPropertiesToResource(CFURLRef url, CFDataRef dataToWrite,
                                                        CFDictionaryRef propertiesToWrite, SInt32 *errorCode);

CF_EXTERN_C_END

#endif
