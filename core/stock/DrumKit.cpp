#include "core/stock/DrumKit.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace orvane::stock {

namespace {

constexpr std::array<std::string_view, drumSoundCount> soundNames{
    "kick",    "snare",   "rim",      "clap",  "closed-hat", "open-hat",
    "low-tom", "mid-tom", "high-tom", "crash", "ride"};

/// Reads a whole integer or finite number; anything else (spaces, trailing text) fails.
template <typename T> bool readNumber(std::string_view text, T &out) {
    T value{};
    const auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || code != std::errc() || end != text.data() + text.size()) return false;
    if constexpr (std::is_floating_point_v<T>)
        if (!std::isfinite(value)) return false;
    out = value;
    return true;
}

/// A value as it may stand on its line of the stored text.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

std::string numberText(float value) {
    char buffer[32];
    const auto [end, code] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return code == std::errc() ? std::string(buffer, end) : std::string("0");
}

/// Splits "a.b.c" at the first dot: false when there is none.
bool splitFirst(std::string_view text, std::string_view &head, std::string_view &rest) {
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos) return false;
    head = text.substr(0, dot);
    rest = text.substr(dot + 1);
    return true;
}

DrumPad pad(int32_t note, std::string name, DrumSound sound, int32_t choke = 0) {
    DrumPad made;
    made.note = note;
    made.name = std::move(name);
    made.chokeGroup = choke;
    made.layers.push_back(
        DrumLayer{std::string(builtinDrumPrefix) + std::string(drumSoundName(sound)), 1, 127});
    return made;
}

} // namespace

std::string_view drumSoundName(DrumSound sound) {
    return soundNames[static_cast<std::size_t>(sound)];
}

bool drumSoundNamed(std::string_view name, DrumSound &sound) {
    const auto found = std::find(soundNames.begin(), soundNames.end(), name);
    if (found == soundNames.end()) return false;
    sound = static_cast<DrumSound>(found - soundNames.begin());
    return true;
}

DrumKit defaultDrumKit() {
    constexpr int32_t hats = 1;
    DrumKit kit;
    kit.pads = {
        pad(36, "Kick", DrumSound::Kick),        pad(37, "Rim", DrumSound::Rim),
        pad(38, "Snare", DrumSound::Snare),      pad(39, "Clap", DrumSound::Clap),
        pad(41, "Low Tom", DrumSound::LowTom),   pad(42, "Closed Hat", DrumSound::ClosedHat, hats),
        pad(45, "Mid Tom", DrumSound::MidTom),   pad(46, "Open Hat", DrumSound::OpenHat, hats),
        pad(48, "High Tom", DrumSound::HighTom), pad(49, "Crash", DrumSound::Crash),
        pad(51, "Ride", DrumSound::Ride)};
    return kit;
}

void spreadVelocityLayers(std::vector<DrumLayer> &layers) {
    const auto count = static_cast<int32_t>(layers.size());
    for (int32_t layer = 0; layer < count; ++layer) {
        layers[static_cast<std::size_t>(layer)].lowVelocity = 1 + 127 * layer / count;
        layers[static_cast<std::size_t>(layer)].highVelocity = 127 * (layer + 1) / count;
    }
}

void clampDrumKit(DrumKit &kit) {
    using namespace drum_limits;
    if (kit.pads.size() > maxPads) kit.pads.resize(maxPads);
    for (DrumPad &pad : kit.pads) {
        pad.name = oneLine(std::move(pad.name));
        pad.note = std::clamp(pad.note, 0, 127);
        pad.gainDb =
            std::clamp(std::isfinite(pad.gainDb) ? pad.gainDb : 0.0f, minGainDb, maxGainDb);
        pad.pan = std::clamp(std::isfinite(pad.pan) ? pad.pan : 0.0f, -1.0f, 1.0f);
        pad.tune = std::clamp(std::isfinite(pad.tune) ? pad.tune : 0.0f, minTune, maxTune);
        pad.chokeGroup = std::clamp(pad.chokeGroup, 0, maxChokeGroup);
        if (pad.layers.size() > maxLayers) pad.layers.resize(maxLayers);
        for (DrumLayer &layer : pad.layers) {
            layer.file = oneLine(std::move(layer.file));
            layer.lowVelocity = std::clamp(layer.lowVelocity, 1, 127);
            layer.highVelocity = std::clamp(layer.highVelocity, layer.lowVelocity, 127);
        }
    }
}

