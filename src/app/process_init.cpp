#include "app/process_init.h"

#include "core/core_init.h"
#include "imaging/imaging_init.h"

void InitProcess() {
    CoreInitProcess();
    ImagingInitProcess();
}

void ShutdownProcess() {
    ImagingShutdownProcess();
    CoreShutdownProcess();
}
