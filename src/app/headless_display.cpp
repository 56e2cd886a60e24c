#include "app/headless_display.h"

#include "imaging/image_file.h"

#include <cstdio>
#include <utility>

HeadlessDisplay::HeadlessDisplay(std::string folder, std::int32_t monitorWidth,
                                 std::int32_t monitorHeight)
    : frameFolder(std::move(folder)) {
    MonitorInfo monitor;
    monitor.area = {0, 0, monitorWidth, monitorHeight};
    monitor.workArea = monitor.area;
    monitor.isPrimary = true;
    monitors.push_back(monitor);
}

std::span<std::uint32_t> HeadlessDisplay::FrameStore(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return {};
    if (width != storeWidth || height != storeHeight) {
        store.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
        storeWidth = width;
        storeHeight = height;
        hasFrame = false;
    }
    return store;
}

bool HeadlessDisplay::UpdateLayeredWindow(std::int32_t left, std::int32_t top) {
    if (storeWidth <= 0) return false;
    rect = {left, top, left + storeWidth, top + storeHeight};
    ++frameCount;
    hasFrame = true;
    lastError.clear();
    lastPath.clear();
    if (frameFolder.empty()) return true;

    char name[32];
    std::snprintf(name, sizeof name, "frame_%06d.tif", frameCount);
    std::string path = frameFolder;
    if (path.back() != '/' && path.back() != '\\') path += '/';
    path += name;
    auto* pixels = reinterpret_cast<std::uint8_t*>(store.data());
    const std::int32_t result = SaveImageFile(pixels, storeWidth, storeHeight, path, true, 0, true,
                                              0, 0, lastError, false, true, storeWidth * 4);
    if (result != ImageFileOk) {
        if (lastError.empty()) lastError = ImageFileMessage(result, true);
        lastError = path + ": " + lastError;
        return false;
    }
    lastPath = std::move(path);
    return true;
}

std::vector<std::uint32_t> HeadlessDisplay::LastFrame() const {
    return hasFrame ? store : std::vector<std::uint32_t>();
}

void HeadlessDisplay::MoveWindow(const ScreenRect& moved) { rect = moved; }

void HeadlessDisplay::ShowWindow(bool shown) {
    if (shown == isShown) return;
    isShown = shown;
    ++(shown ? showCount : hideCount);
}
