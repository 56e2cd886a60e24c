#include "imaging/imaging_init.h"

#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_bmp.h"
#include "imaging/pl_bmp_decoder.h"
#include "imaging/pl_filter_quantize.h"
#include "imaging/pl_jpeg_decoder.h"
#include "imaging/pl_pixel_format.h"
#include "imaging/pl_psd_decoder.h"
#include "imaging/pl_text_exception.h"
#include "imaging/pl_tga_decoder.h"
#include "imaging/pl_tiff_decoder.h"
#include "imaging/pl_tiff_mem_stream.h"

namespace {

bool isInitialised = false;

}  // namespace

void ImagingInitProcess() {
    PLTIFFInstallHandlers();
    PLPixelFormatRegistryInit();
    PLRegisterFormatDecoder(PLFileTypeBmp, &PLMakeDecoder<PLBmpDecoder>);
    PLRegisterFormatDecoder(PLFileTypeTga, &PLMakeDecoder<PLTGADecoder>);
    PLRegisterFormatDecoder(PLFileTypeTiff, &PLMakeDecoder<PLTIFFDecoder>);
    PLRegisterFormatDecoder(PLFileTypeJpeg, &PLMakeDecoder<PLJPEGDecoder>);
    PLRegisterFormatDecoder(PLFileTypePsd, &PLMakeDecoder<PLPSDDecoder>);
    PLRegisterQuantizer(&PLFilterQuantizeBitmap);
    isInitialised = true;
}

void ImagingShutdownProcess() {
    isInitialised = false;
    PLPixelFormatRegistryShutdown();
}

bool ImagingIsInitialised() { return isInitialised; }

void ImagingRequireInitialised() {
    if (!isInitialised) {
        throw PLTextException(PLErrNotInitialised,
                              "Image library not initialised: ImagingInitProcess has not run.");
    }
}
