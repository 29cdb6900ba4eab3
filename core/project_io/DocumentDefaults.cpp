#include "core/project_io/DocumentDefaults.h"

namespace orvane::project_io {

namespace {

GrooveTemplate shuffleGroove() {
    GrooveTemplate groove{"Shuffle", 0.4f, 0.25f, {}, {}};
    const float velocityCycle[4] = {0.5f, 0.5f, 0.65f, 0.5f};
    for (std::size_t step = 0; step < 16; ++step) {
        groove.timingPattern[step] = step % 2 == 0 ? -0.04f : 0.18f;
        groove.velocityPattern[step] = velocityCycle[step % 4];
    }
    return groove;
}

GrooveTemplate swingGroove() {
    GrooveTemplate groove{"MPC Swing", 0.55f, 0.35f, {}, {}};
    const float velocityCycle[3] = {0.45f, 0.55f, 0.65f};
    for (std::size_t step = 0; step < 16; ++step) {
        groove.timingPattern[step] = step % 2 == 0 ? 0.0f : 0.22f;
        groove.velocityPattern[step] = velocityCycle[step % 3];
    }
    return groove;
}

} // namespace

std::vector<GrooveTemplate> defaultGroovePool() { return {shuffleGroove(), swingGroove()}; }

std::vector<ExpressionMap> defaultExpressionMaps() {
    ExpressionMap strings{"Strings",
                          {{"Legato", 36, 1.0f, 11, 90},
                           {"Staccato", 37, 0.72f, 11, 45},
                           {"Pizzicato", 38, 0.58f, 11, 25},
                           {"Tremolo", 39, 0.85f, 1, 110}}};
    ExpressionMap brass{"Brass",
                        {{"Sustain", 48, 1.0f, 11, 100},
                         {"Marcato", 49, 0.9f, 11, 127},
                         {"Mute", 50, 0.65f, 11, 35}}};
    return {strings, brass};
}

std::array<float, 12> scalaPresetCents(int32_t index) {
    switch (index) {
    case 1:
        return {0.0f, 3.91f, 3.91f, -1.96f, 3.91f, 3.91f, 3.91f, 0.0f, 3.91f, 3.91f, -1.96f, 1.96f};
    case 2:
        return {0.0f,   -29.33f, -3.91f,  -15.64f, -1.96f,  -1.96f,
                -17.6f, 1.96f,   -13.69f, -1.96f,  -15.64f, -11.73f};
    case 3:
        return {0.0f,   -29.33f, -5.87f,  -15.64f, -1.96f,  -17.6f,
                -5.87f, 1.96f,   -13.69f, -3.91f,  -15.64f, -11.73f};
    default: return {};
    }
}

} // namespace orvane::project_io
