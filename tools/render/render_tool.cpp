// render: renders the parts of a part block file or a scene file, seen from a camera, into a
// shaded frame and saves it; optionally dumps the id and depth buffers and the parts'
// view-space surfaces as text.
//
//   render (--blocks FILE | --scene FILE) --out IMAGE [--size WxH] [--eye X,Y,Z]
//          [--target X,Y,Z] [--up X,Y,Z] [--focal PIXELS] [--picture shaded|ids]
//          [--ids FILE] [--depth FILE] [--surfaces FILE]
//          [--animate TICKS --move I,J,... [--step X,Y,Z]] [--edges smooth|outlines]
//          [--highlights plain|broad]
//
// With --edges the pixel pass runs: smooth integrates the boundary pixels (anti-aliased
// edges, partial alpha on the silhouettes); outlines also draws black outlines 1.5 pixels
// wide along the boundaries of the shaded parts.
// With --highlights broad the highlights of curved parts are averaged over each pixel's
// footprint where the surface turns fast across a pixel (plain, the default, samples them at
// the pixel centres).
// With --animate the listed parts (part indices) move: the scene is rendered whole without
// them and kept as the background, then one incremental frame is rendered per tick, the
// first with the parts where they are, each further one with them moved by the step (world
// units, default 0.1,0,0). Frame k is saved as the output name with _k (three digits) before
// its extension; the dumps are not written.
//
// A part block is seen from --eye towards --target (the defaults look at the origin from
// -50 on z) and lit by one white light above and to the left of the eye; a scene is seen
// through its own camera and lit by its own lights unless --eye is given. The picture is the
// shaded frame (32-bit, straight alpha: 0 on the background) or, with --picture ids, the
// id preview. The image type follows the extension: TIFF keeps the alpha (unassociated, so
// straight); the image library's BMP and JPEG encoders write 24 bits and drop it, and it
// writes no PNG. Exit status 0 on success, 1 when a file cannot be
// read or written or is refused, 2 for bad arguments.

#include "app/process_init.h"
#include "core/colour.h"
#include "geometry/part_block.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "imaging/image_file.h"
#include "model/q_document_base.h"
#include "platform/file_bytes.h"
#include "platform/safe_file_writer.h"
#include "render/cast_frame_pass.h"
#include "render/look_at_view.h"
#include "render/q_render.h"
#include "render/render_dump.h"
#include "render/render_parts.h"
#include "render/scene_render_parts.h"
#include "render/span_shade.h"
#include "scenefile/scene_file_reader.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Options {
    std::string blocks;
    std::string scene;
    bool hasEye = false;
    std::string out;
    std::string ids;
    std::string depth;
    std::string surfaces;
    std::int32_t width = 640;
    std::int32_t height = 480;
    Vec3 eye{0.0, 0.0, -50.0};
    Vec3 target{0.0, 0.0, 0.0};
    Vec3 up{0.0, 1.0, 0.0};
    double focal = 1000.0;
    bool isIdPicture = false;
    std::int32_t ticks = 0;
    std::vector<std::int32_t> moving;
    Vec3 step{0.1, 0.0, 0.0};
    bool isRefined = false;
    bool isOutlined = false;
    bool isBroadHighlights = false;
};

constexpr const char* Usage =
    "usage: render (--blocks FILE | --scene FILE) --out IMAGE [--size WxH] [--eye X,Y,Z]\n"
    "              [--target X,Y,Z] [--up X,Y,Z] [--focal PIXELS] [--picture shaded|ids]\n"
    "              [--ids FILE] [--depth FILE] [--surfaces FILE]\n"
    "              [--animate TICKS --move I,J,... [--step X,Y,Z]] [--edges smooth|outlines]\n"
    "              [--highlights plain|broad]\n";

bool ParseDouble(std::string_view text, double& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ParseVec3(std::string_view text, Vec3& v) {
    double values[3];
    for (int i = 0; i < 3; ++i) {
        const std::size_t comma = i < 2 ? text.find(',') : text.size();
        if (comma == std::string_view::npos || !ParseDouble(text.substr(0, comma), values[i])) {
            return false;
        }
        text.remove_prefix(i < 2 ? comma + 1 : comma);
    }
    v = {values[0], values[1], values[2]};
    return true;
}

bool ParseSize(std::string_view text, std::int32_t& width, std::int32_t& height) {
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos) return false;
    const auto w = std::from_chars(text.data(), text.data() + x, width);
    const auto h = std::from_chars(text.data() + x + 1, text.data() + text.size(), height);
    return w.ec == std::errc() && w.ptr == text.data() + x && h.ec == std::errc() &&
           h.ptr == text.data() + text.size();
}

bool ParseIndices(std::string_view text, std::vector<std::int32_t>& indices) {
    while (!text.empty()) {
        const std::size_t comma = std::min(text.find(','), text.size());
        std::int32_t index = 0;
        const auto result = std::from_chars(text.data(), text.data() + comma, index);
        if (result.ec != std::errc() || result.ptr != text.data() + comma || index < 0) {
            return false;
        }
        indices.push_back(index);
        text.remove_prefix(std::min(comma + 1, text.size()));
    }
    return !indices.empty();
}

