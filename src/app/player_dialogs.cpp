#include "app/player_dialogs.h"

#include <cstdio>

void ConsoleDialogs::ShowMessage(const std::string& text) {
    std::fprintf(stderr, "orbelle: %s\n", text.c_str());
}
