#include "app/player_command_line.h"

#include <charconv>

std::string GizmoPathFromCommandLine(std::string_view word) {
    if (word.empty() || word.front() != '"') return std::string(word);
    if (word.size() < 2) return {};
    return std::string(word.substr(1, word.size() - 2));
}

std::optional<PlayerOptions> ParsePlayerCommandLine(std::span<const std::string_view> arguments,
                                                    std::string& whyNot) {
    PlayerOptions options;
    bool hasPath = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view word = arguments[i];
        if (word.substr(0, 2) != "--") {
            if (hasPath) {
                whyNot = "only one gizmo can be played";
                return std::nullopt;
            }
            hasPath = true;
            options.isGizmoNamed = true;
            options.gizmoPath = GizmoPathFromCommandLine(word);
            continue;
        }
        if (word == "--headless") {
            options.isHeadless = true;
            continue;
        }
        if (word == "--mute") {
            options.isMuted = true;
            continue;
        }
        if (word != "--frames" && word != "--out" && word != "--keys") {
            whyNot = "unknown option " + std::string(word);
            return std::nullopt;
        }
        if (i + 1 >= arguments.size()) {
            whyNot = std::string(word) + " needs a value";
            return std::nullopt;
        }
        const std::string_view value = arguments[++i];
        if (word == "--frames") {
            const auto parsed =
                std::from_chars(value.data(), value.data() + value.size(), options.frameCount);
            if (parsed.ec != std::errc() || parsed.ptr != value.data() + value.size() ||
                options.frameCount < 0) {
                whyNot = "--frames needs a count of frames";
                return std::nullopt;
            }
        } else if (word == "--out") {
            options.frameFolder = value;
        } else {
            std::optional<std::vector<ScriptedKey>> keys = ParseKeyScript(value);
            if (!keys) {
                whyNot = "--keys needs FRAME:KEY entries with keys 1 to 9";
                return std::nullopt;
            }
            options.keys = std::move(*keys);
        }
    }
    return options;
}
