#include "app/process_init.h"

#include "core/core_init.h"
#include "imaging/imaging_init.h"
#include "scenefile/object_records.h"

void InitProcess() {
    CoreInitProcess();
    ImagingInitProcess();
    ScenefileInitProcess();
}

void ShutdownProcess() {
    ImagingShutdownProcess();
    CoreShutdownProcess();
}
