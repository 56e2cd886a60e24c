#pragma once

// The cursor's position on the screen, as the player's drags poll it once a frame instead of
// following pointer motion messages. The player installs a source over its display
// (DisplayCursor); tests install a ScriptedCursor that they move by hand. With none
// installed the cursor stands at the screen's origin.

#include "platform/layered_display.h"

class CursorSource {
public:
    virtual ~CursorSource() = default;
    // The cursor's position in screen pixels.
    virtual ScreenPoint CursorScreenPos() = 0;
};

// The cursor of a display.
class DisplayCursor final : public CursorSource {
public:
    // Over display (not owned; it must outlive this object).
    explicit DisplayCursor(LayeredDisplay& target) : display(&target) {}
    ScreenPoint CursorScreenPos() override { return display->CursorScreenPos(); }

private:
    LayeredDisplay* display;
};

// A cursor that stays where a test puts it.
class ScriptedCursor final : public CursorSource {
public:
    ScreenPoint CursorScreenPos() override { return position; }
    void MoveTo(std::int32_t x, std::int32_t y) { position = ScreenPoint{x, y}; }

private:
    ScreenPoint position;
};

// Installs source for every query (not owned; it must outlive its installation); null puts
// the cursor back at the origin.
void SetCursorSource(CursorSource* source);

// The cursor's screen position from the installed source; (0, 0) without one.
ScreenPoint GetCursorScreenPos();

// Installs a source for its lifetime, then goes back to none.
class ScopedCursorSource {
public:
    explicit ScopedCursorSource(CursorSource& source) { SetCursorSource(&source); }
    ~ScopedCursorSource() { SetCursorSource(nullptr); }
    ScopedCursorSource(const ScopedCursorSource&) = delete;
    ScopedCursorSource& operator=(const ScopedCursorSource&) = delete;
};
