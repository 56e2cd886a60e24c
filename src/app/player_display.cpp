#include "app/player_display.h"

#include "app/headless_display.h"
#include "platform/x_layered_display.h"

PlayerDisplay OpenPlayerDisplay(const PlayerDisplayOptions& options) {
    PlayerDisplay result;
    if (options.isHeadless) {
        result.reason = "headless play was asked for";
    } else if (auto x = XLayeredDisplay::Open(result.reason)) {
        result.display = std::move(x);
        return result;
    }
    result.display = std::make_unique<HeadlessDisplay>(options.frameFolder);
    result.isHeadless = true;
    return result;
}