std::string writeDrumStateText(const DrumKit &kit) {
    std::string text = "pads=" + std::to_string(kit.pads.size()) + "\n";
    for (std::size_t i = 0; i < kit.pads.size(); ++i) {
        const DrumPad &pad = kit.pads[i];
        const std::string key = "pad." + std::to_string(i) + ".";
        text += key + "note=" + std::to_string(pad.note) + "\n";
        text += key + "name=" + oneLine(pad.name) + "\n";
        text += key + "gain=" + numberText(pad.gainDb) + "\n";
        text += key + "pan=" + numberText(pad.pan) + "\n";
        text += key + "tune=" + numberText(pad.tune) + "\n";
        text += key + "choke=" + std::to_string(pad.chokeGroup) + "\n";
        text += key + "layers=" + std::to_string(pad.layers.size()) + "\n";
        for (std::size_t j = 0; j < pad.layers.size(); ++j) {
            const DrumLayer &layer = pad.layers[j];
            const std::string layerKey = key + "layer." + std::to_string(j) + ".";
            text += layerKey + "file=" + oneLine(layer.file) + "\n";
            text += layerKey + "low=" + std::to_string(layer.lowVelocity) + "\n";
            text += layerKey + "high=" + std::to_string(layer.highVelocity) + "\n";
        }
    }
    return text;
}

namespace {

/// Reads one pad's "<field>=value" or "layer.<j>.<field>=value" into `pad`.
bool readPadField(std::string_view field, std::string_view value, DrumPad &pad, std::string &why) {
    using namespace drum_limits;
    if (field == "note") {
        if (!readNumber(value, pad.note) || pad.note < 0 || pad.note > 127) why = "bad note";
    } else if (field == "name") {
        pad.name = std::string(value);
    } else if (field == "gain") {
        if (!readNumber(value, pad.gainDb)) why = "bad gain";
    } else if (field == "pan") {
        if (!readNumber(value, pad.pan)) why = "bad pan";
    } else if (field == "tune") {
        if (!readNumber(value, pad.tune)) why = "bad tune";
    } else if (field == "choke") {
        if (!readNumber(value, pad.chokeGroup) || pad.chokeGroup < 0 ||
            pad.chokeGroup > maxChokeGroup)
            why = "bad choke group";
    } else if (field == "layers") {
        std::size_t count = 0;
        if (!readNumber(value, count) || count > maxLayers)
            why = "bad layer count";
        else
            pad.layers.resize(count);
    } else if (std::string_view head, rest;
               field.starts_with("layer.") && splitFirst(field.substr(6), head, rest)) {
        std::size_t index = 0;
        if (!readNumber(head, index) || index >= pad.layers.size()) {
            why = "layer past the count";
            return false;
        }
        DrumLayer &layer = pad.layers[index];
        if (rest == "file") {
            layer.file = std::string(value);
        } else if (rest == "low" || rest == "high") {
            int32_t velocity = 0;
            if (!readNumber(value, velocity) || velocity < 1 || velocity > 127)
                why = "bad velocity";
            else
                (rest == "low" ? layer.lowVelocity : layer.highVelocity) = velocity;
        }
    }
    return why.empty();
}

} // namespace

bool readDrumStateText(std::string_view text, DrumKit &kit, std::string *error) {
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        kit = defaultDrumKit();
        return true;
    }
    DrumKit read;
    int lineNumber = 0;
    const auto reject = [&](std::string_view why, std::string_view line) {
        if (error)
            *error = "line " + std::to_string(lineNumber) + ": " + std::string(why) + ": \"" +
                     std::string(line) + "\"";
        return false;
    };
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) return reject("expected key=value", line);
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (key == "pads") {
            std::size_t count = 0;
            if (!readNumber(value, count) || count > drum_limits::maxPads)
                return reject("bad pad count", line);
            read.pads.resize(count);
            continue;
        }
        std::string_view head, index, field;
        if (!splitFirst(key, head, field) || head != "pad") continue;
        if (!splitFirst(field, index, field)) continue;
        std::size_t padIndex = 0;
        if (!readNumber(index, padIndex) || padIndex >= read.pads.size())
            return reject("pad past the count", line);
        std::string why;
        if (!readPadField(field, value, read.pads[padIndex], why)) return reject(why, line);
    }
    for (const DrumPad &pad : read.pads)
        for (const DrumLayer &layer : pad.layers)
            if (layer.lowVelocity > layer.highVelocity) {
                lineNumber = 0;
                return reject("velocity range upside down", pad.name);
            }
    clampDrumKit(read);
    kit = std::move(read);
    return true;
}

DrumKit drumKitOfState(std::string_view text) {
    DrumKit kit;
    if (!readDrumStateText(text, kit, nullptr)) kit = defaultDrumKit();
    return kit;
}

} // namespace orvane::stock
