#include "view/view_draw_mode.h"

#include <array>

void ViewDrawStateSetMode(ViewDrawState& state, std::int32_t code) {
    static constexpr std::array<ViewDrawState, 6> Modes{{
        {0, false, false},
        {0, false, true},
        {0, true, false},
        {-1, false, false},
        {1, false, false},
        {2, false, false},
    }};
    if (code < 0 || code >= static_cast<std::int32_t>(Modes.size())) return;
    state = Modes[static_cast<std::size_t>(code)];
}

std::int32_t ViewDrawStateMode(const ViewDrawState& state) {
    if (state.lineStyle == 1) return 4;
    if (state.lineStyle == 2) return 5;
    if (state.lineStyle != 0) return 3;
    if (state.isWireframe) return 1;
    return state.isSketch ? 2 : 0;
}
