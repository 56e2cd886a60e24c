#pragma once

// QMouseAction holds what every mouse tool shares between events: the view and document it
// works on and the points of the last press and move. The modeller's tool handler reads and
// writes the fields; only QKVAction is ever created.

#include "modeller/q_action.h"

#include <array>
#include <cstdint>

class QDocumentBase;
class QRenderView;

class QMouseAction : public QAction {
public:
    QRenderView* view = nullptr;
    QDocumentBase* document = nullptr;  // set by QKVAction
    std::uint8_t flag = 1;
    std::array<std::int32_t, 2> pressPoint{};
    std::array<std::int32_t, 2> currentPoint{};
    std::array<double, 2> moveDelta{};
};
