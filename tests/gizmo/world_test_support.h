#pragma once

// Small gizmo worlds built by hand for the frame driver's tests and benchmarks: fixed parts
// built from their records into a scene geometry, flyers and flippers whose parts the
// simulation places, and a world whose stage is wide and whose floor is low.

#include "core/check.h"
#include "geometry/part_render_record.h"
#include "geometry/part_shape_build.h"
#include "geometry/primitive_record.h"
#include "geometry/scene_geometry.h"
#include "geometry/shape_surface_count.h"
#include "geometry/surface_table.h"
#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_part_fields.h"
#include "gizmo/gizmo_world.h"
#include "gizmo/hit_scoring.h"
#include "gizmo/preset_motion.h"
#include "gizmo/world_step.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace world_test {

inline constexpr double Pi = 3.14159265358979323846;
inline constexpr double FrameTime = 1.0 / 30.0;

// Bounding radii from the scene geometry, as the loader gives them.
class GeometryBounds : public PartBounds {
public:
    explicit GeometryBounds(const SceneGeometry& g) : geometry(g) {}
    double BoundingRadius(std::int32_t partIndex) const override {
        const PartRenderRecord* part = geometry.Part(partIndex);
        return part != nullptr ? part->boundRadius : 0.0;
    }

private:
    const SceneGeometry& geometry;
};

// A small world built by hand: fixed parts built from their records, objects whose parts are
// placed by the simulation. Call Start once every part is in.
struct TestWorld {
    SceneGeometry geometry;
    std::vector<std::int32_t> movingParts;
    std::vector<std::uint8_t*> partTable;
    std::vector<PartRecordPtr> fixedRecords;
    GizmoWorld world{&movingParts, &partTable};
    GeometryBounds bounds{geometry};

    TestWorld() {
        world.geometry = &geometry;
        world.gravity = -10.0;
        world.stageRadius = 50.0;
        world.wallMargin = -1.0;
        world.floorY = -5.0;
        world.topY = 100.0;
        world.dropY = 20.0;
    }

    // A part built from the record; the part table gets its slot, which the caller fills.
    std::int32_t NewPart(const std::uint8_t* record) {
        const std::array<std::int32_t, 1> room{PartSurfaceLimit};
        geometry.AddParts(room, true);
        const std::int32_t index = geometry.PartCount() - 1;
        ORBELLE_CHECK(BuildPartShape(geometry, record, index, false, true, false) == 0);
        partTable.resize(static_cast<std::size_t>(index) + 1, nullptr);
        return index;
    }

    // A fixed part of the record, which the world keeps.
    std::int32_t AddFixed(PartRecordPtr record, double loss, double friction,
                          std::uint32_t bits = 0) {
        SetMaterial(record.get(), loss, friction, bits);
        fixedRecords.push_back(std::move(record));
        const std::int32_t index = NewPart(fixedRecords.back().get());
        partTable[static_cast<std::size_t>(index)] = fixedRecords.back().get();
        return index;
    }

    static void SetMaterial(std::uint8_t* record, double loss, double friction,
                            std::uint32_t bits = 0) {
        PartRecordSetLoss(record, static_cast<float>(loss));
        PartRecordSetFriction(record, static_cast<float>(friction));
        PartRecordSetCollisionBits(record, bits);
    }

    // A fixed box of sides size about centre.
    std::int32_t AddBox(const Vec3& centre, const Vec3& size, double loss = 0.0,
                        double friction = 0.0, std::uint32_t bits = 0) {
        return AddFixed(NewPrimitive3(false, size.x, size.y, size.z, 0, 0, centre, {}), loss,
                        friction, bits);
    }

    // A fixed ball of the radius about centre.
    std::int32_t AddSphere(const Vec3& centre, double radius, double loss = 0.0,
                           double friction = 0.0) {
        return AddFixed(NewPrimitive1(radius, 0, 0, centre, {}), loss, friction);
    }

    GizmoObject& Adopt(GizmoObject object) {
        world.objects.push_back(std::make_unique<GizmoObject>(std::move(object)));
        return *world.objects.back();
    }

    // A ball of density 1 resting at centre: its part is built about the origin and placed
    // there by the simulation.
    GizmoObject& AddBall(const Vec3& centre, double radius, double loss = 0.0,
                         double friction = 0.0) {
        GizmoObject& ball = Adopt(NewFlyerObject());
        PartRecordPtr record = NewPrimitive1(radius, 0, 0, Vec3{}, {});
        SetMaterial(record.get(), loss, friction);
        const std::int32_t index = NewPart(record.get());
        AddObjectPart(ball, index, record.get());
        FlyerTail& f = ball.flyer;
        f.mass = 4.0 / 3.0 * Pi * radius * radius * radius;
        f.inertiaAxial = f.inertiaTransverse = 0.4 * f.mass * radius * radius;
        f.size = radius;
        f.live = 1;
        ball.basePosition = centre;
        ball.position = centre;
        f.committedPosition = centre;
        return ball;
    }

    // A box flipper of sides size that slides from one position to the other (a motion set
    // up from two records of the box, kept by the world); its times and triggers are the
    // defaults until the caller sets them.
    GizmoObject& AddFlipper(const Vec3& size, const Vec3& from, const Vec3& to) {
        fixedRecords.push_back(NewPrimitive3(false, size.x, size.y, size.z, 0, 0, from, {}));
        const std::uint8_t* first = fixedRecords.back().get();
        fixedRecords.push_back(NewPrimitive3(false, size.x, size.y, size.z, 0, 0, to, {}));
        GizmoObject& flipper = Adopt(NewFlipperObject());
        AddObjectPart(flipper, NewPart(first), first);
        SetUpMotion(flipper, first, fixedRecords.back().get());
        return flipper;
    }

    // Registers every object, puts the live records in the part table, builds the octree and
    // the surface table, places the objects and sets them moving (flippers and sliders only
    // when flippersMove is set).
    void Start(bool flippersMove = true) {
        for (auto& object : world.objects) {
            RegisterObjectParts(world, *object);
            for (std::size_t i = 0; i < object->partIds.size(); ++i) {
                partTable[static_cast<std::size_t>(object->partIds[i])] =
                    object->partPairs[i].live.get();
            }
        }
        UpdateSurfaceTable(geometry, true, {}, 0);
        for (auto& object : world.objects) {
            UpdateObjectParts(world, *object);
            if (object->isFlyer != 0 || flippersMove) StartMoving(world, *object);
        }
    }

    WorldStepCounts Step() { return StepWorld(world, FrameTime, bounds); }
};

}  // namespace world_test
