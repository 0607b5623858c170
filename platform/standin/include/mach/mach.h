/* Stand-in for the Mach port calls this code base uses: deallocating a port right. */
#ifndef STANDIN_MACH_H
#define STANDIN_MACH_H

#include <IOKit/IOTypes.h>

CF_EXTERN_C_BEGIN

typedef natural_t mach_port_name_t;
typedef mach_port_t ipc_space_t;

extern mach_port_t mach_task_self_;
#define mach_task_self() mach_task_self_

kern_return_t mach_port_deallocate(ipc_space_t task, mach_port_name_t name);

CF_EXTERN_C_END

#endif
