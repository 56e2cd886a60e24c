#include "imaging/imaging_init.h"

#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_pixel_format.h"
#include "imaging/pl_tiff_decoder.h"
#include "imaging/pl_tiff_mem_stream.h"

void ImagingInitProcess() {
    PLTIFFInstallHandlers();
    PLPixelFormatRegistryInit();
    PLRegisterFormatDecoder(PLFileTypeTiff, &PLMakeDecoder<PLTIFFDecoder>);
}

void ImagingShutdownProcess() { PLPixelFormatRegistryShutdown(); }
