/* Stand-in for Apple's CFData.h: immutable byte buffers. */
#ifndef STANDIN_CFDATA_H
#define STANDIN_CFDATA_H

#include <CoreFoundation/CFBase.h>

CF_EXTERN_C_BEGIN

typedef const struct __CFData *CFDataRef;
typedef struct __CFData *CFMutableDataRef;

CF_EXPORT CFTypeID CFDataGetTypeID(void);
/* Create: the caller releases the result. */
CF_EXPORT CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex length);
CF_EXPORT CFIndex CFDataGetLength(CFDataRef theData);
/* Borrowed: valid while theData lives. */
CF_EXPORT const UInt8 *CFDataGetBytePtr(CFDataRef theData);
CF_EXPORT void CFDataGetBytes(CFDataRef theData, CFRange range, UInt8 *buffer);

CF_EXTERN_C_END

#endif
