#include "core/engine/RenderStages.h"

#include "core/model/AutomationLanes.h"
#include "core/model/StockEffectSettings.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace orvane {

float readAutomation(std::span<const AutomationPoint> points, int64_t position, float fallback) {
    if (points.empty()) return fallback;
    if (position <= points.front().t) return points.front().v;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const AutomationPoint &from = points[i];
        const AutomationPoint &to = points[i + 1];
        if (position <= to.t) {
            const double fraction = static_cast<double>(position - from.t) /
                                    static_cast<double>(std::max<int64_t>(to.t - from.t, 1));
            return from.v + (to.v - from.v) * static_cast<float>(fraction);
        }
    }
    return points.back().v;
}

namespace {

const std::vector<AutomationPoint> noPoints;

/// A lane's own points; an insert's lane (which the snapshot gives a point at the stored
/// setting when only automation clips drive it) is its parameter automation.
const std::vector<AutomationPoint> &laneVector(const Track &track, int32_t lane) {
    if (lane >= firstInsertLane) {
        const auto index = static_cast<std::size_t>(lane - firstInsertLane);
        return index < track.inserts.size() ? track.inserts[index].paramAutomation : noPoints;
    }
    switch (lane) {
    case 1: return track.panAutomation;
    case 2: return track.muteAutomation;
    default: return track.volumeAutomation;
    }
}

bool laneAutomated(const Track &track, int32_t lane) {
    if (laneVector(track, lane).size() >= 2) return true;
    return std::any_of(track.automationClips.begin(), track.automationClips.end(),
                       [lane](const AutomationClip &clip) {
                           return clip.lane == lane && clip.points.size() >= 2;
                       });
}

float magnitudeFromBits(uint32_t bits) {
    // A NaN reads as the loudest possible value, not as a bit pattern of no meaning.
    return std::bit_cast<float>(std::min(bits, nonFiniteMagnitudeBits));
}

} // namespace

Peaks blockPeaks(const float *left, const float *right, int32_t frames) {
    return Peaks{magnitudeFromBits(largestMagnitudeBits(left, frames)),
                 magnitudeFromBits(largestMagnitudeBits(right, frames))};
}

uint32_t largestMagnitudeBits(const float *samples, int32_t count) {
    int32_t largest = 0;
    for (int32_t i = 0; i < count; ++i)
        largest = std::max(largest, magnitudeBits(samples[i]));
    return static_cast<uint32_t>(largest);
}

float readAutomationAt(const Track &track, int32_t lane, int64_t position, float fallback) {
    for (const AutomationClip &clip : track.automationClips) {
        if (clip.lane != lane) continue;
        if (position < clip.start || position >= clip.start + std::max<int64_t>(clip.length, 1))
            continue;
        if (clip.points.size() < 2) return fallback;
        return readAutomation(clip.points, position - clip.start, fallback);
    }
    return readAutomation(laneVector(track, lane), position, fallback);
}

float mixerValueAt(const Track &track, int32_t lane, int64_t position) {
    const float setting = lane == 1 ? track.pan : track.gain;
    return laneAutomated(track, lane) ? readAutomationAt(track, lane, position, setting) : setting;
}

bool trackMutedAt(const Track &track, int64_t position) {
    if (track.muteAutomation.size() <= 1 && track.automationClips.empty()) return track.mute;
    return readAutomationAt(track, 2, position, track.mute ? 0.0f : 1.0f) < 0.5f;
}

bool hasMixerAutomation(const Track &track) {
    return track.volumeAutomation.size() > 1 || track.panAutomation.size() > 1 ||
           !track.automationClips.empty();
}

float faderGain(const Track &track, float gain) { return gain * (track.macros[0] * 1.75f + 0.25f); }

float macroPan(const Track &track, float pan) {
    return std::clamp(pan + (track.macros[1] - 0.5f) * 2.0f, -1.0f, 1.0f);
}

Peaks applyMixer(const Track &track, float *left, float *right, int32_t frames, float gainOverride,
                 float panOverride) {
    const float gain = faderGain(track, gainOverride >= 0.0f ? gainOverride : track.gain);
    const float pan = macroPan(track, panOverride < 2.0f ? panOverride : track.pan);
    const float leftGain = gain * std::min(1.0f - pan, 1.0f);
    const float rightGain = gain * std::min(1.0f + pan, 1.0f);
    // The peaks are taken in the same pass: the block is read once, not twice.
    int32_t leftPeak = 0;
    int32_t rightPeak = 0;
    for (int32_t i = 0; i < frames; ++i) {
        left[i] *= leftGain;
        right[i] *= rightGain;
        leftPeak = std::max(leftPeak, magnitudeBits(left[i]));
        rightPeak = std::max(rightPeak, magnitudeBits(right[i]));
    }
    return Peaks{magnitudeFromBits(static_cast<uint32_t>(leftPeak)),
                 magnitudeFromBits(static_cast<uint32_t>(rightPeak))};
}

Peaks applyMixerAutomation(const Track &track, float *left, float *right, int32_t frames,
                           int64_t position) {
    const bool volumeAutomated = laneAutomated(track, 0);
    const bool panAutomated = laneAutomated(track, 1);
    for (int32_t i = 0; i < frames; ++i) {
        const int64_t at = position + i;
        const float gain = faderGain(
            track, volumeAutomated ? readAutomationAt(track, 0, at, track.gain) : track.gain);
        const float pan =
            macroPan(track, panAutomated ? readAutomationAt(track, 1, at, track.pan) : track.pan);
        left[i] *= gain * std::min(1.0f - pan, 1.0f);
        right[i] *= gain * std::min(1.0f + pan, 1.0f);
    }
    return blockPeaks(left, right, frames);
}

