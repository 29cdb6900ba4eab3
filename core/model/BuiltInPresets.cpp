#include "core/model/BuiltInPresets.h"

namespace orvane {

namespace {

constexpr std::size_t grooveSteps = 16;

GrooveTemplate neutralGroove(const std::string &name) {
    GrooveTemplate groove;
    groove.name = name;
    groove.timingPattern.fill(0.0f);
    groove.velocityPattern.fill(0.5f);
    return groove;
}

struct TuningPreset {
    const char *name;
    CentTable cents;
};

const std::array<TuningPreset, 4> &tuningPresets() {
    static const std::array<TuningPreset, 4> presets{{
        {"12-TET", {}},
        {"Pythagorean",
         {0.0f, 3.91f, 3.91f, -1.96f, 3.91f, 3.91f, 3.91f, 0.0f, 3.91f, 3.91f, -1.96f, 1.96f}},
        {"Just Major",
         {0.0f, -29.33f, -3.91f, -15.64f, -1.96f, -1.96f, -17.6f, 1.96f, -13.69f, -1.96f, -15.64f,
          -11.73f}},
        {"Just Minor",
         {0.0f, -29.33f, -5.87f, -15.64f, -1.96f, -17.6f, -5.87f, 1.96f, -13.69f, -3.91f, -15.64f,
          -11.73f}},
    }};
    return presets;
}

bool isPresetIndex(int32_t index) { return index >= 0 && index < scalaPresetCount(); }

} // namespace

std::vector<ExpressionMap> defaultExpressionMaps() {
    return {
        ExpressionMap{"Strings",
                      {{"Legato", 36, 1.0f, 11, 90},
                       {"Staccato", 37, 0.72f, 11, 45},
                       {"Pizzicato", 38, 0.58f, 11, 25},
                       {"Tremolo", 39, 0.85f, 1, 110}}},
        ExpressionMap{"Brass",
                      {{"Sustain", 48, 1.0f, 11, 100},
                       {"Marcato", 49, 0.9f, 11, 127},
                       {"Mute", 50, 0.65f, 11, 35}}},
    };
}

std::vector<GrooveTemplate> defaultGroovePool() {
    GrooveTemplate shuffle = neutralGroove("Shuffle");
    shuffle.timing = 0.4f;
    shuffle.velocity = 0.25f;
    GrooveTemplate swing = neutralGroove("MPC Swing");
    swing.timing = 0.55f;
    swing.velocity = 0.35f;
    constexpr std::array<float, 3> swingAccents{0.45f, 0.55f, 0.65f};
    for (std::size_t step = 0; step < grooveSteps; ++step) {
        const bool offbeat = step % 2 == 1;
        shuffle.timingPattern[step] = offbeat ? 0.18f : -0.04f;
        shuffle.velocityPattern[step] = step % 4 == 2 ? 0.65f : 0.5f;
        swing.timingPattern[step] = offbeat ? 0.22f : 0.0f;
        swing.velocityPattern[step] = swingAccents[step % swingAccents.size()];
    }
    return {shuffle, swing};
}

int32_t scalaPresetCount() { return static_cast<int32_t>(tuningPresets().size()); }

const char *scalaPresetName(int32_t index) {
    return isPresetIndex(index) ? tuningPresets()[static_cast<std::size_t>(index)].name
                                : tuningPresets()[0].name;
}

CentTable scalaPresetCents(int32_t index) {
    return isPresetIndex(index) ? tuningPresets()[static_cast<std::size_t>(index)].cents
                                : CentTable{};
}

} // namespace orvane
