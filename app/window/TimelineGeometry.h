#pragma once

#include "core/commands/AutomationCommands.h"
#include "core/model/Project.h"
#include "core/model/TempoMapIndex.h"

#include <QPointF>
#include <QRectF>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace orvane {

/// Samples to beats and back under the project's tempo map, sorted once per use.
struct TimeMap {
    double sampleRate = 48000.0;
    double baseBpm = 120.0;
    TimeSignature meter;
    std::vector<TempoMarker> tempoMarkers; // sorted
    std::vector<MeterMarker> meterMarkers;
    /// The tempo markers ready for conversion by search: the ruler converts every marker
    /// on each paint, and an imported file may hold a hundred thousand.
    TempoMapIndex index{48000.0, 120.0};

    static TimeMap of(const Project &project);
    double beats(int64_t samples) const;
    int64_t samples(double beats) const;
    /// Beats per bar at `beats`, from the meter map.
    double barBeatsAt(double beats) const;
    /// "bar.beat.sixteenth" counted from 1, under the meter map.
    std::string barsBeats(int64_t samples) const;
};

/// Where a clip's parts sit: what a press at a point grabs.
enum class ClipPart : uint8_t { None, Body, StartEdge, EndEdge, FadeIn, FadeOut, Gain };

/// How an automation lane's values stand in its strip: the lane's range from the bottom to the
/// top, with a small margin so points at the ends stay visible. Mute (lane 2) only takes 0 or 1.
struct AutomationScale {
    QRectF area;
    int32_t lane = 0;

    static std::pair<float, float> rangeOf(int32_t lane) {
        switch (lane) {
        case 1: return {-1.0f, 1.0f};
        case 2:
        case 3: return {0.0f, 1.0f};
        default:
            // An insert's parameter lane holds 0..1 over the parameter's range.
            if (insertIndexOfLane(lane)) return {0.0f, 1.0f};
            return {0.0f, 2.0f};
        }
    }
    double yOf(float value) const {
        const auto [lowest, highest] = rangeOf(lane);
        return area.bottom() - margin -
               (std::clamp(value, lowest, highest) - lowest) / (highest - lowest) *
                   (area.height() - 2.0 * margin);
    }
    float valueAt(double y) const {
        const auto [lowest, highest] = rangeOf(lane);
        const double fraction =
            std::clamp((area.bottom() - margin - y) / (area.height() - 2.0 * margin), 0.0, 1.0);
        const auto value = static_cast<float>(lowest + fraction * (highest - lowest));
        return lane == 2 ? std::round(value) : value;
    }

  private:
    static constexpr double margin = 3.0;
};

/// One track's row of the timeline: a lane per take, lane 0 on top, and the automation lane
/// under them when automation is shown.
struct TrackRow {
    uint64_t trackId = 0;
    double top = 0.0;
    double height = 0.0;
    int32_t lanes = 1;
    double mainLaneHeight = 58.0;
    double automationHeight = 0.0; // 0 when automation is hidden
    bool isReturn = false;

    double automationTop() const { return top + height - automationHeight; }
    QRectF automationArea(double left, double right) const {
        return QRectF(left, automationTop(), right - left, automationHeight);
    }
};

/// The timeline's coordinates: a header column on the left, the ruler on top, a row per
/// track below (returns too, which hold automation but no clips), time running right at
/// `pixelsPerBeat`.
struct TimelineGeometry {
    static constexpr double headerWidth = 176.0;
    static constexpr double rulerHeight = 46.0;
    static constexpr double laneHeight = 58.0;
    static constexpr double takeLaneHeight = 30.0;
    static constexpr double edgeGrab = 6.0;
    static constexpr double handleSize = 8.0;
    /// How far above or below an audio clip's gain line a press still takes the line.
    static constexpr double gainGrab = 4.0;
    static constexpr double automationLaneHeight = 48.0;
    static constexpr double smallestLaneHeight = 34.0;
    static constexpr double largestLaneHeight = 240.0;

    double scrollBeats = 0.0;
    double pixelsPerBeat = 36.0;
    double scrollY = 0.0;
    bool showAutomation = false;
    /// Main-lane heights the user chose by dragging a header's lower edge; view state only.
    std::map<uint64_t, double> laneHeights;

    double xForBeats(double beats) const {
        return headerWidth + (beats - scrollBeats) * pixelsPerBeat;
    }
    double beatsForX(double x) const { return scrollBeats + (x - headerWidth) / pixelsPerBeat; }

    /// The rows of the tracks, in the project's order.
    std::vector<TrackRow> rows(const Project &project) const;
    /// The height of every row together.
    double contentHeight(const Project &project) const;
    /// The row under `y`, null when none.
    static const TrackRow *rowAt(const std::vector<TrackRow> &rows, double y);
    /// The rectangle of `clip` in `row`, its lane by take.
    QRectF clipRect(const Clip &clip, const TrackRow &row, const TimeMap &time) const;
    /// What of the clip at `rect` lies under `point`; fades and gain only for audio clips.
    static ClipPart partAt(const Clip &clip, const QRectF &rect, QPointF point,
                           double framesPerPixel);
    /// The fade handle's x offset into the clip for a fade of `fadeFrames`.
    static double fadeOffset(int64_t fadeFrames, double framesPerPixel) {
        return static_cast<double>(fadeFrames) / framesPerPixel;
    }
    /// The gain line's height within `rect` for a linear gain up to 4 (unity at half height).
    static double gainLineY(const QRectF &rect, float gain);
    static float gainForY(const QRectF &rect, double y);
};

} // namespace orvane
