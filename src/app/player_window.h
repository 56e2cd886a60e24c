#pragma once

// The player's window as the frame step, the loader and the input handlers use it: the view
// bitmap the renderer draws into and the overlay writes over, its presentation on the
// layered display, moving the window, the monitor work area and the cursor.
//
// The view bitmap holds the renderer's straight-alpha 0xAARRGGBB words (background alpha 0).
// A compositor blends premultiplied colour, so presentation premultiplies while it copies
// the bitmap into the display's frame store: the one pass over the pixels on the way to the
// screen. The bitmap itself is never premultiplied in place, since an incremental frame
// keeps the pixels of the regions it does not redraw.

#include "core/private_block.h"
#include "platform/layered_display.h"

#include <cstddef>
#include <cstdint>

class PlayerWindow {
public:
    // The window on the display (not owned; it must outlive this object).
    explicit PlayerWindow(LayeredDisplay& target);
    PlayerWindow(const PlayerWindow&) = delete;
    PlayerWindow& operator=(const PlayerWindow&) = delete;

    // Replaces the view bitmap with a zero-filled (transparent) width x height one, rows
    // packed top-down, and returns its pixels, the renderer's target. A size that is not
    // positive gives no bitmap and null. Throws KVOutOfMemoryException when the memory is
    // refused (the player then ends with its out-of-memory message).
    std::uint32_t* CreateViewBitmap(std::int32_t width, std::int32_t height);

    // The view bitmap's pixels (null before CreateViewBitmap) and size.
    std::uint32_t* ViewBits() const { return viewBits.get(); }
    std::int32_t ViewWidth() const { return viewWidth; }
    std::int32_t ViewHeight() const { return viewHeight; }

    // Shows the view bitmap's top-left width x height pixels, premultiplied, as the window's
    // whole contents at (left, top); what lies outside the bitmap is transparent. False when
    // there is no bitmap, the size is not positive or the display refuses. Throws
    // KVOutOfMemoryException when the display's frame store cannot grow.
    bool PresentLayeredWindow(std::int32_t left, std::int32_t top, std::int32_t width,
                              std::int32_t height);

    // Moves the window to the rectangle and presents it there. When the top-left corner
    // moves, the window is hidden for the move and shown again afterwards, so the old frame
    // is never seen at the new place. Returns PresentLayeredWindow's result.
    bool MoveAndPresent(std::int32_t left, std::int32_t top, std::int32_t right,
                        std::int32_t bottom, std::int32_t oldLeft, std::int32_t oldTop);

    // Sets rect to the work area of a monitor: with a point, the monitor nearest to it;
    // else the rectangle's monitor, the nearest one when nearest is set and the primary one
    // otherwise when the rectangle is on none. A display without monitors leaves rect as it
    // was.
    void GetWorkArea(const ScreenPoint* point, ScreenRect& rect, bool nearest) const;

    // The cursor's position on the screen.
    ScreenPoint GetCursorScreenPos();

    LayeredDisplay& Display() const { return display; }

private:
    LayeredDisplay& display;
    PrivateBlockPtr<std::uint32_t> viewBits;
    std::int32_t viewWidth = 0;
    std::int32_t viewHeight = 0;
};

// Writes count straight-alpha words from src to dst premultiplied: each colour byte becomes
// round(c x a / 255), alpha stays. A pixel of alpha 0 becomes 0.
void PremultiplyPixels(const std::uint32_t* src, std::uint32_t* dst, std::size_t count);
