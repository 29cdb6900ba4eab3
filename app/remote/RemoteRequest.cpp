#include "app/remote/RemoteRequest.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

namespace orvane::remote {

namespace {

std::vector<std::string_view> splitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        path.remove_prefix(1); // the slash
        const auto end = path.find('/');
        parts.push_back(path.substr(0, end));
        if (end == std::string_view::npos) break;
        path.remove_prefix(end);
    }
    return parts;
}

/// A number from 1 to `most` written in the path.
std::optional<int32_t> pathNumber(std::string_view text, int32_t most) {
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > most)
        return std::nullopt;
    return value;
}

/// The one argument as a number within [low, high]; whole numbers when `whole`.
std::optional<double> numberArgument(const OscMessage &message, double low, double high, bool whole,
                                     std::string &why) {
    if (message.arguments.size() != 1 || !message.arguments[0].isNumber()) {
        why = message.path + " takes one number";
        return std::nullopt;
    }
    const double value = message.arguments[0].number();
    if (!std::isfinite(value) || value < low || value > high ||
        (whole && value != std::floor(value))) {
        why = message.path + " is out of range";
        return std::nullopt;
    }
    return value;
}

/// A switch: 0 or 1 as a number, or true/false.
std::optional<double> switchArgument(const OscMessage &message, std::string &why) {
    if (message.arguments.size() == 1 &&
        (message.arguments[0].type == 'T' || message.arguments[0].type == 'F'))
        return double(message.arguments[0].integer);
    const auto value = numberArgument(message, 0.0, 1.0, true, why);
    if (!value) why = message.path + " takes 0 or 1";
    return value;
}

bool noArguments(const OscMessage &message, std::string &why) {
    if (message.arguments.empty()) return true;
    why = message.path + " takes no arguments";
    return false;
}

std::optional<RemoteRequest> simple(const OscMessage &message, RemoteAction action,
                                    std::string &why) {
    if (!noArguments(message, why)) return std::nullopt;
    return RemoteRequest{action};
}

std::optional<RemoteRequest> trackRequest(const OscMessage &message,
                                          const std::vector<std::string_view> &parts,
                                          std::string &why) {
    const auto track =
        parts.size() >= 3 ? pathNumber(parts[2], RemoteRanges::tracks) : std::nullopt;
    if (!track) {
        why = "no such track in " + message.path;
        return std::nullopt;
    }
    RemoteRequest request{RemoteAction::TrackQuery, *track};
    if (parts.size() == 3) {
        if (!noArguments(message, why)) return std::nullopt;
        return request;
    }
    const std::string_view what = parts[3];
    std::optional<double> value;
    if (parts.size() == 5 && what == "send") {
        const auto send = pathNumber(parts[4], RemoteRanges::sends);
        if (!send) {
            why = "no such send in " + message.path;
            return std::nullopt;
        }
        request.action = RemoteAction::TrackSend;
        request.index = *send;
        value = numberArgument(message, 0.0, RemoteRanges::sendLevel, false, why);
    } else if (parts.size() != 4) {
        why = "unknown address " + message.path;
        return std::nullopt;
    } else if (what == "mute" || what == "solo" || what == "arm") {
        request.action = what == "mute"   ? RemoteAction::TrackMute
                         : what == "solo" ? RemoteAction::TrackSolo
                                          : RemoteAction::TrackArm;
        value = switchArgument(message, why);
    } else if (what == "gain") {
        request.action = RemoteAction::TrackGain;
        value = numberArgument(message, 0.0, RemoteRanges::gain, false, why);
    } else if (what == "pan") {
        request.action = RemoteAction::TrackPan;
        value = numberArgument(message, -1.0, 1.0, false, why);
    } else {
        why = "unknown address " + message.path;
        return std::nullopt;
    }
    if (!value) return std::nullopt;
    request.value = *value;
    return request;
}

} // namespace

