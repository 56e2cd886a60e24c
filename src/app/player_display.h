#pragma once

// Chooses the player's display when it starts: the X display when one can be opened and it
// has a 32-bit ARGB visual, else (or when asked for) the headless display, which writes the
// frames to image files. The choice is made once, at run time, so the same program plays on
// a desktop, on a server and in CI.

#include "platform/layered_display.h"

#include <memory>
#include <string>

struct PlayerDisplayOptions {
    bool isHeadless = false;  // never try the X display
    std::string frameFolder;  // where the headless display writes frames ("" keeps none)
};

struct PlayerDisplay {
    std::unique_ptr<LayeredDisplay> display;  // never null
    bool isHeadless = false;
    std::string reason;  // why the display is headless; empty otherwise
};

// Opens the display as the options ask. Never fails: without a usable X display the result
// is headless, with the reason.
PlayerDisplay OpenPlayerDisplay(const PlayerDisplayOptions& options);
