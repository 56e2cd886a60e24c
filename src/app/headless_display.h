#pragma once

// The player's display where there is no screen (a server, CI, or by choice): it plays the
// part of the layered window and writes every frame it is handed to an image file instead,
// frame_000001.tif, frame_000002.tif, ... in its folder, as TIFF with associated alpha (the
// premultiplied words as presented). It has one monitor of a chosen size, a cursor that
// stays where it is put, and no events.

#include "platform/layered_display.h"

#include <cstdint>
#include <string>
#include <vector>

class HeadlessDisplay final : public LayeredDisplay {
public:
    // Writes frames into frameFolder (which must exist); an empty folder keeps only the last
    // frame in memory. The one monitor is monitorWidth x monitorHeight at (0, 0), its work
    // area the whole of it.
    explicit HeadlessDisplay(std::string frameFolder, std::int32_t monitorWidth = 1024,
                             std::int32_t monitorHeight = 768);

    std::span<std::uint32_t> FrameStore(std::int32_t width, std::int32_t height) override;
    // Writes the frame store's frame to the next file. False, with the reason in LastError,
    // when the file cannot be written; the frame still counts as shown.
    bool UpdateLayeredWindow(std::int32_t left, std::int32_t top) override;
    void MoveWindow(const ScreenRect& rect) override;
    void ShowWindow(bool shown) override;
    bool IsWindowShown() const override { return isShown; }
    ScreenRect WindowRect() const override { return rect; }
    std::span<const MonitorInfo> Monitors() const override { return monitors; }
    ScreenPoint CursorScreenPos() override { return cursor; }
    void ProcessEvents() override {}

    void SetCursorScreenPos(ScreenPoint point) { cursor = point; }

    // Frames handed over so far; a copy of the last one (premultiplied words, rows packed:
    // the frame store as it was handed over, until the store is asked for again; empty before
    // the first); the file it went to (empty when kept in memory only).
    std::int32_t FrameCount() const { return frameCount; }
    std::vector<std::uint32_t> LastFrame() const;
    const std::string& LastFramePath() const { return lastPath; }
    // Times the window was shown and hidden.
    std::int32_t ShowCount() const { return showCount; }
    std::int32_t HideCount() const { return hideCount; }
    // Why the last frame could not be written; empty after a success.
    const std::string& LastError() const { return lastError; }

private:
    std::string frameFolder;
    std::vector<MonitorInfo> monitors;
    std::vector<std::uint32_t> store;
    std::int32_t storeWidth = 0;
    std::int32_t storeHeight = 0;
    bool hasFrame = false;
    std::string lastPath;
    std::string lastError;
    std::int32_t frameCount = 0;
    std::int32_t showCount = 0;
    std::int32_t hideCount = 0;
    ScreenRect rect;
    ScreenPoint cursor;
    bool isShown = false;
};
