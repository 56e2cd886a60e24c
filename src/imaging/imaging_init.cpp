#include "imaging/imaging_init.h"

#include "imaging/pl_pixel_format.h"

void ImagingInitProcess() { PLPixelFormatRegistryInit(); }

void ImagingShutdownProcess() { PLPixelFormatRegistryShutdown(); }
