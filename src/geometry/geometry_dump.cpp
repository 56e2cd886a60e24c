#include "geometry/geometry_dump.h"

#include "geometry/feature_table.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <span>
#include <string_view>

namespace {

void AppendNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    // -0 is written as 0: the sign of a zero says nothing about the geometry.
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value + 0.0);
    out.append(buffer, result.ptr);
}

void AppendInteger(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    out.append(buffer, result.ptr);
}

// "key": with the comma before it unless it opens its object.
void AppendKey(std::string& out, std::string_view key, bool first = false) {
    if (!first) out.push_back(',');
    out.push_back('"');
    out += key;
    out += "\":";
}

void AppendNumbers(std::string& out, std::span<const double> values) {
    out.push_back('[');
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i != 0) out.push_back(',');
        AppendNumber(out, values[i]);
    }
    out.push_back(']');
}

void AppendPoint(std::string& out, const Vec3& p) {
    const double values[3] = {p.x, p.y, p.z};
    AppendNumbers(out, values);
}

void AppendFeatures(std::string& out, const FeatureTable* table) {
    out += "{\"corners\":[";
    if (table != nullptr) {
        bool first = true;
        for (const Vec3& corner : FeatureTableCorners(*table)) {
            if (!first) out.push_back(',');
            first = false;
            AppendPoint(out, corner);
        }
    }
    out += "],\"edges\":[";
    if (table != nullptr) {
        bool first = true;
        for (const FeatureEdge& edge : FeatureTableEdges(*table)) {
            if (!first) out.push_back(',');
            first = false;
            out.push_back('[');
            AppendInteger(out, edge.surface);
            out.push_back(',');
            AppendInteger(out, edge.otherSurface);
            out.push_back(',');
            AppendInteger(out, static_cast<std::int32_t>(edge.curve));
            if (edge.curve == FeatureCurve::TwoCurved) {
                out.push_back(',');
                AppendNumbers(out, edge.plane);
            }
            out.push_back(']');
        }
    }
    out += "]}";
}

void AppendPart(std::string& out, std::int32_t index, const PartRenderRecord& part) {
    out.push_back('{');
    AppendKey(out, "index", true);
    AppendInteger(out, index);
    AppendKey(out, "type");
    AppendInteger(out, static_cast<std::int32_t>(part.shapeType));
    AppendKey(out, "partId");
    AppendInteger(out, part.partId);
    AppendKey(out, "buildResult");
    AppendInteger(out, part.buildResult);
    AppendKey(out, "visible");
    AppendInteger(out, part.visible);
    AppendKey(out, "surfaceCount");
    AppendInteger(out, part.surfaceCount);
    AppendKey(out, "shapeClass");
    AppendInteger(out, part.shapeClass);
    AppendKey(out, "surfaces");
    out.push_back('[');
    const std::span<const Matrix4W> surfaces = part.Surfaces();
    const auto used = static_cast<std::size_t>(
        std::clamp(part.surfaceCount, 0, static_cast<std::int32_t>(surfaces.size())));
    for (std::size_t s = 0; s < used; ++s) {
        if (s != 0) out.push_back(',');
        AppendNumbers(out, surfaces[s].m);
    }
    out.push_back(']');
    AppendKey(out, "bound");
    out.push_back('{');
    AppendKey(out, "quadric", true);
    AppendNumbers(out, part.boundQuadric.m);
    AppendKey(out, "centre");
    AppendPoint(out, part.boundCentre);
    AppendKey(out, "radius");
    AppendNumber(out, part.boundRadius);
    out.push_back('}');
    AppendKey(out, "proxy");
    out.push_back('{');
    AppendKey(out, "kind", true);
    AppendInteger(out, static_cast<std::int32_t>(part.proxyKind));
    AppendKey(out, "form");
    AppendNumbers(out, part.proxy.m);
    out.push_back('}');
    AppendKey(out, "features");
    AppendFeatures(out, part.features);
    out.push_back('}');
}

}  // namespace

std::string GeometryDumpJson(const SceneGeometry& geometry) {
    std::string out = "{\"parts\":[";
    for (std::int32_t i = 0; i < geometry.PartCount(); ++i) {
        out += i == 0 ? "\n" : ",\n";
        AppendPart(out, i, *geometry.Part(i));
    }
    out += "\n]}\n";
    return out;
}
