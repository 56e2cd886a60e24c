#pragma once

// The layered window on an X display: a borderless top-level window on a 32-bit TrueColor
// visual whose top byte is alpha, so a compositing window manager blends every pixel by its
// own alpha. Frames are put whole from the frame store, and the window repaints itself from
// the store when the server asks (exposure), so nothing of the player paints it otherwise.
// The X types stay inside the implementation; this header shows none of them.

#include "platform/layered_display.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class XLayeredDisplay final : public LayeredDisplay {
public:
    // Opens the display named by DISPLAY and creates the (hidden) window. Null, with the
    // reason in whyNot, when no display can be opened or it has no 32-bit ARGB visual.
    static std::unique_ptr<XLayeredDisplay> Open(std::string& whyNot);

    ~XLayeredDisplay() override;
    XLayeredDisplay(const XLayeredDisplay&) = delete;
    XLayeredDisplay& operator=(const XLayeredDisplay&) = delete;

    std::span<std::uint32_t> FrameStore(std::int32_t width, std::int32_t height) override;
    bool UpdateLayeredWindow(std::int32_t left, std::int32_t top) override;
    void MoveWindow(const ScreenRect& rect) override;
    // Showing waits (a second at most) until the server has mapped the window, so a frame
    // put right after it reaches the screen.
    void ShowWindow(bool shown) override;
    bool IsWindowShown() const override;
    ScreenRect WindowRect() const override;
    std::span<const MonitorInfo> Monitors() const override;
    ScreenPoint CursorScreenPos() override;
    void ProcessEvents() override;

    // The depth of the window's visual (32).
    std::int32_t VisualDepth() const;

    // The window's pixels as the server holds them, rows packed, read back from the server;
    // empty when the window is not viewable.
    std::vector<std::uint32_t> ReadWindowPixels();

    // Waits for the server to have done everything asked of it so far.
    void Sync();

    // Has the server deliver to the window a key going down or up, named as X names key
    // symbols ("2", "KP_1", "Return"), with NumLock on or off; or pointer button 1 to 5.
    // ProcessEvents then reads them as it reads the user's. False for an unknown name.
    bool SendKeyForTesting(const std::string& keyName, bool down, bool numLock);
    void SendButtonForTesting(std::int32_t button, bool down);

private:
    struct State;
    explicit XLayeredDisplay(std::unique_ptr<State> state);
    void Repaint(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height);

    std::unique_ptr<State> state;
};
