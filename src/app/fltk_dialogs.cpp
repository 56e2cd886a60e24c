#include "app/fltk_dialogs.h"

#include "app/player_app.h"
#include "gizmo/gizmo_scene.h"
#include "gizmo/hit_scoring.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Tabs.H>
#include <FL/Fl_Value_Slider.H>
#include <FL/fl_ask.H>

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// The caption of the player's message boxes: the application's title.
constexpr const char* MessageCaption = "Tindle";

constexpr int SheetWidth = 480;
constexpr int SheetHeight = 400;
constexpr int PageTop = 30;
constexpr int PageHeight = 300;

// The start sheet: its pages as controls, and what its buttons decided.
class StartSheet {
public:
    explicit StartSheet(PlayerApp& playerApp) : app(playerApp) {
        const PlayerSettings& settings = app.Settings();
        const bool hasGizmo = app.Scene().active != 0;
        window = std::make_unique<Fl_Double_Window>(SheetWidth, SheetHeight, "Orbelle");
        window->begin();
        tabs = new Fl_Tabs(0, 0, SheetWidth, PageTop + PageHeight);
        tabs->callback(OnTab, this);
        pages[SheetPageAbout] = MakePage("About");
        new Fl_Box(20, PageTop + 20, SheetWidth - 40, 120,
                   "Orbelle plays gizmos: small kinetic 3D scenes of flippers, sliders,\n"
                   "flying balls and targets, floating on your desktop.");
        auto* what = new Fl_Button((SheetWidth - 120) / 2, PageTop + 160, 120, 28, "What is it?");
        what->callback(OnWhat, this);
        pages[SheetPageAbout]->end();

        pages[SheetPagePrefs] = MakePage("Prefs");
        mute = new Fl_Check_Button(20, PageTop + 15, 200, 25, "Mute sound");
        mute->value(settings.mute ? 1 : 0);
        speed = MakeSlider(PageTop + 60, "Action speed, %", MinActionSpeed, MaxActionSpeed,
                           ActionSpeedPercent(settings));
        rate = MakeSlider(PageTop + 120, "Max frame rate, fps", MinFrameRate, MaxFrameRate,
                          settings.frameRate);
        // Nothing reads or sets it: a run keeps no settings.
        new Fl_Check_Button(230, PageTop + 15, 230, 25, "Auto load last Gizmo on startup");
        pages[SheetPagePrefs]->child(pages[SheetPagePrefs]->children() - 1)->deactivate();
        auto* note = new Fl_Box(20, PageTop + 165, SheetWidth - 40, 130,
                                "Increasing action speed makes everything go faster (travel "
                                "more per frame). Increasing frame rate makes motion smoother, "
                                "not faster (more frames per second, less motion per frame).\n\n"
                                "Whether the frame rate will actually increase depends on your "
                                "computer's performance. Making the Gizmo smaller (by "
                                "shift-clicking on it) allows greater actual frame rate.");
        note->align(FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_TOP_LEFT);
        pages[SheetPagePrefs]->end();

        pages[SheetPageCamera] = MakePage("Camera");
        auto* camera = new Fl_Box(20, PageTop + 20, SheetWidth - 40, 160,
                                  "Control-click to rotate\nShift-click to resize\n"
                                  "Alt-click to adjust perspective\n\nTo move the Gizmo on your "
                                  "desktop click and drag any static (non-animating) part");
        camera->align(FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_TOP_LEFT);
        pages[SheetPageCamera]->end();

        pages[SheetPageGizmo] = MakePage("Gizmo");
        auto* keys = new Fl_Box(20, PageTop + 10, 230, 200,
                                "Keyboard:\nReset All:   Return\nReset Each Flying Object:   "
                                "Z, X, C, etc.\nTrigger Flippers:   1, 2, 3, etc.\nPause:   "
                                "Spacebar\nExit:   Esc\n\nOptions Menu: Right-click anywhere "
                                "in Gizmo");
        keys->align(FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_TOP_LEFT);
        gameMode = new Fl_Check_Button(270, PageTop + 15, 180, 25, "Game Mode");
        gameMode->value(settings.gameMode ? 1 : 0);
        gameMode->callback(OnGameMode, this);
        new Fl_Box(270, PageTop + 45, 180, 20, "Game over on:");
        timeOn = new Fl_Check_Button(270, PageTop + 70, 70, 25, "Time");
        timeOn->value(settings.timeLimitOn ? 1 : 0);
        timeValue = new Fl_Int_Input(340, PageTop + 70, 60, 25);
        timeValue->value(std::to_string(settings.timeLimit).c_str());
        new Fl_Box(400, PageTop + 70, 60, 25, "seconds");
        scoreOn = new Fl_Check_Button(270, PageTop + 100, 70, 25, "Score");
        scoreOn->value(settings.scoreLimitOn ? 1 : 0);
        scoreValue = new Fl_Int_Input(340, PageTop + 100, 60, 25);
        scoreValue->value(std::to_string(settings.scoreLimit).c_str());
        showScore = new Fl_Check_Button(270, PageTop + 135, 180, 25, "Show Score/Time");
        showScore->value(settings.showScoreTime ? 1 : 0);
        auto* restart = new Fl_Button(270, PageTop + 175, 180, 28, "Reset and Restart Game");
        restart->callback(OnRestart, this);
        pages[SheetPageGizmo]->end();
        tabs->end();
        tabs->value(pages[std::clamp(settings.sheetPage, 0, 3)]);
        visited[std::clamp(settings.sheetPage, 0, 3)] = true;

        const int row = PageTop + PageHeight + 15;
        auto* open = new Fl_Button(15, row, 105, 28, "Open Gizmo...");
        open->callback(OnOpen, this);
        start = new Fl_Button(128, row, 105, 28, "Start Gizmo");
        start->callback(OnStart, this);
        auto* exit = new Fl_Button(241, row, 105, 28, "Exit Orbelle");
        exit->callback(OnExit, this);
        back = new Fl_Button(354, row, 110, 28, "Back to Gizmo");
        back->callback(OnBack, this);
        if (!hasGizmo) {
            start->deactivate();
            back->deactivate();
        }
        window->end();
        window->set_modal();
        window->callback(OnClose, this);
    }

