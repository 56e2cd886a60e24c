#include "imaging/imaging_init.h"

#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_jpeg_decoder.h"
#include "imaging/pl_pixel_format.h"

void ImagingInitProcess() {
    PLPixelFormatRegistryInit();
    PLRegisterFormatDecoder(PLFileTypeJpeg, &PLMakeDecoder<PLJPEGDecoder>);
}

void ImagingShutdownProcess() { PLPixelFormatRegistryShutdown(); }
