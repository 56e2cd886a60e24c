#pragma once

// QCamera is the viewpoint of a render view and of a bot's preview: the placement transform
// of the camera rig, the camera's own orientation and position, the field-of-view value and
// the second view scalar m, a label and a small thumbnail. It lives inside the view settings,
// is copied and compared as a value, and is stored in scene files as the "Camera" element.
//
// The thumbnail is a private-heap block of width x height pixel words 0xAARRGGBB, stored
// little-endian (blue, green, red, alpha); in the file it is an LZW RGB TIFF in base64. A
// camera without thumbnail pixels always has width and height 0, so nothing ever describes
// pixels that are not there.

#include "core/matrix3.h"
#include "core/matrix4.h"
#include "core/private_block.h"
#include "core/vec3.h"
#include "object/q_reference_object.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class XmlDocument;

class QCamera : public QReferenceObject {
public:
    // Identity transform and orientation, position at the origin, fov and m 1.0, no label,
    // no thumbnail; type id 0.
    QCamera();

    // A default camera that then takes every value of from (Assign). Throws
    // KVOutOfMemoryException when the thumbnail copy is refused.
    QCamera(const QCamera& from);

    QCamera& operator=(const QCamera&) = delete;
    ~QCamera() override = default;

    // Copies transform, orientation, position, fov, m, label and thumbnail. Without thumbnail
    // pixels in from, this camera ends without a thumbnail and with size 0. The new
    // thumbnail is built before anything changes, so KVOutOfMemoryException leaves this
    // camera as it was.
    void Assign(const QCamera& from);

    // True when the transform elements and fov and m compare equal as doubles and the
    // orientation and position are byte-wise identical; label and thumbnail are not compared.
    bool Equals(const QCamera& other) const;

    // World to camera frame: inverse(orientation) * translation(-position) *
    // inverse(transform). A singular transform is used as it is in the inverse step.
    Matrix4 GetViewMatrix() const;

    // Adds a "Camera" element at the document's current level with its children "r", "o"
    // and "mn". Throws KVOutOfMemoryException when the thumbnail encoding is refused memory.
    void WriteXml(XmlDocument& document) const;

    // Reads the document's current "Camera" element. A missing "r", "o" or "mn" child leaves
    // the transform, orientation or thumbnail as it was; an "mn" that does not decode leaves
    // the camera without a thumbnail. Throws KVOutOfMemoryException when the private heap
    // refuses.
    void ReadXml(XmlDocument& document);

    // Replaces the thumbnail by a copy of width x height pixel words (pixels must hold that
    // many); a size of 0 clears it. Throws KVOutOfMemoryException when refused or when the
    // size does not fit a private-heap block.
    void SetThumbnail(std::span<const std::uint32_t> pixels, std::uint32_t width,
                      std::uint32_t height);

    // The pixel word at (x, y); (x, y) must lie inside the thumbnail.
    std::uint32_t ThumbnailPixel(std::uint32_t x, std::uint32_t y) const;

    bool HasThumbnail() const { return thumbnailPixels != nullptr; }
    std::uint32_t ThumbnailWidth() const { return thumbnailWidth; }
    std::uint32_t ThumbnailHeight() const { return thumbnailHeight; }

    Matrix4 transform{};
    Matrix3 orientation = Matrix3SetDiagonal(1.0);
    Vec3 position{};
    double fov = 1.0;
    double m = 1.0;
    std::string label;

private:
    // Base64 of the thumbnail as an LZW RGB TIFF; empty without a thumbnail.
    std::string EncodeThumbnail() const;

    // Takes the thumbnail from the base64 TIFF text; leaves none when it does not decode.
    void DecodeThumbnail(std::string_view text);

    PrivateBlockPtr<std::uint8_t> thumbnailPixels;  // width * height * 4 bytes
    std::uint32_t thumbnailWidth = 0;
    std::uint32_t thumbnailHeight = 0;
};
