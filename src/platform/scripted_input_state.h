#pragma once

// An input source that tests script: keys held or released at will, and a left-button-down
// message that appears in the queue once the queue has been looked at a given number of times.
// Installing it (ScopedInputStateSource) makes every input query answer from it.

#include "platform/input_state.h"

#include <array>
#include <cstdint>

class ScriptedInputState final : public InputStateSource {
public:
    bool IsKeyHeld(std::int32_t virtualKey) override;
    // Counts the look, then answers whether the scripted message has appeared.
    bool HasPendingLeftButtonDown() override;

    void HoldKey(std::int32_t virtualKey);
    void ReleaseKey(std::int32_t virtualKey);
    // The message is queued from the (peeks + 1)-th look on: 0 queues it at once.
    void QueueLeftButtonDownAfterPeeks(std::int32_t peeks);
    // Removes a queued or scripted message.
    void ClearQueue();
    // Looks into the queue so far.
    std::int32_t PeekCount() const { return peekCount; }

private:
    std::array<bool, 256> held{};
    std::int32_t peekCount = 0;
    std::int32_t queuedAfter = -1;  // looks before the message shows; -1: none scripted
};

// Installs a source for its lifetime and then goes back to the live record.
class ScopedInputStateSource {
public:
    explicit ScopedInputStateSource(InputStateSource& source) { SetInputStateSource(&source); }
    ~ScopedInputStateSource() { SetInputStateSource(nullptr); }
    ScopedInputStateSource(const ScopedInputStateSource&) = delete;
    ScopedInputStateSource& operator=(const ScopedInputStateSource&) = delete;
};
