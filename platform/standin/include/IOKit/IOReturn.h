/* Stand-in for Apple's IOReturn.h: the result codes this code base uses. */
#ifndef STANDIN_IORETURN_H
#define STANDIN_IORETURN_H

#include <IOKit/IOTypes.h>

typedef kern_return_t IOReturn;

#define sys_iokit 0xE0000000
#define sub_iokit_common 0x0
#define iokit_common_err(return ) ((IOReturn)(sys_iokit | sub_iokit_common | (return )))

#define kIOReturnSuccess KERN_SUCCESS
#define kIOReturnError iokit_common_err(0x2bc)
#define kIOReturnNoMemory iokit_common_err(0x2bd)
#define kIOReturnNoResources iokit_common_err(0x2be)
#define kIOReturnBadArgument iokit_common_err(0x2c2)
#define kIOReturnNotFound iokit_common_err(0x2f0)
#define kIOReturnInvalid iokit_common_err(0x001)

#endif
