#pragma once

// Start-up and exit of the image library: the libtiff message handlers, the pixel-format
// registry, and the format decoders and colour quantiser that are built in. Decoding and
// encoding refuse to run outside start-up and exit, so a program that skips the start-up
// learns so from its first image instead of seeing every file reported as unsupported.

// Sets the library up; calling it again sets it up afresh.
void ImagingInitProcess();

// Releases what ImagingInitProcess set up; the library then reports itself not initialised.
void ImagingShutdownProcess();

// True between ImagingInitProcess and ImagingShutdownProcess.
bool ImagingIsInitialised();

// Throws PLTextException code 13 ("Image library not initialised: ImagingInitProcess has
// not run.") outside start-up and exit; returns otherwise.
void ImagingRequireInitialised();
