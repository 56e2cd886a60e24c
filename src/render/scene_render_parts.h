#pragma once

// Turns the scene geometry's part records into the renderer's view-space parts. Each part's
// surface forms (in part coordinates, as the shape builders write them) are seen through
// localFromView = localFromWorld x worldFromView, and its bounding quadric (held in world
// coordinates) through worldFromView; its visibility and colour are copied. The renderer also
// takes the geometry's surface slot table, which orders hits on coincident surfaces, and the
// parts' textures (scene_part_textures.h).

#include "core/matrix4.h"

class QRender;
class SceneGeometry;

// Replaces the renderer's parts with one part per part of geometry, in part order, seen from
// viewFromWorld (an affine w-first transform), and points it at the geometry's slot table,
// which must outlive the renders. A record's surface count is held to its room and to 32.
// Throws KVOutOfMemoryException.
void LoadRenderParts(QRender& render, const SceneGeometry& geometry,
                     const Matrix4W& viewFromWorld);
