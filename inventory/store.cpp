// The one machine information store of the process.
#include "inventory/store.h"

MachineInfoStore gStore;
