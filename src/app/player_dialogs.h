#pragma once

// The player's dialogs as the application uses them: message boxes, the Open dialog, the
// start sheet and the context menu. The FLTK dialogs implement them on a desktop
// (fltk_dialogs.h); a headless run answers from the console (ConsoleDialogs), where no one
// can click.

#include "platform/layered_display.h"

#include <cstdint>
#include <optional>
#include <string>

class PlayerApp;

// The context menu's commands.
enum class MenuCommand : std::int32_t {
    None = 0,
    InfoSettings = 32772,
    ShowHideScore = 32773,
    MuteSound = 32774,
    PauseResume = 32775,
    Start = 32780,
    Stop = 32778,
    Open = 32779,
    Exit = 32771,
    GameInstructions = 32782,
};

class PlayerDialogs {
public:
    virtual ~PlayerDialogs() = default;
    // The application the dialogs serve, so that its frame tick goes on while they are open
    // (null: none). The application sets itself when it starts and clears it when it goes.
    virtual void SetApp(PlayerApp*) {}
    // Shows text in a message box with an OK button and waits for it.
    virtual void ShowMessage(const std::string& text) = 0;
    // The Open dialog for gizmo files, starting in initialFolder when it is not empty: the
    // chosen path, or nullopt when the user cancels.
    virtual std::optional<std::string> ChooseGizmoFile(const std::string& initialFolder) = 0;
    // Runs the start sheet modally over the application's settings and gizmo.
    virtual void ShowStartSheet(PlayerApp& app) = 0;
    // Shows the context menu at a screen point and returns the command chosen (None when the
    // menu was dismissed).
    virtual MenuCommand ShowContextMenu(ScreenPoint point, const PlayerApp& app) = 0;
};

// The dialogs of a run without a screen: messages go to the standard error stream, the Open
// dialog and the context menu choose nothing, and the start sheet closes at once.
class ConsoleDialogs final : public PlayerDialogs {
public:
    void ShowMessage(const std::string& text) override;
    std::optional<std::string> ChooseGizmoFile(const std::string&) override { return {}; }
    void ShowStartSheet(PlayerApp&) override {}
    MenuCommand ShowContextMenu(ScreenPoint, const PlayerApp&) override {
        return MenuCommand::None;
    }
};
