#include "platform/x_layered_display.h"

#include "platform/input_state.h"
#include "platform/window_events.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <thread>

namespace {

// Virtual key codes of the keys the player reads, from X key symbols: digits and letters as
// their upper-case ASCII codes, the keypad digits from 0x60, and the few named keys.
std::int32_t VirtualKeyOf(KeySym sym) {
    if (sym >= XK_0 && sym <= XK_9) return static_cast<std::int32_t>(0x30 + (sym - XK_0));
    if (sym >= XK_a && sym <= XK_z) return static_cast<std::int32_t>(0x41 + (sym - XK_a));
    if (sym >= XK_A && sym <= XK_Z) return static_cast<std::int32_t>(0x41 + (sym - XK_A));
    if (sym >= XK_KP_0 && sym <= XK_KP_9) return static_cast<std::int32_t>(0x60 + (sym - XK_KP_0));
    switch (sym) {
        case XK_Return:
        case XK_KP_Enter:
            return 0x0D;
        case XK_Escape:
            return 0x1B;
        case XK_space:
            return 0x20;
        case XK_Shift_L:
        case XK_Shift_R:
            return 0x10;
        case XK_Control_L:
        case XK_Control_R:
            return 0x11;
        case XK_Alt_L:
        case XK_Alt_R:
            return 0x12;
        default:
            return -1;
    }
}

// X errors (a read-back of a window half off the screen, a display going away) would end
// the process through Xlib's default handler; they are counted instead, and the calls that
// can meet one check the count.
int gXErrorCount = 0;

int CountXError(Display*, XErrorEvent*) {
    ++gXErrorCount;
    return 0;
}

// The motif hint that asks the window manager for no decorations: flags (decorations
// given), functions, decorations (none), input mode, status.
constexpr long MotifHintsDecorations = 2;

}  // namespace

struct XLayeredDisplay::State {
    Display* display = nullptr;
    int screen = 0;
    Visual* visual = nullptr;
    std::int32_t depth = 0;
    Colormap colormap = 0;
    Window window = 0;
    GC gc = nullptr;
    std::vector<std::uint32_t> store;
    std::int32_t storeWidth = 0;
    std::int32_t storeHeight = 0;
    ScreenRect rect;
    bool isShown = false;
    bool hasFrame = false;
    std::vector<MonitorInfo> monitors;

    ~State() {
        if (display == nullptr) return;
        if (gc != nullptr) XFreeGC(display, gc);
        if (window != 0) XDestroyWindow(display, window);
        if (colormap != 0) XFreeColormap(display, colormap);
        XCloseDisplay(display);
    }
};

std::unique_ptr<XLayeredDisplay> XLayeredDisplay::Open(std::string& whyNot) {
    // Pixel words go to the server as little-endian 32-bit units (below); a big-endian host
    // would need its own image byte order.
    static_assert(std::endian::native == std::endian::little);
    auto s = std::make_unique<State>();
    s->display = XOpenDisplay(nullptr);
    if (s->display == nullptr) {
        whyNot = "no X display can be opened";
        return nullptr;
    }
    XSetErrorHandler(CountXError);
    s->screen = DefaultScreen(s->display);
    XVisualInfo info{};
    if (XMatchVisualInfo(s->display, s->screen, 32, TrueColor, &info) == 0 ||
        info.red_mask != 0xFF0000 || info.green_mask != 0xFF00 || info.blue_mask != 0xFF) {
        whyNot = "the X display has no 32-bit ARGB visual";
        return nullptr;
    }
    s->visual = info.visual;
    s->depth = info.depth;
    const Window root = RootWindow(s->display, s->screen);
    s->colormap = XCreateColormap(s->display, root, s->visual, AllocNone);

    // No background: the server never clears the window, every pixel comes from a frame.
    XSetWindowAttributes attributes{};
    attributes.colormap = s->colormap;
    attributes.border_pixel = 0;
    attributes.background_pixmap = None;
    attributes.event_mask = ExposureMask | StructureNotifyMask | ButtonPressMask |
                            ButtonReleaseMask | KeyPressMask | KeyReleaseMask;
    s->window = XCreateWindow(s->display, root, 0, 0, 1, 1, 0, 32, InputOutput, s->visual,
                              CWColormap | CWBorderPixel | CWBackPixmap | CWEventMask, &attributes);
    s->rect = {0, 0, 1, 1};
    const long hints[5] = {MotifHintsDecorations, 0, 0, 0, 0};
    const Atom motif = XInternAtom(s->display, "_MOTIF_WM_HINTS", False);
    XChangeProperty(s->display, s->window, motif, motif, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(hints), 5);
    s->gc = XCreateGC(s->display, s->window, 0, nullptr);

    // One monitor per screen: its whole area, and the work area the window manager
    // publishes (the first desktop's), kept inside the screen.
    MonitorInfo monitor;
    monitor.area = {0, 0, DisplayWidth(s->display, s->screen),
                    DisplayHeight(s->display, s->screen)};
    monitor.workArea = monitor.area;
    monitor.isPrimary = true;
    const Atom workAreaAtom = XInternAtom(s->display, "_NET_WORKAREA", True);
    if (workAreaAtom != None) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(s->display, root, workAreaAtom, 0, 4, False, XA_CARDINAL, &type,
                               &format, &count, &after, &data) == Success &&
            data != nullptr) {
            if (format == 32 && count >= 4) {
                const long* v = reinterpret_cast<const long*>(data);
                const ScreenRect& a = monitor.area;
                ScreenRect w{static_cast<std::int32_t>(v[0]), static_cast<std::int32_t>(v[1]),
                             static_cast<std::int32_t>(v[0] + v[2]),
                             static_cast<std::int32_t>(v[1] + v[3])};
                w = {std::max(w.left, a.left), std::max(w.top, a.top), std::min(w.right, a.right),
                     std::min(w.bottom, a.bottom)};
                if (w.left < w.right && w.top < w.bottom) monitor.workArea = w;
            }
            XFree(data);
        }
    }
    s->monitors.push_back(monitor);
    XFlush(s->display);
    return std::unique_ptr<XLayeredDisplay>(new XLayeredDisplay(std::move(s)));
}

