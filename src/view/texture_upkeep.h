#pragma once

// Keeping a document's pictures in step with its textures: which scene objects of a document
// wear a texture, and drawing them again in the document's render view after the texture's
// image or mapping changed, without rendering the whole frame.

#include <memory>

class IdSet;
class QDocumentBase;
class QTexture;

// ids becomes the indices of the scene objects of document that wear texture, sorted and
// without doubles. Objects of other documents (a texture's own preview scene) that wear the
// same texture are left out. Throws KVOutOfMemoryException.
void CollectTextureObjectIds(const QTexture& texture, IdSet& ids, const QDocumentBase& document);

// Shades again, in the document's render view, the pixels of the unselected objects that wear
// texture, from the samples of the last frame with the parts' textures read anew; selected
// objects are left to the frame render that follows (RenderFrame with the selection), which
// draws them whole. Nothing when the document has no render view or the view holds no
// rendered frame of the scene. Throws KVOutOfMemoryException; UserAbortRender from the
// shading or the frame render passes through.
void ReshadeTextureObjects(const QTexture& texture, QDocumentBase& document);

// Moves texture's colours onto templateTexture's image: the colours resampled to that image's
// size take its alpha, texture takes templateTexture's record (with its mapping) carrying
// over its own bump value, transform, scale and specular values, keeps its bump map
// (resampled), and holds the image instead of its own. Every object wearing texture (the
// preview's sphere too) is rebound to the record and rebuilt, and the preview drawn again.
// The template, handed over (out of its list), is then deleted and null returned. Nothing
// happens unless both have an image and a record: the template is then handed back.
// Throws KVOutOfMemoryException.
std::unique_ptr<QTexture> ResampleTextureImage(QTexture& texture,
                                               std::unique_ptr<QTexture> templateTexture);