    // Runs the sheet until one of its buttons (or the window's close box) closes it.
    void Run() {
        window->show();
        while (window->shown()) Fl::wait();
        ApplyPages();
    }

private:
    Fl_Group* MakePage(const char* label) {
        auto* page = new Fl_Group(0, PageTop, SheetWidth, PageHeight, label);
        page->begin();
        return page;
    }

    static Fl_Value_Slider* MakeSlider(int top, const char* label, int low, int high, int value) {
        auto* slider = new Fl_Value_Slider(20, top, SheetWidth - 40, 25, label);
        slider->type(FL_HOR_NICE_SLIDER);
        slider->align(FL_ALIGN_TOP_LEFT);
        slider->bounds(low, high);
        slider->step(1);
        slider->value(value);
        return slider;
    }

    std::int32_t ActivePage() const {
        for (std::int32_t i = 0; i < 4; ++i) {
            if (tabs->value() == pages[i]) return i;
        }
        return 0;
    }

    // What the pages the user visited set, as they close with the sheet.
    void ApplyPages() {
        PlayerSettings& settings = app.Settings();
        if (visited[SheetPagePrefs]) {
            app.SetMute(mute->value() != 0);
            app.SetFrameRateAndSpeed(static_cast<std::int32_t>(rate->value()),
                                     static_cast<std::int32_t>(speed->value()));
        }
        if (visited[SheetPageGizmo]) {
            GizmoPageValues page;
            page.isGameModeTouched = gameModeTouched;
            page.gameMode = gameMode->value() != 0;
            page.timeLimitOn = timeOn->value() != 0;
            page.scoreLimitOn = scoreOn->value() != 0;
            page.showScoreTime = showScore->value() != 0;
            page.timeText = timeValue->value();
            page.scoreText = scoreValue->value();
            ApplyGizmoPage(settings, page);
        }
        // The overlay follows the settings the sheet leaves.
        app.ShowScoreDisplay();
    }

