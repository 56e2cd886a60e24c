#include "app/process_init.h"

#include "core/core_init.h"
#include "geometry/texture_params_table.h"
#include "imaging/imaging_init.h"
#include "scenefile/object_records.h"
#include "view/texture_preview_scene.h"

void InitProcess() {
    CoreInitProcess();
    ImagingInitProcess();
    GeometryInitProcess();
    ScenefileInitProcess();
    ViewInitProcess();
}

void ShutdownProcess() {
    ImagingShutdownProcess();
    CoreShutdownProcess();
}
