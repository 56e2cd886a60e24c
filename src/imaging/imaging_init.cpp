#include "imaging/imaging_init.h"

#include "imaging/pl_any_pic_decoder.h"
#include "imaging/pl_bmp.h"
#include "imaging/pl_bmp_decoder.h"
#include "imaging/pl_filter_quantize.h"
#include "imaging/pl_pixel_format.h"
#include "imaging/pl_psd_decoder.h"
#include "imaging/pl_tga_decoder.h"
#include "imaging/pl_tiff_decoder.h"
#include "imaging/pl_tiff_mem_stream.h"

void ImagingInitProcess() {
    PLTIFFInstallHandlers();
    PLPixelFormatRegistryInit();
    PLRegisterFormatDecoder(PLFileTypeBmp, &PLMakeDecoder<PLBmpDecoder>);
    PLRegisterFormatDecoder(PLFileTypeTga, &PLMakeDecoder<PLTGADecoder>);
    PLRegisterFormatDecoder(PLFileTypeTiff, &PLMakeDecoder<PLTIFFDecoder>);
    PLRegisterFormatDecoder(PLFileTypePsd, &PLMakeDecoder<PLPSDDecoder>);
    PLRegisterQuantizer(&PLFilterQuantizeBitmap);
}

void ImagingShutdownProcess() { PLPixelFormatRegistryShutdown(); }
