/* Stand-in for the Mach and I/O Kit base types on hosts without I/O Kit. */
#ifndef STANDIN_IOTYPES_H
#define STANDIN_IOTYPES_H

#include <CoreFoundation/CFBase.h>

CF_EXTERN_C_BEGIN

typedef unsigned int natural_t;
typedef natural_t mach_port_t;
typedef int kern_return_t;
typedef UInt32 IOOptionBits;

typedef mach_port_t io_object_t;
typedef io_object_t io_service_t;
typedef io_object_t io_iterator_t;
typedef io_object_t io_registry_entry_t;
typedef io_object_t io_connect_t;

typedef char io_name_t[128];

#define MACH_PORT_NULL 0
#define IO_OBJECT_NULL ((io_object_t)0)
#define KERN_SUCCESS 0
#define KERN_INVALID_ARGUMENT 4
#define KERN_FAILURE 5

CF_EXTERN_C_END

#endif