XLayeredDisplay::XLayeredDisplay(std::unique_ptr<State> s) : state(std::move(s)) {}

XLayeredDisplay::~XLayeredDisplay() = default;

std::span<std::uint32_t> XLayeredDisplay::FrameStore(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return {};
    if (width != state->storeWidth || height != state->storeHeight) {
        state->store.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
        state->storeWidth = width;
        state->storeHeight = height;
        state->hasFrame = false;
    }
    return state->store;
}

void XLayeredDisplay::Repaint(std::int32_t x, std::int32_t y, std::int32_t width,
                              std::int32_t height) {
    State& s = *state;
    if (!s.hasFrame) return;
    x = std::max(x, 0);
    y = std::max(y, 0);
    width = std::min(width, s.storeWidth - x);
    height = std::min(height, s.storeHeight - y);
    if (width <= 0 || height <= 0) return;
    // The image borrows the store's words; it is taken apart by hand so that Xlib does not
    // free memory it does not own.
    XImage image{};
    image.width = s.storeWidth;
    image.height = s.storeHeight;
    image.format = ZPixmap;
    image.data = reinterpret_cast<char*>(s.store.data());
    image.byte_order = LSBFirst;
    image.bitmap_unit = 32;
    image.bitmap_bit_order = LSBFirst;
    image.bitmap_pad = 32;
    image.depth = 32;
    image.bytes_per_line = s.storeWidth * 4;
    image.bits_per_pixel = 32;
    image.red_mask = 0xFF0000;
    image.green_mask = 0xFF00;
    image.blue_mask = 0xFF;
    if (XInitImage(&image) == 0) return;
    XPutImage(s.display, s.window, s.gc, &image, x, y, x, y, static_cast<unsigned>(width),
              static_cast<unsigned>(height));
}

bool XLayeredDisplay::UpdateLayeredWindow(std::int32_t left, std::int32_t top) {
    State& s = *state;
    if (s.storeWidth <= 0) return false;
    const ScreenRect target{left, top, left + s.storeWidth, top + s.storeHeight};
    if (target.left != s.rect.left || target.top != s.rect.top || target.right != s.rect.right ||
        target.bottom != s.rect.bottom) {
        XMoveResizeWindow(s.display, s.window, left, top, static_cast<unsigned>(s.storeWidth),
                          static_cast<unsigned>(s.storeHeight));
        s.rect = target;
    }
    s.hasFrame = true;
    Repaint(0, 0, s.storeWidth, s.storeHeight);
    XFlush(s.display);
    return true;
}

void XLayeredDisplay::MoveWindow(const ScreenRect& rect) {
    State& s = *state;
    const std::int32_t width = std::max(rect.right - rect.left, 1);
    const std::int32_t height = std::max(rect.bottom - rect.top, 1);
    XMoveResizeWindow(s.display, s.window, rect.left, rect.top, static_cast<unsigned>(width),
                      static_cast<unsigned>(height));
    s.rect = {rect.left, rect.top, rect.left + width, rect.top + height};
    XFlush(s.display);
}