void applyPdcDelay(PdcState *state, float *left, float *right, int32_t frames, int64_t delay) {
    if (frames < 1 || !left || !right || delay < 1 || !state) return;
    const uint64_t length = state->left.size();
    if (length < static_cast<uint64_t>(frames) + static_cast<uint64_t>(delay) + 1) return;
    uint64_t write = state->writePos % length;
    const uint64_t lag = static_cast<uint64_t>(delay);
    for (int32_t i = 0; i < frames; ++i) {
        state->left[write] = left[i];
        state->right[write] = right[i];
        const uint64_t read = (length - lag + write) % length;
        left[i] = state->left[read];
        right[i] = state->right[read];
        write = (write + 1) % length;
    }
    state->writePos = write;
}

StockInsertProcessor::Kind stockKindOf(const std::string &pluginId) {
    using Kind = StockInsertProcessor::Kind;
    if (pluginId == "stock.eq") return Kind::gain;
    if (pluginId == "stock.compressor") return Kind::saturation;
    if (pluginId == "stock.delay") return Kind::delay;
    if (pluginId == "stock.reverb") return Kind::reverb;
    return Kind::none;
}

void setStockParameter(StockInsertProcessor &processor, uint32_t index, float value) {
    using Kind = StockInsertProcessor::Kind;
    switch (processor.kind) {
    case Kind::compressor: {
        stock::Compressor &compressor = *processor.compressor;
        float *fields[] = {&compressor.thresholdDb, &compressor.ratio, &compressor.attackMs,
                           &compressor.releaseMs, &compressor.makeupDb};
        if (index < std::size(fields)) *fields[index] = value;
        break;
    }
    case Kind::equaliser: {
        ChannelEq8 eq = processor.equaliser->settings();
        if (index < 3)
            eq.bands[index].gainDb = value;
        else if (index == 3)
            eq.outDb = value;
        // A redesign costs more than the block's filtering: only for a value that moved.
        if (!(eq == processor.equaliser->settings())) processor.equaliser->setSettings(eq);
        break;
    }
    case Kind::delay: {
        stock::Delay &delay = *processor.delay;
        if (index == 0) delay.timeMs = value;
        if (index == 1) delay.feedback = value / 100.0f;
        if (index == 2) delay.mix = value / 100.0f;
        break;
    }
    case Kind::reverb:
        if (index == 0) processor.reverb->size = value / 100.0f;
        if (index == 1) processor.reverb->mix = value / 100.0f;
        break;
    default: break;
    }
}

namespace {

/// The automated parameter of built-in insert `index` from its lane at `position`, an
/// automation clip of the lane first: the lane holds 0..1 over the parameter's range.
void applyStockAutomation(const Track &track, std::size_t index, StockInsertProcessor &processor,
                          int64_t position) {
    if (!processor.automatedSetting) return;
    const float lane = readAutomationAt(track, insertAutomationLane(index), position, 0.0f);
    setStockParameter(processor, processor.automatedParameter,
                      stockValueFromNormalized(*processor.automatedSetting, lane));
}

} // namespace

void processStockFx(const Track &track, StockInsertChain *chain, float *left, float *right,
                    int32_t frames, int64_t position) {
    using Kind = StockInsertProcessor::Kind;
    for (std::size_t index = 0; index < track.inserts.size(); ++index) {
        const InsertSlot &insert = track.inserts[index];
        if (insert.bypassed || !insert.isStock) continue;
        StockInsertProcessor *processor =
            chain && index < chain->processors.size() ? &chain->processors[index] : nullptr;
        if (processor) applyStockAutomation(track, index, *processor, position);
        const Kind kind = processor ? processor->kind : stockKindOf(insert.pluginId);
        switch (kind) {
        case Kind::gain:
            for (int32_t i = 0; i < frames; ++i) {
                left[i] *= 1.02f;
                right[i] *= 1.02f;
            }
            break;
        case Kind::saturation:
            for (int32_t i = 0; i < frames; ++i) {
                left[i] = std::tanh(1.2f * left[i]);
                right[i] = std::tanh(1.2f * right[i]);
            }
            break;
        case Kind::delay:
            if (processor && processor->delay) processor->delay->process(left, right, frames);
            break;
        case Kind::reverb:
            if (processor && processor->reverb) processor->reverb->process(left, right, frames);
            break;
        case Kind::compressor:
            if (processor && processor->compressor)
                processor->compressor->process(left, right, frames);
            break;
        case Kind::equaliser:
            if (processor && processor->equaliser)
                processor->equaliser->process(left, right, frames);
            break;
        case Kind::none: break;
        }
    }
}

void writeMasterOutput(const ControlRoomSettings &controlRoom, const float *masterLeft,
                       const float *masterRight, float *const *channels, int32_t channelCount,
                       int32_t frames) {
    const float master = std::max(controlRoom.masterGain, 0.0f) * (controlRoom.dim ? 0.25f : 1.0f);
    const float cue = std::clamp(controlRoom.cueGain, 0.0f, 2.0f);
    if (frames < 1 || !channels || channelCount < 1) return;
    const float gain = master + cue * 0.35f;
    float *first = channels[0];
    float *second = channelCount >= 2 ? channels[1] : nullptr;
    for (int32_t i = 0; i < frames; ++i) {
        float outLeft = masterLeft[i] * gain;
        float outRight = masterRight[i] * gain;
        if (controlRoom.mono) outLeft = outRight = (outLeft + outRight) * 0.5f;
        if (second) {
            if (first) first[i] = outLeft;
            second[i] = outRight;
        } else if (first) {
            first[i] = outLeft;
        }
    }
}

float sendGain(const Track &track, std::size_t index) {
    const float level = track.sends[index].level;
    return index == 0 ? level * (track.macros[2] * 1.75f + 0.25f) : level;
}

} // namespace orvane
