#pragma once

// Text pictures of what a cast left in the frame, for the render tool and for comparing
// renders: the ids and depth words of sample buffer 0, the renderer's view-space parts, and a
// preview picture coloured by part and lit from the eye.
//
// The dumps are plain text: a first line "width height", then one line per row of the current
// level with one decimal number per pixel, separated by single spaces. Numbers are written
// with std::to_chars, so the text does not depend on the locale.

#include "render/q_render.h"

#include <cstdint>
#include <string>

// Per pixel the id (PixelWord & 0x7FFFFFF) of plane 0 of sample buffer 0; empty when the
// buffers are not sized.
std::string RenderIdDump(const QRender& render);

// Per pixel the depth word of plane 0 of sample buffer 0; empty when the buffers are not
// sized.
std::string RenderDepthDump(const QRender& render);

// Per part a line "part INDEX visible V key K surfaces N", a line "bound" with the 16
// elements of its view-space bounding quadric, and per surface a line "surface S" with the 16
// elements of its view-space form as the casting passes use it (conditioned; a plane's element
// 15 is the plane marker, written as nan). Elements in shortest round-trip form.
std::string RenderSurfacesDump(const QRender& render);

// Fills width x height words of pixels (rows stride words apart) from sample buffer 0 at
// level 0: a covered pixel takes its part's colour (a colour from the part index when the part
// has none), darkened where the surface turns away from the eye, with alpha 255; an empty pixel
// takes the background colour word (alpha 0). Nothing is written when the buffers are not
// sized; width and height are held to the render size.
void RenderIdPreview(const QRender& render, std::uint32_t* pixels, std::int32_t width,
                     std::int32_t height, std::int32_t stride);