void XLayeredDisplay::ShowWindow(bool shown) {
    State& s = *state;
    if (shown == s.isShown) return;
    s.isShown = shown;
    if (!shown) {
        XUnmapWindow(s.display, s.window);
        XFlush(s.display);
        return;
    }
    XMapRaised(s.display, s.window);
    // A window manager may place the window on mapping; the player places it itself.
    XMoveWindow(s.display, s.window, s.rect.left, s.rect.top);
    XFlush(s.display);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    XEvent event{};
    while (XCheckTypedWindowEvent(s.display, s.window, MapNotify, &event) == False) {
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Repaint(0, 0, s.storeWidth, s.storeHeight);
    XFlush(s.display);
}

bool XLayeredDisplay::IsWindowShown() const { return state->isShown; }

ScreenRect XLayeredDisplay::WindowRect() const { return state->rect; }

std::span<const MonitorInfo> XLayeredDisplay::Monitors() const { return state->monitors; }

ScreenPoint XLayeredDisplay::CursorScreenPos() {
    State& s = *state;
    Window rootReturn = 0;
    Window childReturn = 0;
    int rootX = 0;
    int rootY = 0;
    int winX = 0;
    int winY = 0;
    unsigned int mask = 0;
    if (XQueryPointer(s.display, RootWindow(s.display, s.screen), &rootReturn, &childReturn, &rootX,
                      &rootY, &winX, &winY, &mask) == False) {
        return {};
    }
    return {rootX, rootY};
}

void XLayeredDisplay::ProcessEvents() {
    State& s = *state;
    while (XPending(s.display) > 0) {
        XEvent event{};
        XNextEvent(s.display, &event);
        switch (event.type) {
            case Expose:
                Repaint(event.xexpose.x, event.xexpose.y, event.xexpose.width,
                        event.xexpose.height);
                break;
            case ButtonPress:
            case ButtonRelease: {
                const bool down = event.type == ButtonPress;
                WindowEventSink* sink = CurrentWindowEventSink();
                const ScreenPoint at{event.xbutton.x_root, event.xbutton.y_root};
                if (event.xbutton.button == Button1) {
                    InputStateSetKeyHeld(VirtualKeyLeftButton, down);
                    if (down) InputStatePostLeftButtonDown();
                    if (sink != nullptr && down) {
                        const unsigned held = event.xbutton.state;
                        const std::int32_t modifiers =
                            ((held & ControlMask) != 0 ? WindowModifierControl : 0) |
                            ((held & ShiftMask) != 0 ? WindowModifierShift : 0) |
                            ((held & Mod1Mask) != 0 ? WindowModifierAlt : 0);
                        sink->OnLeftButtonDown(at, modifiers);
                    } else if (sink != nullptr) {
                        sink->OnLeftButtonUp();
                    }
                } else if (event.xbutton.button == Button3) {
                    InputStateSetKeyHeld(0x02, down);
                    if (sink != nullptr && !down) sink->OnContextMenu(at);
                }
                break;
            }
            case KeyPress:
            case KeyRelease: {
                // With NumLock on, the keypad's digits are the keys' second symbols.
                KeySym sym = XLookupKeysym(&event.xkey, 0);
                const KeySym second = XLookupKeysym(&event.xkey, 1);
                if ((event.xkey.state & Mod2Mask) != 0 && second >= XK_KP_0 && second <= XK_KP_9) {
                    sym = second;
                }
                const std::int32_t key = VirtualKeyOf(sym);
                if (key >= 0) InputStateSetKeyHeld(key, event.type == KeyPress);
                WindowEventSink* sink = CurrentWindowEventSink();
                if (key >= 0 && event.type == KeyPress && sink != nullptr) sink->OnKeyDown(key);
                break;
            }
            default:
                break;
        }
    }
    XFlush(s.display);
}

std::int32_t XLayeredDisplay::VisualDepth() const { return state->depth; }

std::vector<std::uint32_t> XLayeredDisplay::ReadWindowPixels() {
    State& s = *state;
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(s.display, s.window, &attributes) == 0 ||
        attributes.map_state != IsViewable) {
        return {};
    }
    const std::int32_t width = attributes.width;
    const std::int32_t height = attributes.height;
    const int errorsBefore = gXErrorCount;
    XImage* image = XGetImage(s.display, s.window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    XSync(s.display, False);
    if (image == nullptr || gXErrorCount != errorsBefore) {
        if (image != nullptr) XDestroyImage(image);
        return {};
    }
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) *
                                      static_cast<std::size_t>(height));
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(x)] =
                static_cast<std::uint32_t>(XGetPixel(image, x, y));
        }
    }
    XDestroyImage(image);
    return pixels;
}

void XLayeredDisplay::Sync() { XSync(state->display, False); }

bool XLayeredDisplay::SendKeyForTesting(const std::string& keyName, bool down, bool numLock) {
    State& s = *state;
    const KeySym sym = XStringToKeysym(keyName.c_str());
    if (sym == NoSymbol) return false;
    const KeyCode code = XKeysymToKeycode(s.display, sym);
    if (code == 0) return false;
    XEvent event{};
    event.xkey.type = down ? KeyPress : KeyRelease;
    event.xkey.display = s.display;
    event.xkey.window = s.window;
    event.xkey.root = RootWindow(s.display, s.screen);
    event.xkey.keycode = code;
    event.xkey.state = numLock ? Mod2Mask : 0;
    event.xkey.same_screen = True;
    XSendEvent(s.display, s.window, False, down ? KeyPressMask : KeyReleaseMask, &event);
    XSync(s.display, False);
    return true;
}

void XLayeredDisplay::SendButtonForTesting(std::int32_t button, bool down) {
    State& s = *state;
    XEvent event{};
    event.xbutton.type = down ? ButtonPress : ButtonRelease;
    event.xbutton.display = s.display;
    event.xbutton.window = s.window;
    event.xbutton.root = RootWindow(s.display, s.screen);
    event.xbutton.button = static_cast<unsigned>(button);
    event.xbutton.same_screen = True;
    XSendEvent(s.display, s.window, False, down ? ButtonPressMask : ButtonReleaseMask, &event);
    XSync(s.display, False);
}
