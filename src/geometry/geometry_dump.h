#pragma once

// The built geometry of a scene as JSON text, for the geomdump tool and for tests that look
// at whole scenes: per part its index, shape type, part id, build result, visibility, surface
// count and curved-surface mask, its surfaces (16 numbers each, world coordinates, w-first),
// its bounding quadric with the bounding sphere, its collision proxy and its feature table
// (corners, and edges as surface, other surface and curve kind). Numbers are written in their
// shortest form that reads back to the same double; a NaN or an infinity is written as null.

#include <string>

class SceneGeometry;

// One JSON object {"parts": [...]} with one line per part. Never fails (std::bad_alloc).
std::string GeometryDumpJson(const SceneGeometry& geometry);
