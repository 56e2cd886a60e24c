#include "core/colour.h"
#include "model/q_document_base.h"
#include "model/q_morvan_objects.h"
#include "view/q_off_bits.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// A frame bitmap that records what it is asked to present.
class RecordingBits final : public QOffBits {
public:
    struct Call {
        bool full;
        FrameRect rect;
    };
    void Update(bool full) override { calls.push_back({full, updateRect}); }
    std::vector<Call> calls;
};

struct Scene {
    Scene() : view(&document) {
        view.viewSettings.camera.Assign(QCamera());
        view.viewSettings.camera.position = Vec3{0.0, 0.0, -10.0};
        bits.Create(64, 48);
        EXPECT_TRUE(view.InitViewBuffers(bits, true));
    }
    QDocumentBase document;
    QRenderView view;
    RecordingBits bits;
};

TEST(ViewRefresh, RefreshDrawsIntoTheFrameBitmapAndRedrawPresentsWhatChanged) {
    Scene scene;
    scene.view.Refresh();
    EXPECT_FALSE(scene.view.isFrameValid);  // nothing to show yet
    EXPECT_EQ(scene.bits.GetBits()[0] >> 24, 0u);

    scene.document.Objects()->AddShapeType1(0.05, ColourFromBytes(255, 255, 255), Vec3{});
    scene.document.Objects()->AddShapeType1(0.05, ColourFromBytes(255, 255, 255),
                                            Vec3{0.2, 0.0, 0.0});
    scene.view.RedrawAll(false);
    EXPECT_TRUE(scene.view.isFrameValid);
    EXPECT_EQ(scene.bits.GetBits()[24 * 64 + 32] >> 24, 0xFFu);  // the ball at the centre
    scene.view.Redraw(false);
    ASSERT_EQ(scene.bits.calls.size(), 1u);
    EXPECT_FALSE(scene.bits.calls[0].full);
    EXPECT_EQ(scene.bits.calls[0].rect, (FrameRect{0, 0, 64, 48}));

    // A selection change presents only about the selected ball (at pixel 52, 24).
    scene.view.dirtyRect = FrameRect{};
    scene.view.UpdateSelection(1, false, 0, false);
    scene.view.Redraw(false);
    const FrameRect rect = scene.bits.calls.back().rect;
    EXPECT_FALSE(rect.IsEmpty());
    EXPECT_LE(rect.left, 52);
    EXPECT_GT(rect.right, 52);
    EXPECT_GT(rect.left, 36);  // not the ball at the centre
    EXPECT_LE(rect.top, 24);
    EXPECT_GT(rect.bottom, 24);

    // Draw mode 2 and deferral present the whole bitmap.
    scene.view.SetDrawMode(2);
    scene.view.Redraw(false);
    EXPECT_TRUE(scene.bits.calls.back().full);
    scene.view.SetDrawMode(0);
    scene.view.isDeferred = true;
    scene.view.Redraw(false);
    EXPECT_TRUE(scene.bits.calls.back().full);

    // A deferred refresh renders nothing and the frame no longer holds.
    scene.view.Refresh();
    EXPECT_FALSE(scene.view.isFrameValid);
}

TEST(ViewRefresh, RedrawNeedsAMainViewWithAFrameBitmap) {
    Scene scene;
    scene.view.isDelegate = true;
    scene.view.Redraw(true);
    EXPECT_TRUE(scene.bits.calls.empty());

    QDocumentBase document;
    QRenderView bare(&document);
    std::vector<std::uint32_t> pixels(64 * 48);
    ASSERT_TRUE(bare.InitViewBuffers(64 * 4, pixels.data(), 64, 48, true));
    bare.Redraw(true);  // no bitmap: nothing to present, nothing fails
    EXPECT_EQ(bare.frameBitmap, nullptr);
}

}  // namespace
