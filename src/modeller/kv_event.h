#pragma once

// KVEvent carries one request into the modeller's event entry (QKVAction::HandleEvent): a
// command with its arguments or a mouse or key action of the current tool. The caller builds
// it, hands it over by pointer and destroys it; a failing handler leaves a reply code and
// text in it. The event owns its payload objects.

#include "core/colour.h"
#include "core/id_set.h"
#include "core/matrix4.h"
#include "model/view_settings.h"
#include "object/q_reference_object.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QRenderView;

// Mouse position of an event that has none.
inline constexpr std::int32_t EventNoPosition = 0x7FFFFFFF;

struct KVEvent {
    // Every field zero or empty but the final flag (1), the identity transform, an id set of
    // capacity 100 and default view settings.
    KVEvent() = default;

    KVEvent(const KVEvent&) = delete;
    KVEvent& operator=(const KVEvent&) = delete;

    // Makes this a tool-change event (type 52) for view: the defaults, the view, and the
    // view's settings when a view is given.
    void InitToolChange(QRenderView* toolView);

    std::uint8_t consumed = 0;
    std::int32_t headerWord = 0;
    std::uint8_t switchValue = 0;
    std::int32_t index = 0;
    Colour colour{};
    QReferenceObject* object = nullptr;  // a model object argument, not owned
    double number = 0.0;
    Matrix4 transform{};  // identity
    std::string text;
    std::array<std::int32_t, 5> words{};
    IdSet ids;
    ViewSettings viewSettings;
    std::vector<std::unique_ptr<QReferenceObject>> payloads;
    std::uint8_t copiedFlag = 0;
    std::int32_t mouseX = 0;
    std::int32_t mouseY = 0;
    std::array<std::int32_t, 3> tailWords{};
    std::int32_t type = 0;
    std::int32_t modifiers = 0;
    QRenderView* view = nullptr;
    std::uint8_t historyFlag = 0;
    std::uint8_t finalFlag = 1;
    std::string replyText;
    std::int32_t replyCode = 0;
};
