#pragma once

// The player's dialogs on a desktop, through FLTK: message boxes, the Open dialog (FLTK's
// file chooser), the context menu and the start sheet with its About, Prefs, Camera and
// Gizmo pages. FLTK keeps its own connection to the display; its windows are ordinary
// decorated ones beside the gizmo's layered window.

#include "app/player_dialogs.h"

#include <memory>

// The FLTK dialogs. Needs a display (the player makes them only when its window opened on
// one).
std::unique_ptr<PlayerDialogs> MakeFltkDialogs();