std::optional<Options> ParseArguments(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (i + 1 >= argc) return std::nullopt;
        const std::string_view value = argv[++i];
        bool ok = true;
        if (name == "--blocks") {
            o.blocks = value;
        } else if (name == "--scene") {
            o.scene = value;
        } else if (name == "--out") {
            o.out = value;
        } else if (name == "--ids") {
            o.ids = value;
        } else if (name == "--depth") {
            o.depth = value;
        } else if (name == "--surfaces") {
            o.surfaces = value;
        } else if (name == "--size") {
            ok = ParseSize(value, o.width, o.height);
        } else if (name == "--eye") {
            ok = ParseVec3(value, o.eye);
            o.hasEye = true;
        } else if (name == "--target") {
            ok = ParseVec3(value, o.target);
        } else if (name == "--up") {
            ok = ParseVec3(value, o.up);
        } else if (name == "--picture") {
            ok = value == "shaded" || value == "ids";
            o.isIdPicture = value == "ids";
        } else if (name == "--animate") {
            const auto result = std::from_chars(value.data(), value.data() + value.size(), o.ticks);
            ok = result.ec == std::errc() && result.ptr == value.data() + value.size() &&
                 o.ticks >= 1 && o.ticks <= 9999;
        } else if (name == "--move") {
            ok = ParseIndices(value, o.moving);
        } else if (name == "--step") {
            ok = ParseVec3(value, o.step);
        } else if (name == "--edges") {
            ok = value == "smooth" || value == "outlines";
            o.isRefined = true;
            o.isOutlined = value == "outlines";
        } else if (name == "--highlights") {
            ok = value == "plain" || value == "broad";
            o.isBroadHighlights = value == "broad";
        } else if (name == "--focal") {
            ok = ParseDouble(value, o.focal) && o.focal > 0.0;
        } else {
            ok = false;
        }
        if (!ok) return std::nullopt;
    }
    if (o.blocks.empty() == o.scene.empty() || o.out.empty()) return std::nullopt;
    if ((o.ticks > 0) != !o.moving.empty()) return std::nullopt;
    return o;
}

bool WriteText(const std::string& path, const std::string& text) {
    SafeFileWriter writer;
    if (writer.Open(path) != FileOpenError::None) return false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    return writer.Write(std::span<const std::uint8_t>(bytes, text.size())) && writer.Commit();
}