std::vector<bool> requestsToCarryOut(const std::vector<RemoteRequest> &turn) {
    const auto continuous = [](RemoteAction action) {
        return action == RemoteAction::TrackGain || action == RemoteAction::TrackPan ||
               action == RemoteAction::TrackSend || action == RemoteAction::LocateSeconds ||
               action == RemoteAction::LocateBeats;
    };
    const auto sameTarget = [](const RemoteRequest &a, const RemoteRequest &b) {
        const bool bothLocate =
            (a.action == RemoteAction::LocateSeconds || a.action == RemoteAction::LocateBeats) &&
            (b.action == RemoteAction::LocateSeconds || b.action == RemoteAction::LocateBeats);
        return bothLocate || (a.action == b.action && a.track == b.track && a.index == b.index);
    };
    std::vector<bool> carryOut(turn.size(), true);
    for (std::size_t index = 0; index < turn.size(); ++index) {
        if (!continuous(turn[index].action)) continue;
        for (std::size_t later = index + 1; later < turn.size(); ++later)
            if (sameTarget(turn[index], turn[later])) {
                carryOut[index] = false;
                break;
            }
    }
    return carryOut;
}

std::optional<RemoteRequest> decodeRemoteRequest(const OscMessage &message, std::string &why) {
    const std::vector<std::string_view> parts = splitPath(message.path);
    if (parts.size() < 2 || parts[0] != "halvora") {
        why = "unknown address " + message.path.substr(0, 200);
        return std::nullopt;
    }
    const std::string_view verb = parts[1];
    if (parts.size() == 2) {
        if (verb == "play") return simple(message, RemoteAction::Play, why);
        if (verb == "stop") return simple(message, RemoteAction::Stop, why);
        if (verb == "record") return simple(message, RemoteAction::Record, why);
        if (verb == "undo") return simple(message, RemoteAction::Undo, why);
        if (verb == "redo") return simple(message, RemoteAction::Redo, why);
        if (verb == "state") return simple(message, RemoteAction::State, why);
        if (verb == "locate" || verb == "locate_beats") {
            const double most =
                verb == "locate" ? RemoteRanges::seconds : RemoteRanges::seconds * 16.0;
            const auto value = numberArgument(message, 0.0, most, false, why);
            if (!value) return std::nullopt;
            return RemoteRequest{verb == "locate" ? RemoteAction::LocateSeconds
                                                  : RemoteAction::LocateBeats,
                                 0, 0, *value};
        }
        if (verb == "goto_marker") {
            const auto value = numberArgument(message, 1.0, RemoteRanges::slots, true, why);
            if (!value) return std::nullopt;
            return RemoteRequest{RemoteAction::GotoMarker, 0, static_cast<int32_t>(*value)};
        }
    }
    if (verb == "track") return trackRequest(message, parts, why);
    if (parts.size() == 3 && verb == "scene" && parts[2] == "launch") {
        const auto value = numberArgument(message, 1.0, RemoteRanges::slots, true, why);
        if (!value) return std::nullopt;
        return RemoteRequest{RemoteAction::SceneLaunch, 0, static_cast<int32_t>(*value)};
    }
    if (parts.size() == 3 && verb == "clip" && parts[2] == "launch") {
        const auto &args = message.arguments;
        const bool whole = args.size() == 2 && args[0].isNumber() && args[1].isNumber() &&
                           args[0].number() == std::floor(args[0].number()) &&
                           args[1].number() == std::floor(args[1].number());
        if (!whole || args[0].number() < 1 || args[0].number() > RemoteRanges::tracks ||
            args[1].number() < 1 || args[1].number() > RemoteRanges::slots) {
            why = message.path + " takes a track and a slot number";
            return std::nullopt;
        }
        return RemoteRequest{RemoteAction::ClipLaunch, static_cast<int32_t>(args[0].number()),
                             static_cast<int32_t>(args[1].number())};
    }
    why = "unknown address " + message.path.substr(0, 200);
    return std::nullopt;
}

} // namespace orvane::remote
