#pragma once

// Where the monitors' work areas come from for code below the player: the part of a screen
// that windows may cover (the screen less its panels and docks). The gizmo loader fits the
// gizmo's window into the work area of the monitor the window lies on. The player installs
// a source over its display's monitors (DisplayWorkAreas); until one is installed, and in
// tests and headless runs, one fixed work area answers for every rectangle.

#include "platform/layered_display.h"

// The work area a process without a display answers with: one 1024 x 768 monitor at the
// origin.
inline constexpr ScreenRect DefaultWorkArea{0, 0, 1024, 768};

// Where work areas come from.
class WorkAreaSource {
public:
    virtual ~WorkAreaSource() = default;
    // The work area of the monitor that rect lies on (the primary monitor when it lies on
    // none).
    virtual ScreenRect WorkAreaOf(const ScreenRect& rect) const = 0;
    // The work area of the monitor that rect lies on, the nearest one when it lies on none.
    // A source with one work area answers as WorkAreaOf does.
    virtual ScreenRect NearestWorkAreaOf(const ScreenRect& rect) const { return WorkAreaOf(rect); }
};

// One work area for every rectangle.
class FixedWorkArea final : public WorkAreaSource {
public:
    explicit FixedWorkArea(const ScreenRect& workArea) : area(workArea) {}
    ScreenRect WorkAreaOf(const ScreenRect&) const override { return area; }

private:
    ScreenRect area;
};

// The work areas of a display's monitors (MonitorFromRect, not nearest); a display that
// tells no monitors answers with DefaultWorkArea.
class DisplayWorkAreas final : public WorkAreaSource {
public:
    // Over display (not owned; it must outlive this object).
    explicit DisplayWorkAreas(const LayeredDisplay& target) : display(&target) {}
    ScreenRect WorkAreaOf(const ScreenRect& rect) const override;
    ScreenRect NearestWorkAreaOf(const ScreenRect& rect) const override;

private:
    const LayeredDisplay* display;
};

// Installs source for every query (not owned; it must outlive its installation); null goes
// back to DefaultWorkArea.
void SetWorkAreaSource(const WorkAreaSource* source);

// The work area of the monitor that rect lies on, from the installed source.
ScreenRect GetWorkArea(const ScreenRect& rect);

// The work area of the monitor that rect lies on or is nearest to, from the installed
// source: how a window that is being dragged or resized finds its monitor.
ScreenRect GetNearestWorkArea(const ScreenRect& rect);

// Installs a source for its lifetime, then goes back to the default.
class ScopedWorkAreaSource {
public:
    explicit ScopedWorkAreaSource(const WorkAreaSource& source) { SetWorkAreaSource(&source); }
    ~ScopedWorkAreaSource() { SetWorkAreaSource(nullptr); }
    ScopedWorkAreaSource(const ScopedWorkAreaSource&) = delete;
    ScopedWorkAreaSource& operator=(const ScopedWorkAreaSource&) = delete;
};
