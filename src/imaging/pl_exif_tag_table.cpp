#include "imaging/pl_exif_tag_table.h"

#include "core/check.h"

namespace {

using F = PLExifFormatter;
using Names = std::span<const PLExifValueName>;

constexpr PLExifTagInfo Plain(std::uint16_t tag, const char* key, const char* description) {
    return {tag, key, description, F::None, nullptr, false, {}};
}

constexpr PLExifTagInfo Named(std::uint16_t tag, const char* key, const char* description,
                              Names names) {
    return {tag, key, description, F::None, nullptr, false, names};
}

constexpr PLExifTagInfo Formatted(std::uint16_t tag, const char* key, const char* description,
                                  F formatter, const char* unit = nullptr) {
    return {tag, key, description, formatter, unit, false, {}};
}

constexpr PLExifTagInfo WithUnit(std::uint16_t tag, const char* key, const char* description,
                                 const char* unit) {
    return {tag, key, description, F::None, unit, false, {}};
}

constexpr PLExifTagInfo Capitalised(std::uint16_t tag, const char* key, const char* description) {
    return {tag, key, description, F::None, nullptr, true, {}};
}

// Value names of the main directory and the Exif sub-directory.
constexpr PLExifValueName ResUnitNames[] = {{1, "no-unit"}, {2, "inch"}, {3, "cm"}};
constexpr PLExifValueName ProgNames[] = {
    {1, "Manual"}, {2, "Program"}, {3, "Aperture priority"}, {4, "Shutter priority"},
    {5, "Slow"},   {6, "Action"},  {7, "Portrait"},          {8, "Landscape"}};
constexpr PLExifValueName BppNames[] = {{1, "Basic"}, {2, "Normal"}, {3, "Fine"}, {4, "Fine"}};
constexpr PLExifValueName MeterNames[] = {{0, "Unknown"}, {1, "Average"},    {2, "Center weighted"},
                                          {3, "Spot"},    {4, "Multi-spot"}, {5, "Multi-segment"},
                                          {6, "Partial"}, {255, "Other"}};
constexpr PLExifValueName LightsNames[] = {{0, "Unknown/cloudy"},
                                           {1, "Daylight"},
                                           {2, "Fluorescent"},
                                           {3, "Tungsten"},
                                           {10, "Flash"},
                                           {17, "Standard light A"},
                                           {18, "Standard light B"},
                                           {19, "Standard light C"},
                                           {20, "D55"},
                                           {21, "D65"},
                                           {22, "D75"}};
constexpr PLExifValueName FlashNames[] = {
    {0, "No"},  {1, "Yes"},       {5, "Yes, no return detect"}, {7, "Yes, return detected"},
    {9, "Yes"}, {16, "No forced"}};
constexpr PLExifValueName ColorSpaceNames[] = {{1, "sRGB"}, {65535, "Uncalibrated"}};
constexpr PLExifValueName FPResUnitNames[] = {
    {1, "inch"}, {2, "inch"}, {3, "centimeter"}, {4, "milimemeter"}, {5, "micrometer"}};
constexpr PLExifValueName SenseMethodNames[] = {{2, "1 chip color area"}};
constexpr PLExifValueName FileSourceNames[] = {{3, "Digital still camera"}};
constexpr PLExifValueName SceneTypeNames[] = {{1, "Directly photographed"}};

// Nikon, with the "Nikon" header.
constexpr PLExifValueName Nikon2QualityNames[] = {
    {1, "VGA Basic"},   {2, "VGA Normal"}, {3, "VGA Fine"},   {4, "SXGA Basic"},
    {5, "SXGA Normal"}, {6, "SXGA Fine"},  {12, "UXGA Fine"}, {20, "HI (Uncompressed)"}};
constexpr PLExifValueName Nikon2ColorNames[] = {{1, "Colour"}, {2, "Monochrome"}};
constexpr PLExifValueName Nikon2ImgAdjustNames[] = {
    {0, "Normal"}, {1, "Bright+"}, {2, "Bright-"}, {3, "Contrast+"}, {4, "Contrast-"}};
constexpr PLExifValueName Nikon2CCDSensNames[] = {{0, "80"}, {2, "160"}, {4, "320"}, {5, "100"}};
constexpr PLExifValueName Nikon2WhiteBalNames[] = {
    {0, "Auto"},        {1, "Preset"}, {2, "Daylight"},  {3, "Incandescent"},
    {4, "Flourescent"}, {5, "Cloudy"}, {6, "SpeedLight"}};
constexpr PLExifValueName Nikon2ConverterNames[] = {{0, "None"}, {1, "Fisheye"}};

// Olympus.
constexpr PLExifValueName OlyQualityNames[] = {{1, "SQ"}, {2, "HQ"}, {3, "SHQ"}};
constexpr PLExifValueName OlyMacroNames[] = {{0, "Normal"}, {1, "Macro"}};
constexpr PLExifValueName OlyFlashNames[] = {{0, "On"}, {1, "Red-eye"}, {2, "Fill"}, {2, "Off"}};
constexpr PLExifValueName OlySharpNames[] = {{0, "Normal"}, {1, "Hard"}, {2, "Soft"}};

// Canon settings arrays.
constexpr PLExifValueName CanonMacroNames[] = {{1, "Macro"}, {2, "Off"}};
constexpr PLExifValueName CanonFlashNames[] = {
    {0, "Off"},  {1, "Auto"},           {2, "On"},           {3, "Red-eye"},
    {4, "Slow"}, {5, "Auto + red-eye"}, {6, "On + red-eye"}, {16, "External"}};
constexpr PLExifValueName CanonDriveNames[] = {{0, "Single/self timer"}, {1, "Continuous"}};
constexpr PLExifValueName CanonFocusNames[] = {{0, "One-shot"}, {1, "AI servo"}, {2, "AI Focus"},
                                               {3, "Manual"},   {4, "Single"},   {5, "Continuous"},
                                               {6, "Manual"}};
constexpr PLExifValueName CanonImgSizeNames[] = {{0, "Large"}, {1, "Medium"}, {2, "Small"}};
constexpr PLExifValueName CanonShootNames[] = {
    {0, "Full auto"},    {1, "Manual"}, {2, "Landscape"}, {3, "Fast shutter"},
    {4, "Slow shutter"}, {5, "Night"},  {6, "B & W"},     {7, "Sepia"},
    {8, "Portrait"},     {9, "Sports"}, {10, "Macro"},    {11, "Pan Focus"}};
constexpr PLExifValueName CanonLevelNames[] = {{65535, "Low"}, {0, "Normal"}, {1, "High"}};
constexpr PLExifValueName CanonISONames[] = {{0, "Not supplied use EXIF tag"},
                                             {15, "Auto"},
                                             {16, "50"},
                                             {17, "100"},
                                             {18, "200"},
                                             {19, "400"}};
constexpr PLExifValueName CanonMeteringNames[] = {
    {3, "Evaluative"}, {4, "Partial"}, {5, "Center-weighted"}};
constexpr PLExifValueName CanonAFPointNames[] = {
    {12288, "MF"}, {12289, "Auto selected"}, {12290, "Right"}, {12291, "Center"}, {12292, "Left"}};
constexpr PLExifValueName CanonWhiteBalNames[] = {
    {0, "Auto"},        {1, "Sunny"}, {2, "Cloudy"}, {3, "Tungsten"},
    {4, "Flourescent"}, {5, "Flash"}, {6, "Custom"}};
constexpr PLExifValueName CanonFlashBiasNames[] = {
    {65472, "-2 EV"}, {65484, "-1.67 EV"}, {65488, "-1.50 EV"}, {65492, "-1.33 EV"},
    {65504, "-1 EV"}, {65516, "-0.67 EV"}, {65520, "-0.50 EV"}, {65524, "-0.33 EV"},
    {0, "0 EV"},      {12, "0.33 EV"},     {16, "0.50 EV"},     {20, "0.67 EV"},
    {32, "1 EV"},     {44, "1.33 EV"},     {48, "1.50 EV"},     {52, "1.67 EV"},
    {64, "2 EV"}};

// Canon custom functions, and the on/off lists Fujifilm shares.
constexpr PLExifValueName OffOnNames[] = {{0, "Off"}, {1, "On"}};
constexpr PLExifValueName CfnLockNames[] = {
    {0, "AF/AE Lock"}, {1, "AE Lock/AF"}, {2, "AF/AF Lock"}, {3, "AE+release/AE+AF"}};
constexpr PLExifValueName DisableEnableNames[] = {{0, "Disable"}, {1, "Enable"}};
constexpr PLExifValueName CfnTVAVexpNames[] = {{0, "1/2 stop"}, {1, "1/3 stop"}};
constexpr PLExifValueName CfnAFassistNames[] = {{0, "On (auto)"}, {1, "Off"}, {2, "External only"}};
constexpr PLExifValueName CfnShuttAvNames[] = {{0, "Auto"}, {1, "1/200(fixed)"}};
constexpr PLExifValueName CfnAEBSeqNames[] = {
    {0, "0,-,+/Enabled"}, {1, "0,-,+/Disabled"}, {2, "-,0,+/Enabled"}, {3, "-,0,+/Disabled"}};
constexpr PLExifValueName CfnShuttSyncNames[] = {{0, "1st-curtain sync"}, {1, "2nd-curtain sync"}};
constexpr PLExifValueName CfnAFStopNames[] = {
    {0, "AF Stop"}, {1, "Operate AF"}, {2, "Lock AE & start timer"}};
constexpr PLExifValueName CfnFillReduceNames[] = {{0, "Enable"}, {1, "Disable"}};
constexpr PLExifValueName CfnMenuButtNames[] = {
    {0, "Top"}, {1, "Previous(volatile)"}, {2, "Previous"}};
constexpr PLExifValueName CfnSetButtNames[] = {
    {0, "Not assigned"}, {1, "Change quality"}, {2, "Change ISO"}, {3, "Select Params"}};

// Fujifilm.
constexpr PLExifValueName FujiSharpnessNames[] = {
    {1, "Soft"}, {2, "Soft"}, {3, "Normal"}, {4, "Hard"}, {5, "Hard"}};
constexpr PLExifValueName FujiWhiteBalNames[] = {{0, "Auto"},
                                                 {256, "Daylight"},
                                                 {512, "Cloudy"},
                                                 {768, "DaylightColor-fluorescent"},
                                                 {769, "DaywhiteColor-fluorescent"},
                                                 {770, "White-fluorescent"},
                                                 {1024, "Incandescent"},
                                                 {3840, "Custom"}};
constexpr PLExifValueName FujiColorNames[] = {
    {0, "Normal"}, {256, "High"}, {512, "Low"}, {768, "Black & White"}};
constexpr PLExifValueName FujiContrastNames[] = {{0, "Normal"}, {256, "High"}, {512, "Low"}};
constexpr PLExifValueName FujiFlashModeNames[] = {
    {0, "Auto"}, {1, "On"}, {2, "Off"}, {3, "Red-eye"}};
constexpr PLExifValueName FujiFocusNames[] = {{0, "Auto"}, {1, "Manual"}};
constexpr PLExifValueName FujiPictureNames[] = {{0, "Auto"},
                                                {1, "Portrait"},
                                                {2, "Landscape"},
                                                {4, "Sports"},
                                                {5, "Night"},
                                                {6, "Program AE"},
                                                {256, "Aperture Prior AE"},
                                                {512, "Shutter Prior AE"},
                                                {768, "Manual exposure"}};
constexpr PLExifValueName OkWarningNames[] = {{0, "OK"}, {1, "Warning"}};
constexpr PLExifValueName OkOverExposedNames[] = {{0, "OK"}, {1, "Over-exposed"}};

// Casio.
constexpr PLExifValueName CasioRecordModeNames[] = {
    {1, "Single Shutter"}, {2, "Panorama"},  {3, "Night Scene"},
    {4, "Portrait"},       {5, "Landscape"}, {7, "Panorama"},
    {10, "Night Scene"},   {15, "Portrait"}, {16, "Landscape"}};
constexpr PLExifValueName CasioQualityNames[] = {{1, "Economy"}, {2, "Normal"}, {3, "Fine"}};
constexpr PLExifValueName CasioFocusModeNames[] = {
    {2, "Macro"}, {3, "Auto Focus"}, {4, "Manual Focus"}, {5, "Infinity"}};
constexpr PLExifValueName CasioFlashModeNames[] = {
    {1, "Auto"}, {2, "On"}, {3, "Off"}, {4, "Off"}, {5, "Red Eye Reduction"}};
constexpr PLExifValueName CasioFlashIntenseNames[] = {
    {11, "Weak"}, {13, "Normal"}, {14, "High"}, {15, "Strong"}};
constexpr PLExifValueName CasioWhiteBalNames[] = {
    {1, "Auto"}, {2, "Tungsten"}, {3, "Daylight"}, {4, "Fluorescent"}, {5, "Shade"}, {9, "Manual"}};
constexpr PLExifValueName CasioDigZoomNames[] = {
    {65536, "Off"}, {65537, "2X"}, {131072, "2X"}, {262144, "4X"}};
constexpr PLExifValueName CasioSharpnessNames[] = {{0, "Normal"}, {1, "Soft"}, {2, "Hard"}};
constexpr PLExifValueName CasioLevelNames[] = {{0, "Normal"}, {1, "Low"}, {2, "High"}};
constexpr PLExifValueName CasioEnhancementNames[] = {
    {1, "Off"}, {2, "Red"}, {3, "Green"}, {4, "Blue"}, {5, "Flesh Tones"}};
constexpr PLExifValueName CasioFilterNames[] = {{1, "Off"},    {2, "Black & White"}, {3, "Sepia"},
                                                {4, "Red"},    {5, "Green"},         {6, "Blue"},
                                                {7, "Yellow"}, {8, "Pink"},          {9, "Purple"}};
constexpr PLExifValueName CasioFocFrmLocNames[] = {
    {1, "Centre"},       {2, "Scene S1"},      {3, "Scene S2"},     {4, "Scene S3"},
    {5, "Scene S4"},     {6, "Scene S5"},      {7, "Scene S8"},     {8, "Scene S6"},
    {9, "Scene S7"},     {10, "Top Left"},     {11, "Top Middle"},  {12, "Top Right"},
    {13, "Middle Left"}, {14, "Middle Right"}, {15, "Bottom Left"}, {16, "Bottom Middle"},
    {17, "Bottom Right"}};
constexpr PLExifValueName CasioCCDSenseNames[] = {{64, "Normal"}, {80, "Normal"}, {100, "High"},
                                                  {125, "+1.0"},  {250, "+2.0"},  {244, "+3.0"},
                                                  {9, "Manual"}};
constexpr PLExifValueName CasioMeterModeNames[] = {{2, "Centre"}, {3, "Spot"}, {5, "Multi"}};
constexpr PLExifValueName CasioEVShiftNames[] = {
    {-6, "-2.0 EV"},  {-5, "-1.67 EV"}, {-4, "-1.33 EV"}, {-3, "-1.0 EV"}, {-2, "-0.67 EV"},
    {-1, "-0.33 EV"}, {0, "0 EV"},      {1, "+0.33 EV"},  {2, "+0.67 EV"}, {3, "+1.0 EV"},
    {4, "+1.33 EV"},  {5, "+1.67 EV"},  {6, "+2.0 EV"}};
constexpr PLExifValueName CasioApertureNames[] = {
    {1, "f2.0"}, {2, "f2.3"}, {3, "f2.8"}, {4, "f4.0"}, {5, "f5.6"}, {6, "f8.0"}, {15, "f8.0"}};
constexpr PLExifValueName CasioRecordMode2Names[] = {
    {0, "Normal"}, {1, "Portrait"}, {2, "Landscape"}, {3, "Night Scene"}, {4, "Slow Shutter"}};
constexpr PLExifValueName CasioCompositionNames[] = {
    {1, "Off"},      {2, "Scene S1"}, {3, "Scene S2"}, {4, "Scene S3"}, {5, "Scene S4"},
    {6, "Scene S5"}, {7, "Scene S8"}, {8, "Scene S6"}, {9, "Scene S7"}};
constexpr PLExifValueName CasioExpModeNames[] = {
    {1, "Manual"}, {2, "Program AE"}, {3, "Aperture Priority"}, {4, "Shutter Priority"}};

constexpr PLExifTagInfo MainTable[] = {
    Plain(0x010E, "Desc", "Image Description"),
    Plain(0x010F, "Make", "Camera Make"),
    Plain(0x0110, "Model", "Camera Model"),
    Plain(0x0112, "Ori", "Orientation"),
    Plain(0x011A, "XRes", "X Resolution"),
    Plain(0x011B, "YRes", "Y Resolution"),
    Named(0x0128, "ResUnit", "Resolution Unit", ResUnitNames),
    Plain(0x0131, "Software", "Camera Software"),
    Plain(0x0132, "ModTime", "Last Modification"),
    Plain(0x013E, "WPoint", "White Point"),
    Plain(0x013F, "PrimChr", "Primary Chromaticities"),
    Plain(0x0211, "YCbCrCoef", "YCbCrCoefficients"),
    Plain(0x0213, "YCbCrPos", "YCbCrPositioning"),
    Plain(0x0214, "RefBW", "Reference Black/White point"),
    Plain(0x8298, "Copy", "Copyright"),
    Plain(0x8769, "ExifOffset", "Sub IFD Offset"),
};

constexpr PLExifTagInfo SubTable[] = {
    Formatted(0x829A, "Shutter", "Exposure Time", F::ExposureTime, "s"),
    Formatted(0x829D, "FStop", "F-Stop", F::FNumber),
    Named(0x8822, "Prog", "Program", ProgNames),
    Plain(0x8827, "Iso", "Equivalent ISO speed"),
    Plain(0x9000, "ExifVer", "Exif Version"),
    Plain(0x9003, "OrigTime", "Original Time"),
    Plain(0x9004, "DigTime", "Digitized Time"),
    Formatted(0x9101, "CompConfig", "Components Configuration", F::Components),
    Named(0x9102, "Bpp", "Average compression ratio", BppNames),
    Formatted(0x9201, "Shuttera", "Shutter Speed", F::ApexShutter),
    Formatted(0x9202, "Aperturea", "Aperture", F::ApexAperture),
    Formatted(0x9203, "Brighta", "Brightness APEX", F::Decimal),
    Formatted(0x9204, "Expbiasa", "Exposure Bias APEX", F::Decimal),
    Formatted(0x9205, "Maxapa", "Maximum Aperture APEX", F::ApexAperture),
    Formatted(0x9206, "Dist", "Subject Distance", F::Decimal, "m"),
    Named(0x9207, "Meter", "Metering Mode", MeterNames),
    Named(0x9208, "Lights", "Light Source", LightsNames),
    Named(0x9209, "Flash", "Flash Used", FlashNames),
    Formatted(0x920A, "Focal", "Focal Length", F::Decimal, "mm"),
    Plain(0x927C, "Maker", "Maker Note"),
    Plain(0x9286, "User", "User Comment"),
    Plain(0x9290, "STime", "Subsecond Time"),
    Plain(0x9291, "SOrigTime", "Subsecond Original Time"),
    Plain(0x9292, "SDigTime", "Subsecond Digitized Time"),
    Plain(0xA000, "Flashpix", "Flash Pix Version"),
    Named(0xA001, "ColorSpace", "Color Space", ColorSpaceNames),
    Plain(0xA002, "Width", "Image Width"),
    Plain(0xA003, "Height", "Image Height"),
    Plain(0xA004, "SndFile", "Sound File"),
    Plain(0xA005, "ExifIntOff", "Exif Interoperability Offset"),
    Formatted(0xA20E, "FPXRes", "Focal Plane X Resolution", F::Decimal),
    Formatted(0xA20F, "FPYRes", "Focal Plane Y Resolution", F::Decimal),
    Named(0xA210, "FPResUnit", "Focal Plane Unit", FPResUnitNames),
    Formatted(0xA215, "ExpIndex", "Exposure Index", F::Decimal),
    Named(0xA217, "SenseMethod", "Sensing Method", SenseMethodNames),
    Named(0xA300, "FileSource", "File Source", FileSourceNames),
    Named(0xA301, "SceneType", "Scene Type", SceneTypeNames),
    Plain(0xA302, "CFAPat", "CFA Pattern"),
};

constexpr PLExifTagInfo NikonTable[] = {
    Plain(0x0002, "ISO", "Nikon ISO Setting"),
    Capitalised(0x0003, "Color", "Nikon Color Mode"),
    Capitalised(0x0004, "Quality", "Nikon Quality"),
    Capitalised(0x0005, "WhiteBal", "Nikon White Balance"),
    Capitalised(0x0006, "Sharp", "Nikon Image Sharpening"),
    Capitalised(0x0007, "Focus", "Nikon Focus Mode"),
    Capitalised(0x0008, "Flash", "Nikon Flash"),
    Capitalised(0x0009, "FlashMode", "Nikon Flash Mode"),
    Capitalised(0x000F, "ISOSel", "Nikon ISO Selection"),
    Capitalised(0x0080, "ImgAdjust", "Nikon Image Adjustment"),
    Capitalised(0x0082, "Adapter", "Nikon Adapter Setting"),
    Capitalised(0x0084, "Lens", "Nikon Lens"),
    Formatted(0x0085, "ManFocus", "Nikon Manual Focus Distance", F::Decimal, "m"),
    Formatted(0x0086, "DigZoom", "Nikon Digital Zoom", F::Decimal, "x"),
    Plain(0x0088, "AFPos", "Nikon Auto Focus Position"),
};

constexpr PLExifTagInfo Nikon2Table[] = {
    Plain(0x0002, "Unknown0002", "Nikon Unknown (0002)"),
    Named(0x0003, "Quality", "Nikon Quality", Nikon2QualityNames),
    Named(0x0004, "Color", "Nikon Color Mode", Nikon2ColorNames),
    Named(0x0005, "ImgAdjust", "Nikon Image Adjustment", Nikon2ImgAdjustNames),
    Named(0x0006, "CCDSens", "Nikon ISO Setting", Nikon2CCDSensNames),
    Named(0x0007, "WhiteBal", "Nikon White Balance", Nikon2WhiteBalNames),
    Formatted(0x0008, "Focus", "Nikon Focus", F::Decimal),
    Plain(0x0009, "Unknown0009", "Nikon Unknown (0009)"),
    Formatted(0x000A, "DigZoom", "Nikon Digital Zoom", F::Decimal, "x"),
    Named(0x000B, "Converter", "Nikon Converter", Nikon2ConverterNames),
    Plain(0x0F00, "Unknown0F00", "Nikon Unknown (0F00)"),
};

constexpr PLExifTagInfo OlympusTable[] = {
    Plain(0x0200, "SpcMode", "Olympus Special Mode"),
    Named(0x0201, "Quality", "Olympus JPG Quality", OlyQualityNames),
    Named(0x0202, "Macro", "Olympus Macro", OlyMacroNames),
    Formatted(0x0204, "DigZoom", "Olympus Digital Zoom", F::Decimal, "x"),
    Plain(0x0207, "Software", "Olympus Software"),
    Plain(0x0209, "CameraID", "Olympus Camera ID"),
    Named(0x1004, "Flash", "Olympus Flash Mode", OlyFlashNames),
    Named(0x100F, "Sharp", "Olympus Sharpness Mode", OlySharpNames),
    Plain(0x102A, "SharpScale", "Olympus Sharpness"),
};

constexpr PLExifTagInfo CanonTable[] = {
    Plain(0x0001, "CnSet1", "Canon Settings 1"),
    Plain(0x0004, "CnSet2", "Canon Settings 2"),
    Plain(0x0006, "ImageType", "Canon Image Type"),
    Plain(0x0007, "Software", "Canon Firmware Version"),
    Formatted(0x0008, "ImageNo", "Canon Image Number", F::ImageNumber),
    Plain(0x0009, "Owner", "Canon Owner Name"),
    Formatted(0x000C, "SerialNo", "Canon Serial Number", F::SerialNumber),
    Plain(0x000F, "CustomFnc", "Canon Custom Functions"),
};

constexpr PLExifTagInfo CanonSettings1Table[] = {
    Named(0x0001, "Macro", "Canon Macro Mode", CanonMacroNames),
    Named(0x0004, "Flash", "Canon Flash Mode", CanonFlashNames),
    Named(0x0005, "Drive", "Canon Drive Mode", CanonDriveNames),
    Named(0x0007, "Focus", "Canon Focus Mode", CanonFocusNames),
    Named(0x000A, "ImgSize", "Canon Image Size", CanonImgSizeNames),
    Named(0x000B, "Shoot", "Canon Easy Shooting Mode", CanonShootNames),
    Named(0x000D, "Contrast", "Canon Contrast Setting", CanonLevelNames),
    Named(0x000E, "Saturation", "Canon Saturation Setting", CanonLevelNames),
    Named(0x000F, "Sharpness", "Canon Sharpness Setting", CanonLevelNames),
    Named(0x0010, "ISO", "Canon ISO", CanonISONames),
    Named(0x0011, "Metering", "Canon Metering mode", CanonMeteringNames),
    Named(0x0013, "AFPoint", "Canon AutoFocus Point", CanonAFPointNames),
    Plain(0x0014, "ExpMode", "Canon Exposure Mode"),
    Plain(0x0017, "LongFocal", "Canon Long Focal Length"),
    Plain(0x0018, "ShortFocal", "Canon Short Focal Length"),
    Plain(0x0019, "FocalUnits", "Canon Focal Units per mm"),
    Formatted(0x001D, "FlashDet", "Canon Flash Details", F::FlashDetails),
    Plain(0x0020, "FocusMode", "Canon Focus Mode"),
};

constexpr PLExifTagInfo CanonSettings2Table[] = {
    Named(0x0007, "WhiteBal", "Canon White Balance", CanonWhiteBalNames),
    Plain(0x0009, "SeqNo", "Canon Continuous Frame"),
    Formatted(0x000E, "AF Point", "Canon Focus Point", F::FocusPoint),
    Named(0x000F, "FlashBias", "Canon Flash Bias", CanonFlashBiasNames),
    Plain(0x0013, "SubjectDist", "Canon Subject Distance (0.01m or 0.001m)"),
};

constexpr PLExifTagInfo CanonCustomFunctionsTable[] = {
    Named(0x0001, "NoiseRed", "Canon CFn 01 Long exp noise reduction", OffOnNames),
    Named(0x0002, "Lock", "Canon CFn 02 Shutter/AE lock buttons", CfnLockNames),
    Named(0x0003, "MirrorLock", "Canon CFn 03 Mirror lockup   ", DisableEnableNames),
    Named(0x0004, "TVAVexp", "Canon CFn 04 Tv/Av & exposure level", CfnTVAVexpNames),
    Named(0x0005, "AFassist", "Canon CFn 05 AF-assist light", CfnAFassistNames),
    Named(0x0006, "ShuttAv", "Canon CFn 06 Shutter speed in Av mode", CfnShuttAvNames),
    Named(0x0007, "AEBSeq", "Canon CFn 07 AEB Sequence/auto cancel", CfnAEBSeqNames),
    Named(0x0008, "ShuttSync", "Canon CFn 08 Shutter curtain sync", CfnShuttSyncNames),
    Named(0x0009, "AFStop", "Canon CFn 09 Lens AF stop button switch", CfnAFStopNames),
    Named(0x000A, "FillReduce", "Canon CFn 10 Fill flash auto reduction", CfnFillReduceNames),
    Named(0x000B, "MenuButt", "Canon CFn 11 Menu button return pos", CfnMenuButtNames),
    Named(0x000C, "SetButt", "Canon CFn 12 SET button when shooting", CfnSetButtNames),
    Named(0x000D, "SensClean", "Canon CFn 13 Sensor cleaning   ", DisableEnableNames),
};

constexpr PLExifTagInfo FujifilmTable[] = {
    Plain(0x0000, "Version", "Fuji Version"),
    Capitalised(0x1000, "Quality", "Fuji Quality"),
    Named(0x1001, "Sharpness", "Fuji Sharpness", FujiSharpnessNames),
    Named(0x1002, "WhiteBal", "Fuji White Balance", FujiWhiteBalNames),
    Named(0x1003, "Color", "Fuji Color", FujiColorNames),
    Named(0x1004, "Contrast", "Fuji Tone", FujiContrastNames),
    Named(0x1010, "FlashMode", "Fuji Flash Mode", FujiFlashModeNames),
    Formatted(0x1011, "FlashStrg", "Fuji Flash Strength APEX", F::Decimal),
    Named(0x1020, "Macro", "Fuji Macro Mode", OffOnNames),
    Named(0x1021, "Focus", "Fuji Focus Mode", FujiFocusNames),
    Plain(0x1022, "Unknown1022", "Fuji Unknown (1022)"),
    Plain(0x1023, "Unknown1023", "Fuji Unknown (1023)"),
    Named(0x1030, "SlowSnyc", "Fuji Slow Sync", OffOnNames),
    Named(0x1031, "Picture", "Fuji Exposure Mode", FujiPictureNames),
    Plain(0x1032, "Unknown1032", "Fuji Unknown (1032)"),
    Named(0x1100, "Sequence", "Fuji Sequence Mode", OffOnNames),
    Plain(0x1101, "Unknown1101", "Fuji Unknown (1101)"),
    Plain(0x1200, "Unknown1200", "Fuji Unknown (1200)"),
    Named(0x1300, "BlurWarn", "Fuji Blur Warning", OkWarningNames),
    Named(0x1301, "FocusWarn", "Fuji Focus Warning", OkWarningNames),
    Named(0x1302, "AEWarn", "Fuji Exposure Warning", OkOverExposedNames),
};

constexpr PLExifTagInfo CasioTable[] = {
    Named(0x0001, "RecordMode", "Casio Recording Mode", CasioRecordModeNames),
    Named(0x0002, "Quality", "Casio Quality  ", CasioQualityNames),
    Named(0x0003, "FocusMode", "Casio Focusing Mode", CasioFocusModeNames),
    Named(0x0004, "FlashMode", "Casio Flash Mode", CasioFlashModeNames),
    Named(0x0005, "FlasIntense", "Casio Flash Intensity", CasioFlashIntenseNames),
    WithUnit(0x0006, "ObjDist", "Casio Object Distance", "mm"),
    Named(0x0007, "WhiteBal", "Casio White Balance", CasioWhiteBalNames),
    Plain(0x0008, "Unknown0008", "Casio Unknown (0008)"),
    Plain(0x0009, "Unknown0009", "Casio Unknown (0009)"),
    Named(0x000A, "DigZoom", "Casio Digital Zoom", CasioDigZoomNames),
    Named(0x000B, "Sharpness", "Casio Sharpness", CasioSharpnessNames),
    Named(0x000C, "Contrast", "Casio Contrast ", CasioLevelNames),
    Named(0x000D, "Saturation", "Casio Saturation", CasioLevelNames),
    Plain(0x000E, "Unknown000E", "Casio Unknown (000E)"),
    Plain(0x000F, "Unknown000F", "Casio Unknown (000F)"),
    Plain(0x0010, "Unknown0010", "Casio Unknown (0010)"),
    Plain(0x0011, "Unknown0011", "Casio Unknown (0011)"),
    Plain(0x0012, "Unknown0012", "Casio Unknown (0012)"),
    Plain(0x0013, "Unknown0013", "Casio Unknown (0013)"),
    Named(0x0014, "CCDSense", "Casio CCD Sensitivity", OkOverExposedNames),
    Plain(0x0015, "Unknown0015", "Casio Unknown (0015)"),
    Named(0x0016, "Enhancement", "Casio Enhancement", CasioEnhancementNames),
    Named(0x0017, "Filter", "Casio Filter   ", CasioFilterNames),
    Named(0x0018, "FocFrmLoc", "Casio Focus Frame Locator", CasioFocFrmLocNames),
    Named(0x0019, "CCDSense", "Casio CCD Sensitivity", CasioCCDSenseNames),
    Plain(0x001A, "Unknown001A", "Casio Unknown (001A)"),
    Named(0x0100, "MeterMode", "Casio Metering Mode", CasioMeterModeNames),
    Named(0x0101, "EVShift", "Casio EV Shift", CasioEVShiftNames),
    Plain(0x0102, "Unknown0102", "Casio Unknown (0102)"),
    Named(0x0103, "Aperture", "Casio Apertue", CasioApertureNames),
    Named(0x0104, "RecordMode2", "Casio Recording Mode", CasioRecordMode2Names),
    Named(0x0105, "Composition", "Casio Composition Frame", CasioCompositionNames),
    Named(0x0106, "ExpMode", "Casio Exposure Mode", CasioExpModeNames),
    Plain(0x0107, "Unknown0107", "Casio Unknown (0107)"),
};

}  // namespace

PLExifTagTable PLExifGetTable(PLExifTableId id) {
    switch (id) {
        case PLExifTableId::Main:
            return MainTable;
        case PLExifTableId::Sub:
            return SubTable;
        case PLExifTableId::Nikon:
            return NikonTable;
        case PLExifTableId::Nikon2:
            return Nikon2Table;
        case PLExifTableId::Olympus:
            return OlympusTable;
        case PLExifTableId::Canon:
            return CanonTable;
        case PLExifTableId::CanonSettings1:
            return CanonSettings1Table;
        case PLExifTableId::CanonSettings2:
            return CanonSettings2Table;
        case PLExifTableId::CanonCustomFunctions:
            return CanonCustomFunctionsTable;
        case PLExifTableId::Fujifilm:
            return FujifilmTable;
        case PLExifTableId::Casio:
            return CasioTable;
    }
    ORBELLE_CHECK(false);
    return {};
}

const PLExifTagInfo* PLExifFindTag(PLExifTagTable table, std::uint16_t tag) {
    for (const PLExifTagInfo& entry : table) {
        if (entry.tag == tag) return &entry;
    }
    return nullptr;
}
