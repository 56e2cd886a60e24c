#pragma once

// Which of the scene geometry's parts the renderer shades with a texture, and how. A part is
// textured when its material holds an image pyramid with an image. It takes the image flat
// (the planar mapping) when its record has no mapping source of its own, and through its
// material's tiles when it is a box, a flat-sided cylinder or a corner rod with a wrap map,
// has a surface mapping list or carries an angle-keeping revolution mapping; a custom
// revolution mapping reads its own tiles. A corner rod whose start meets the end of another
// textured corner rod continues that rod's length measure. Parts whose material holds no
// usable tiles keep their own colour.

#include "core/matrix4.h"

class QRender;
class SceneGeometry;

// Fills render.partTextures with one entry per part of geometry (in part order), seen from
// viewFromWorld (an affine w-first transform). Throws KVOutOfMemoryException.
void LoadPartTextures(QRender& render, const SceneGeometry& geometry,
                      const Matrix4W& viewFromWorld);
