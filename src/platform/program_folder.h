#pragma once

// The folder the running program was started from, where the player looks for its sounds
// and its bundled gizmos.

#include <string>

// The program's folder with a trailing "/", from the process's own executable; "./" when the
// system does not tell it.
std::string ProgramFolder();