    void Close() { window->hide(); }

    static void OnTab(Fl_Widget*, void* data) {
        auto* sheet = static_cast<StartSheet*>(data);
        sheet->visited[sheet->ActivePage()] = true;
    }
    // What gizmos are, in a small modal window of its own.
    static void OnWhat(Fl_Widget*, void*) {
        Fl_Double_Window what(420, 260, "What is it?");
        auto* text = new Fl_Box(15, 15, 390, 190,
                                "Orbelle plays gizmos: small kinetic sculptures, games and "
                                "puzzles that float on your desktop in a window of their own "
                                "shape.\n\nA gizmo is built from flippers that swing when you "
                                "press a key or click them, projectiles that fly, bounce and "
                                "collide, targets and obstacles that score when they are hit, "
                                "and goals to reach before the time runs out.");
        text->align(FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_TOP_LEFT);
        auto* close = new Fl_Button(160, 215, 100, 28, "Close");
        close->callback([](Fl_Widget* button, void*) { button->window()->hide(); });
        what.end();
        what.set_modal();
        what.show();
        while (what.shown()) Fl::wait();
    }
    static void OnGameMode(Fl_Widget*, void* data) {
        static_cast<StartSheet*>(data)->gameModeTouched = true;
    }
    static void OnClose(Fl_Widget*, void* data) { static_cast<StartSheet*>(data)->Close(); }

    static void OnOpen(Fl_Widget*, void* data) {
        auto* sheet = static_cast<StartSheet*>(data);
        sheet->app.Settings().sheetPage = sheet->ActivePage();
        sheet->app.OnOpenGizmo();
        if (sheet->app.Scene().active != 0) {
            sheet->app.Scene().savedPause = 1;
            sheet->Close();
        }
    }
    static void OnStart(Fl_Widget*, void* data) {
        auto* sheet = static_cast<StartSheet*>(data);
        sheet->app.Settings().sheetPage = sheet->ActivePage();
        sheet->app.RestartGame();
        sheet->app.Scene().savedPause = 0;
        sheet->Close();
    }
    static void OnRestart(Fl_Widget*, void* data) {
        auto* sheet = static_cast<StartSheet*>(data);
        if (sheet->app.Scene().active == 0) return;
        sheet->app.Settings().sheetPage = SheetPageGizmo;
        sheet->app.RestartGame();
        sheet->app.Scene().savedPause = 0;
        sheet->Close();
    }
    static void OnExit(Fl_Widget*, void* data) {
        auto* sheet = static_cast<StartSheet*>(data);
        UnloadGizmo(sheet->app.Scene());
        sheet->app.Quit();
        sheet->Close();
    }
    static void OnBack(Fl_Widget*, void* data) {
        auto* sheet = static_cast<StartSheet*>(data);
        sheet->app.Settings().sheetPage = sheet->ActivePage();
        sheet->Close();
    }

    PlayerApp& app;
    std::unique_ptr<Fl_Double_Window> window;  // owns every widget made inside it
    Fl_Tabs* tabs = nullptr;
    Fl_Group* pages[4] = {};
    bool visited[4] = {};
    Fl_Check_Button* mute = nullptr;
    Fl_Value_Slider* speed = nullptr;
    Fl_Value_Slider* rate = nullptr;
    Fl_Check_Button* gameMode = nullptr;
    Fl_Check_Button* timeOn = nullptr;
    Fl_Int_Input* timeValue = nullptr;
    Fl_Check_Button* scoreOn = nullptr;
    Fl_Int_Input* scoreValue = nullptr;
    Fl_Check_Button* showScore = nullptr;
    Fl_Button* start = nullptr;
    Fl_Button* back = nullptr;
    bool gameModeTouched = false;
};

