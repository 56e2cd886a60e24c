#include "app/process_init.h"

#include "core/core_init.h"

void InitProcess() { CoreInitProcess(); }

void ShutdownProcess() { CoreShutdownProcess(); }
