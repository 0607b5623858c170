/* Stand-in for Apple's IOKitLib.h: the registry calls this code base uses. Registry objects are
 * 32-bit handles; whoever obtains one releases it with IOObjectRelease. */
#ifndef STANDIN_IOKITLIB_H
#define STANDIN_IOKITLIB_H

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOReturn.h>
#include <IOKit/IOTypes.h>

CF_EXTERN_C_BEGIN

CF_EXPORT const mach_port_t kIOMasterPortDefault;

kern_return_t IOMasterPort(mach_port_t bootstrapPort, mach_port_t *masterPort);
/* Create: the result is consumed by IOServiceGetMatchingService(s), or released by the caller. */
CFMutableDictionaryRef IOServiceMatching(const char *name);
/* Consumes one reference to matching. The caller releases the returned service. */
io_service_t IOServiceGetMatchingService(mach_port_t masterPort, CFDictionaryRef matching);
/* Consumes one reference to matching. The caller releases the iterator. */
kern_return_t IOServiceGetMatchingServices(mach_port_t masterPort, CFDictionaryRef matching, io_iterator_t *existing);
/* The caller releases the returned object. */
io_object_t IOIteratorNext(io_iterator_t iterator);
kern_return_t IOObjectRelease(io_object_t object);
kern_return_t IOObjectRetain(io_object_t object);
/* Create: the caller releases the result, or NULL when the entry has no such property. */
CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key, CFAllocatorRef allocator,
                                          IOOptionBits options);

CF_EXTERN_C_END

#endif