// Keeps the player's frame tick running, at the timer's period, while an FLTK dialog runs
// its own loop; the tick stops with the dialog.
class ModalTicks {
public:
    explicit ModalTicks(PlayerApp* playerApp) : app(playerApp) {
        if (app != nullptr) Fl::add_timeout(Period(), OnTick, this);
    }
    ~ModalTicks() {
        if (app != nullptr) Fl::remove_timeout(OnTick, this);
    }
    ModalTicks(const ModalTicks&) = delete;
    ModalTicks& operator=(const ModalTicks&) = delete;

private:
    double Period() const { return app->TimerPeriod() / 1000.0; }
    static void OnTick(void* data) {
        auto* ticks = static_cast<ModalTicks*>(data);
        ticks->app->TickWhileModal();
        Fl::repeat_timeout(ticks->Period(), OnTick, data);
    }

    PlayerApp* app;
};

class FltkDialogs final : public PlayerDialogs {
public:
    // The application whose tick the dialogs keep running (set once it exists).
    void SetApp(PlayerApp* playerApp) override { app = playerApp; }

    void ShowMessage(const std::string& text) override {
        const ModalTicks ticks(app);
        fl_message_title(MessageCaption);
        fl_message("%s", text.c_str());
    }

    std::optional<std::string> ChooseGizmoFile(const std::string& initialFolder) override {
        const ModalTicks ticks(app);
        const char* chosen =
            fl_file_chooser("Open", "Orbelle Files (*.kvp) Morvane Files (*.kvr) (*.{kvp,kvr})",
                            initialFolder.empty() ? nullptr : (initialFolder + "/").c_str(), 0);
        if (chosen == nullptr) return std::nullopt;
        return std::string(chosen);
    }

    void ShowStartSheet(PlayerApp& sheetApp) override {
        const ModalTicks ticks(&sheetApp);
        StartSheet sheet(sheetApp);
        sheet.Run();
    }

    MenuCommand ShowContextMenu(ScreenPoint point, const PlayerApp& menuApp) override {
        const ModalTicks ticks(app);
        const int muted = menuApp.Settings().mute ? FL_MENU_VALUE : 0;
        const Fl_Menu_Item items[] = {
            {"Info/Settings...", 0, nullptr, Data(MenuCommand::InfoSettings), 0, 0, 0, 0, 0},
            {"Show/Hide Score", 0, nullptr, Data(MenuCommand::ShowHideScore), 0, 0, 0, 0, 0},
            {"Mute/Play Sound", 0, nullptr, Data(MenuCommand::MuteSound), FL_MENU_DIVIDER | muted,
             0, 0, 0, 0},
            {"Pause/Resume", 0, nullptr, Data(MenuCommand::PauseResume), 0, 0, 0, 0, 0},
            {"Start", 0, nullptr, Data(MenuCommand::Start), 0, 0, 0, 0, 0},
            {"Stop...", 0, nullptr, Data(MenuCommand::Stop), FL_MENU_DIVIDER, 0, 0, 0, 0},
            {"Open...", 0, nullptr, Data(MenuCommand::Open), FL_MENU_DIVIDER, 0, 0, 0, 0},
            {"Exit", 0, nullptr, Data(MenuCommand::Exit), FL_MENU_DIVIDER, 0, 0, 0, 0},
            {"Trigger flippers: press 1,2...", 0, nullptr, nullptr, FL_MENU_INACTIVE, 0, 0, 0, 0},
            {"Game Instructions...", 0, nullptr, Data(MenuCommand::GameInstructions), 0, 0, 0, 0,
             0},
            {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0},
        };
        const Fl_Menu_Item* chosen = items->popup(point.x, point.y, "Options");
        if (chosen == nullptr || chosen->user_data() == nullptr) return MenuCommand::None;
        return static_cast<MenuCommand>(reinterpret_cast<std::intptr_t>(chosen->user_data()));
    }

private:
    static void* Data(MenuCommand command) {
        return reinterpret_cast<void*>(static_cast<std::intptr_t>(command));
    }

    PlayerApp* app = nullptr;
};

}  // namespace

std::unique_ptr<PlayerDialogs> MakeFltkDialogs() { return std::make_unique<FltkDialogs>(); }
