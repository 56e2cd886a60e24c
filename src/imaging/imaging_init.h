#pragma once

// Start-up and exit of the image library: the pixel-format registry, and the format
// decoders and colour quantiser that are built in.
void ImagingInitProcess();
void ImagingShutdownProcess();
