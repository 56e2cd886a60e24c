#pragma once

// A document view whose renderer answers are scripted by the test: what a pick at the frame's
// centre hits and what depth range the frame covers. The camera is the identity, so view
// space is world space.

#include "model/document_view.h"

#include <cstdint>

namespace model_test {

class ScriptedView final : public DocumentView {
public:
    explicit ScriptedView(QDocumentBase* owner) : DocumentView(owner) {}

    void PrepareLights() override {}
    void ResetCamera() override {}
    void ClearRenderFlags() override {}
    void TransformByInverseView(Vec3&) const override {}

    bool PickAtPixel(std::int32_t, std::int32_t x, std::int32_t y, std::int32_t& objectIndex,
                     Vec3& point, Vec3& normal) const override {
        pickedX = x;
        pickedY = y;
        objectIndex = isHit ? 0 : -1;
        point = isHit ? hitPoint : Vec3{};
        normal = Vec3{};
        return isHit;
    }

    double MeasureDepthRange(double& nearest, double& farthest) const override {
        nearest = meanDepth;
        farthest = meanDepth;
        return meanDepth;
    }

    void SyncObjectsWithView(bool) override {}
    void UpdateObjectGeometry() override {}
    std::int32_t FrameWidth() const override { return 640; }
    std::int32_t FrameHeight() const override { return 480; }

    bool isHit = false;
    Vec3 hitPoint{};
    double meanDepth = -1.0;  // nothing covered
    mutable std::int32_t pickedX = -1;
    mutable std::int32_t pickedY = -1;
};

}  // namespace model_test
