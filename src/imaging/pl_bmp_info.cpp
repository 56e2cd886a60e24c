#include "imaging/pl_bmp_info.h"

PLBmpInfo::PLBmpInfo(PLPoint size, PLPoint dotsPerInch, const PLPixelFormat& format)
    : imageWidth(size.x), imageHeight(size.y), imageResolution(dotsPerInch), imagePixelFormat(format) {}

void PLBmpInfo::SetInfo(PLPoint size, PLPoint dotsPerInch, const PLPixelFormat& format) {
    imageWidth = size.x;
    imageHeight = size.y;
    imageResolution = dotsPerInch;
    imagePixelFormat = format;
}

void PLBmpInfo::AssignInfo(const PLBmpInfo& other) {
    SetInfo(other.GetSize(), other.GetResolution(), other.GetPixelFormat());
}
