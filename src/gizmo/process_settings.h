#pragma once

// The process-wide settings record of the document layer. It is created with the first scene
// document and deleted when the gizmo's document closes. Of its fields the model reads two
// switches: the display-list switch, on in a new record, tested before an object's GL
// display list is released; and the logging switch, off in a new record, which gates the
// operation log.

#include <cstdint>
#include <string>
#include <vector>

struct ProcessSettings {
    std::string texts[4];
    std::vector<std::string> collections[6];
    std::uint8_t displayListSwitch = 1;
    std::uint8_t loggingSwitch = 0;
    std::uint8_t templateSwitch = 0;
    std::string moreTexts[2];
    std::int32_t windowX = INT32_MIN;  // "use default" position
    std::int32_t windowY = INT32_MIN;
    std::int32_t windowWidth = 1024;
    std::int32_t windowHeight = 768;
    std::int32_t reserved = 0;
    std::uint8_t flags[2] = {0, 0};
};

// The current record, or null when none exists.
ProcessSettings* CurrentProcessSettings();

// Creates the record when none exists (later calls keep it) and returns it.
ProcessSettings& CreateProcessSettings();

// Deletes the record; afterwards there is none.
void DeleteProcessSettings();
