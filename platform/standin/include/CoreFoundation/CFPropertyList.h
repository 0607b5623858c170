/* Stand-in for Apple's CFPropertyList.h: property lists from and to their XML (or binary) form. */
#ifndef STANDIN_CFPROPERTYLIST_H
#define STANDIN_CFPROPERTYLIST_H

#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFData.h>
#include <CoreFoundation/CFString.h>

CF_EXTERN_C_BEGIN

typedef CF_OPTIONS(CFOptionFlags, CFPropertyListMutabilityOptions) {
    kCFPropertyListImmutable = 0,
    kCFPropertyListMutableContainers = 1 << 0,
    kCFPropertyListMutableContainersAndLeaves = 1 << 1
};

/* Create: the caller releases the result. NULL when xmlData holds no property list; then
 * *errorString (if given) is a new string that the caller releases. */
CF_EXPORT CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef allocator, CFDataRef xmlData,
                                                            CFOptionFlags mutabilityOption, CFStringRef *errorString);
/* Create: the caller releases the result; NULL for an object that is no property list. */
CF_EXPORT CFDataRef CFPropertyListCreateXMLData(CFAllocatorRef allocator, CFPropertyListRef propertyList);

CF_EXTERN_C_END

#endif
