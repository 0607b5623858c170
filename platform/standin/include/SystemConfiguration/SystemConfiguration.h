/* Stand-in for Apple's SystemConfiguration umbrella header: the computer name query. */
#ifndef STANDIN_SYSTEMCONFIGURATION_H
#define STANDIN_SYSTEMCONFIGURATION_H

#include <CoreFoundation/CoreFoundation.h>

CF_EXTERN_C_BEGIN

typedef const struct __SCDynamicStore *SCDynamicStoreRef;

/* Copy: the caller releases the returned name; NULL when the system has none. */
CFStringRef SCDynamicStoreCopyComputerName(SCDynamicStoreRef store, CFStringEncoding *nameEncoding);

CF_EXTERN_C_END

#endif
