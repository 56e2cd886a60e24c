#pragma once

// The work area of the monitors: the part of a screen that windows may cover (the screen less
// its task bars). The player fits its window into the work area of the monitor the window
// lies on. The window layer installs a source that asks the display; until one is installed,
// and in tests and headless runs, a fixed work area answers for every rectangle.

#include <cstdint>

// A screen rectangle in pixels; right and bottom exclusive.
struct ScreenRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// The work area a headless process answers with: one 1024 x 768 monitor at the origin.
inline constexpr ScreenRect DefaultWorkArea{0, 0, 1024, 768};

// Where work areas come from.
class WorkAreaSource {
public:
    virtual ~WorkAreaSource() = default;
    // The work area of the monitor that rect lies on (the primary monitor when it lies on
    // none).
    virtual ScreenRect WorkAreaOf(const ScreenRect& rect) const = 0;
};

// One work area for every rectangle.
class FixedWorkArea final : public WorkAreaSource {
public:
    explicit FixedWorkArea(const ScreenRect& workArea) : area(workArea) {}
    ScreenRect WorkAreaOf(const ScreenRect&) const override { return area; }

private:
    ScreenRect area;
};

// Installs source for every query (not owned; it must outlive its installation); null goes
// back to DefaultWorkArea.
void SetWorkAreaSource(const WorkAreaSource* source);

// The work area of the monitor that rect lies on, from the installed source.
ScreenRect GetWorkArea(const ScreenRect& rect);

// Installs a source for its lifetime, then goes back to the default.
class ScopedWorkAreaSource {
public:
    explicit ScopedWorkAreaSource(const WorkAreaSource& source) { SetWorkAreaSource(&source); }
    ~ScopedWorkAreaSource() { SetWorkAreaSource(nullptr); }
    ScopedWorkAreaSource(const ScopedWorkAreaSource&) = delete;
    ScopedWorkAreaSource& operator=(const ScopedWorkAreaSource&) = delete;
};
