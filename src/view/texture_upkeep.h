#pragma once

// Keeping a document's pictures in step with its textures: which scene objects of a document
// wear a texture, and drawing them again in the document's render view after the texture's
// image or mapping changed, without rendering the whole frame.

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