// Loads the part block file into geometry; false (with a message) when it cannot.
bool LoadBlockFile(const std::string& path, SceneGeometry& geometry) {
    FileBytes file;
    if (file.Read(path) != FileOpenError::None) {
        std::fprintf(stderr, "render: cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<std::uint8_t> block(file.Bytes().begin(), file.Bytes().end());
    const std::int32_t loaded =
        block.size() > UINT32_MAX
            ? PartBlockRejected
            : LoadPartBlock(geometry, block.data(), static_cast<std::uint32_t>(block.size()), true,
                            nullptr, false);
    if (loaded == PartBlockRejected) {
        std::fprintf(stderr, "render: %s is not a part block this program reads\n", path.c_str());
        return false;
    }
    return true;
}

bool SaveFrame(std::vector<std::uint32_t>& pixels, const Options& o, const std::string& path) {
    static_assert(std::endian::native == std::endian::little, "pixel words are stored BGRA");
    std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(pixels.data());
    std::string error;
    if (SaveImageFile(bytes, o.width, o.height, path, true, 90, true, 0, 0, error, false, false,
                      0) != ImageFileOk) {
        std::fprintf(stderr, "render: cannot save %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

// The output name of frame k: _k in three digits before the extension.
std::string FramePath(const std::string& out, std::int32_t k) {
    char number[16];
    std::snprintf(number, sizeof number, "_%03d", k);
    const std::size_t slash = out.find_last_of("/\\");
    const std::size_t dot = out.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return hasExtension ? out.substr(0, dot) + number + out.substr(dot) : out + number;
}

// Moves a part by d in world space: its placement and its bound follow.
void MovePart(PartRenderRecord& record, const Vec3& d) {
    Matrix4W back = ToWFirstMatrix(MakeIdentity());  // world after the move to world before
    back.m[4] = -d.x;
    back.m[8] = -d.y;
    back.m[12] = -d.z;
    record.localFromWorld = Matrix4Product(record.localFromWorld, back);
    record.boundQuadric = QuadricTransform(record.boundQuadric, back);
}

// The background without the moving parts, then a frame per tick.
int Animate(const Options& o, QRender& render, SceneGeometry& geometry,
            std::vector<std::uint32_t>& pixels) {
    for (const std::int32_t i : o.moving) {
        if (i >= geometry.PartCount()) {
            std::fprintf(stderr, "render: part %d is not in the scene (%d parts)\n", i,
                         geometry.PartCount());
            return 2;
        }
    }
    for (const std::int32_t i : o.moving) geometry.Part(i)->visible = 0;
    render.RenderFrame(nullptr, false, nullptr, 0);
    const std::int32_t kept = render.AllocAuxBuffers();
    for (const std::int32_t i : o.moving) geometry.Part(i)->visible = 1;
    if (kept != 0) {
        std::fprintf(stderr, "render: no memory for the background\n");
        return 1;
    }
    std::vector<std::int32_t> list{static_cast<std::int32_t>(o.moving.size())};
    list.insert(list.end(), o.moving.begin(), o.moving.end());
    for (std::int32_t tick = 0; tick <= o.ticks; ++tick) {
        if (tick > 0) {
            for (const std::int32_t i : o.moving) MovePart(*geometry.Part(i), o.step);
        }
        render.RenderFrame(list.data(), false, nullptr, 0);
        if (!SaveFrame(pixels, o, FramePath(o.out, tick))) return 1;
    }
    std::printf("parts %d, frames %d\n", render.parts.Count(), o.ticks + 1);
    return 0;
}

int Run(const Options& o) {
    QDocumentBase document;
    QRenderView documentView(&document);
    SceneGeometry blockGeometry;
    SceneGeometry* geometry = &blockGeometry;
    std::optional<Matrix4W> view;
    if (!o.scene.empty()) {
        // The scene brings its own lights, as when the player opens a gizmo.
        documentView.viewSettings.lights.RemoveAll();
        const std::int16_t loaded = LoadSceneFile(document, o.scene, nullptr);
        if (loaded != 0 || document.Geometry() == nullptr) {
            std::fprintf(stderr, "render: %s could not be read (result %d)\n", o.scene.c_str(),
                         loaded);
            return 1;
        }
        geometry = document.Geometry();
        if (!o.hasEye) view = ToWFirstMatrix(documentView.GetViewMatrix());
    } else if (!LoadBlockFile(o.blocks, blockGeometry)) {
        return 1;
    }
    if (!view) view = ViewFromLookAt(o.eye, o.target, o.up);
    if (!view) {
        std::fprintf(stderr, "render: the eye, target and up give no view\n");
        return 2;
    }

    // The document's view is the renderer; it hands the scene's colours and lights over.
    QRenderView& render = documentView;
    // The draw mode asks for the outlines (shaded, 1.5 pixels wide in black) or the point
    // samples as cast; smooth edges alone are asked of the renderer below.
    render.SetDrawMode(o.isOutlined ? 3 : o.isRefined ? 0 : 1);
    if (o.isOutlined) {
        render.viewSettings.viewScale2 = 1.5f;
        render.viewSettings.colours[4] = ColourFromBytes(0, 0, 0);
    }
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(o.width) *
                                      static_cast<std::size_t>(o.height));
    if (!render.InitViewBuffers(o.width * 4, pixels.data(), o.width, o.height, false)) {
        std::fprintf(stderr, "render: cannot render at %dx%d\n", o.width, o.height);
        return 2;
    }
    render.PrepareRender(render.viewSettings);
    render.focalScale = o.focal / 1000.0;
    if (o.blocks.empty() && !o.hasEye) {
        render.focalScale = render.viewSettings.camera.fov * render.viewSettings.camera.m;
    } else {
        // Not the scene's camera: one white light above and to the left of the eye.
        render.SetLightCounts(1, 0);
        RenderLightSlot& light = render.LightSlot(0);
        light.enabled = 1;
        light.position = Vec3{-1e6, -1.5e6, -1e6};
        RenderLightSlotSetColours(light, {1.0, 1.0, 1.0}, {0.0, 0.0, 0.0}, 1.0);
        light.hasRange = false;
    }
    render.edges.isRefined = o.isRefined;
    render.shade.isCurvatureHighlights = o.isBroadHighlights;
    LoadRenderParts(render, *geometry, *view);
    if (o.ticks > 0) return Animate(o, render, *geometry, pixels);
    const std::int32_t cast = RenderShadedFrame(render);
    if (o.isIdPicture && cast != CastEyeInside) {
        RenderIdPreview(render, pixels.data(), o.width, o.height, o.width);
    }
    std::printf("parts %d, cast result %d\n", render.parts.Count(), cast);

    if (!SaveFrame(pixels, o, o.out)) return 1;
    const std::pair<const std::string*, std::string> dumps[] = {
        {&o.ids, o.ids.empty() ? std::string() : RenderIdDump(render)},
        {&o.depth, o.depth.empty() ? std::string() : RenderDepthDump(render)},
        {&o.surfaces, o.surfaces.empty() ? std::string() : RenderSurfacesDump(render)},
    };
    for (const auto& [path, text] : dumps) {
        if (path->empty()) continue;
        if (!WriteText(*path, text)) {
            std::fprintf(stderr, "render: cannot write %s\n", path->c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseArguments(argc, argv);
    if (!options) {
        std::fputs(Usage, stderr);
        return 2;
    }
    InitProcess();
    const int status = Run(*options);
    ShutdownProcess();
    return status;
}
