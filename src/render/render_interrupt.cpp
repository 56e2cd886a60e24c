#include "render/render_interrupt.h"

#include "platform/clock.h"
#include "platform/input_state.h"

std::int32_t RenderInterruptCheck(RenderPollState& poll) {
    if (poll.mode < 0) {
        if (PeekLeftButtonDownMessage()) throw UserAbortRender{};
    } else if (poll.mode > 0) {
        if (GetAsyncKeyState(VirtualKeyLeftButton) < 0 || AnyTriggerKeyDown()) {
            poll.timeStamp = timeGetTime();
            poll.mode = 0;
        }
    }
    return 0;
}
