#include "platform/input_state.h"

#include <array>

namespace {

// The live record: one held flag per virtual key code, and the queued left-button presses.
class LiveInputState final : public InputStateSource {
public:
    bool IsKeyHeld(std::int32_t virtualKey) override {
        return virtualKey >= 0 && virtualKey < KeyCount &&
               held[static_cast<std::size_t>(virtualKey)];
    }
    bool HasPendingLeftButtonDown() override { return pendingPresses > 0; }

    static constexpr std::int32_t KeyCount = 256;
    std::array<bool, KeyCount> held{};
    std::int32_t pendingPresses = 0;
};

LiveInputState& Live() {
    static LiveInputState live;
    return live;
}

InputStateSource* gInputSource = nullptr;

InputStateSource& Source() { return gInputSource != nullptr ? *gInputSource : Live(); }

}  // namespace

void SetInputStateSource(InputStateSource* source) { gInputSource = source; }

std::int16_t GetAsyncKeyState(std::int32_t virtualKey) {
    return Source().IsKeyHeld(virtualKey) ? static_cast<std::int16_t>(-32768) : 0;
}

bool IsLeftButtonDown() { return GetAsyncKeyState(VirtualKeyLeftButton) < 0; }

bool AnyTriggerKeyDown() {
    for (std::int32_t i = 0; i < 3; ++i) {
        if (GetAsyncKeyState(VirtualKeyDigit1 + i) < 0) return true;
        if (GetAsyncKeyState(VirtualKeyNumpad1 + i) < 0) return true;
    }
    return false;
}

bool PeekLeftButtonDownMessage() { return Source().HasPendingLeftButtonDown(); }

void InputStateSetKeyHeld(std::int32_t virtualKey, bool held) {
    if (virtualKey < 0 || virtualKey >= LiveInputState::KeyCount) return;
    Live().held[static_cast<std::size_t>(virtualKey)] = held;
}

void InputStatePostLeftButtonDown() { ++Live().pendingPresses; }

bool InputStateTakeLeftButtonDown() {
    if (Live().pendingPresses == 0) return false;
    --Live().pendingPresses;
    return true;
}

void InputStateClear() {
    Live().held.fill(false);
    Live().pendingPresses = 0;
}
