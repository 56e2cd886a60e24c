#pragma once

// How a view draws its scene: the line style the renderer takes as its draw style (0 shaded,
// negative shaded with outlines, 1 one flat colour, 2 part colours) and the sketch and
// wireframe switches. The draw-mode codes 0..5 name the combinations the modeller offers:
//
//   code  line style  sketch  wireframe
//   0     0           0       0
//   1     0           0       1
//   2     0           1       0
//   3     -1          0       0
//   4     1           0       0
//   5     2           0       0

#include <cstdint>

struct ViewDrawState {
    std::int32_t lineStyle = 0;
    bool isSketch = false;
    bool isWireframe = false;
};

// Sets state to draw-mode code 0..5; any other code leaves it unchanged.
void ViewDrawStateSetMode(ViewDrawState& state, std::int32_t code);

// The draw-mode code of state: line style 1 gives 4, 2 gives 5, any other non-zero style 3;
// with style 0, wireframe gives 1, sketch alone 2, neither 0.
std::int32_t ViewDrawStateMode(const ViewDrawState& state);
