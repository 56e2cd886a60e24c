#include "imaging/imaging_init.h"

#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_bmp_decoder.h"
#include "imaging/pl_pixel_format.h"

void ImagingInitProcess() {
    PLPixelFormatRegistryInit();
    PLRegisterFormatDecoder(PLFileTypeBmp, &PLMakeDecoder<PLBmpDecoder>);
}

void ImagingShutdownProcess() { PLPixelFormatRegistryShutdown(); }
