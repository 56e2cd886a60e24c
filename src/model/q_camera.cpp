#include "model/q_camera.h"

#include "core/base64.h"
#include "core/byte_order.h"
#include "core/check.h"
#include "core/private_heap.h"
#include "core/xml_document.h"
#include "core/xml_values.h"
#include "imaging/image_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

// Bytes of a width x height thumbnail; throws KVOutOfMemoryException when the size does not
// fit one private-heap block.
std::uint32_t ThumbnailBytes(std::uint32_t width, std::uint32_t height) {
    const std::uint64_t bytes = std::uint64_t{width} * height * 4u;
    if (bytes > UINT32_MAX) ThrowOutOfMemory();
    return static_cast<std::uint32_t>(bytes);
}

}  // namespace

QCamera::QCamera() = default;

QCamera::QCamera(const QCamera& from) : QReferenceObject() { Assign(from); }

void QCamera::Assign(const QCamera& from) {
    PrivateBlockPtr<std::uint8_t> pixels;
    std::string newLabel = TranslateBadAlloc([&] { return from.label; });
    if (from.thumbnailPixels != nullptr) {
        const std::uint32_t bytes = ThumbnailBytes(from.thumbnailWidth, from.thumbnailHeight);
        pixels = PrivateAllocBlock<std::uint8_t>(bytes);
        std::copy_n(from.thumbnailPixels.get(), bytes, pixels.get());
    }

    transform = from.transform;
    orientation = from.orientation;
    position = from.position;
    fov = from.fov;
    m = from.m;
    label = std::move(newLabel);
    // The size goes with the pixels: a camera copied from one without a thumbnail must not
    // keep describing pixels it no longer has.
    const bool hasPixels = pixels != nullptr;
    thumbnailPixels = std::move(pixels);
    thumbnailWidth = hasPixels ? from.thumbnailWidth : 0;
    thumbnailHeight = hasPixels ? from.thumbnailHeight : 0;
}

bool QCamera::Equals(const QCamera& other) const {
    for (std::size_t i = 0; i < transform.m.size(); ++i) {
        if (transform.m[i] != other.transform.m[i]) return false;
    }
    return Matrix3Compare(orientation, other.orientation) == 0 &&
           Vec3Compare(position, other.position) == 0 && fov == other.fov && m == other.m;
}

Matrix4 QCamera::GetViewMatrix() const {
    const Matrix4 fromRig = GetInverse(transform);
    const Matrix4 shifted =
        MultiplyMatrix(MakeTranslation(-position.x, -position.y, -position.z), fromRig);
    return MultiplyMatrix(Matrix4FromMatrix3(Matrix3Inverse(orientation)), shifted);
}

void QCamera::SetThumbnail(std::span<const std::uint32_t> pixels, std::uint32_t width,
                           std::uint32_t height) {
    const std::uint32_t bytes = ThumbnailBytes(width, height);
    if (bytes == 0) {
        thumbnailPixels.reset();
        thumbnailWidth = 0;
        thumbnailHeight = 0;
        return;
    }
    ORBELLE_CHECK(pixels.size() >= std::size_t{width} * height);
    PrivateBlockPtr<std::uint8_t> block = PrivateAllocBlock<std::uint8_t>(bytes);
    for (std::uint32_t i = 0; i < bytes / 4u; ++i) StoreU32LE(block.get() + 4u * i, pixels[i]);
    thumbnailPixels = std::move(block);
    thumbnailWidth = width;
    thumbnailHeight = height;
}

std::uint32_t QCamera::ThumbnailPixel(std::uint32_t x, std::uint32_t y) const {
    ORBELLE_CHECK(thumbnailPixels != nullptr && x < thumbnailWidth && y < thumbnailHeight);
    return LoadU32LE(thumbnailPixels.get() + (std::size_t{y} * thumbnailWidth + x) * 4u);
}

void QCamera::WriteXml(XmlDocument& document) const {
    document.AddElement("Camera");
    WriteVectorAttributes(document, "p", position);
    SetFloatAttribute(document, "fov", static_cast<float>(fov));
    SetFloatAttribute(document, "m", static_cast<float>(m));
    document.SetAttribute(document.CurrentPosition(), "l", label);

    document.EnterElement();
    document.AddElement("r", Matrix4ToBase64(transform));
    document.AddElement("o", Matrix3ToBase64(orientation));
    document.AddElement("mn", EncodeThumbnail());
    document.LeaveElement();
}

void QCamera::ReadXml(XmlDocument& document) {
    position = ReadVectorAttributes(document, "p");
    fov = GetFloatAttribute(document, "fov");
    m = GetFloatAttribute(document, "m");
    label = document.GetAttribute("l");

    if (!document.EnterElement()) return;
    // Each child is decoded only when it is found: the current element after a failed search
    // is some other element, whose text must not become the transform or orientation.
    if (document.FindElement("r")) transform = Base64ToMatrix4(document.GetData());
    if (document.FindElement("o")) {
        orientation = Matrix3FromMatrix4(Base64ToMatrix3(document.GetData()));
    }
    if (document.FindElement("mn")) {
        thumbnailPixels.reset();
        thumbnailWidth = 0;
        thumbnailHeight = 0;
        DecodeThumbnail(document.GetData());
    }
    document.LeaveElement();
}

std::string QCamera::EncodeThumbnail() const {
    // A camera without a thumbnail writes an empty "mn": there are no pixels to encode.
    if (thumbnailPixels == nullptr) return {};
    std::uint32_t size = 0;
    // The encoder fails only on arguments this camera never holds; a thumbnail it cannot
    // encode is left out, as a camera without one.
    PrivateBlockPtr<std::uint8_t> tiff(
        EncodeTiffToMemory("argb", thumbnailPixels.get(), static_cast<std::int32_t>(thumbnailWidth),
                           static_cast<std::int32_t>(thumbnailHeight),
                           static_cast<std::int32_t>(thumbnailWidth * 4u), false, 0, size));
    if (tiff == nullptr) return {};
    return TranslateBadAlloc([&] { return Base64Encode({tiff.get(), size}); });
}

void QCamera::DecodeThumbnail(std::string_view text) {
    const std::vector<std::uint8_t> bytes = TranslateBadAlloc([&] { return Base64Decode(text); });
    if (bytes.empty() || bytes.size() > INT32_MAX) return;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t samplesPerPixel = 0;
    PrivateBlockPtr<std::uint8_t> pixels(
        DecodeTiffFromMemory(bytes.data(), static_cast<std::int32_t>(bytes.size()), "argb", width,
                             height, samplesPerPixel));
    if (pixels == nullptr || width <= 0 || height <= 0) return;
    thumbnailPixels = std::move(pixels);
    thumbnailWidth = static_cast<std::uint32_t>(width);
    thumbnailHeight = static_cast<std::uint32_t>(height);
}
