#include "core/core_init.h"

#include "core/private_heap.h"

void CoreInitProcess() { PrivateHeapCreate(); }

void CoreShutdownProcess() { PrivateHeapDestroy(); }
