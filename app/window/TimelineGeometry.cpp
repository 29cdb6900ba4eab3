#include "app/window/TimelineGeometry.h"

#include "core/model/MusicalTime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orvane {

TimeMap TimeMap::of(const Project &project) {
    TimeMap map;
    map.sampleRate = project.sampleRate > 0.0 ? project.sampleRate : 48000.0;
    map.baseBpm = usableBpm(project.tempoBpm);
    map.meter = usableMeter(project.timeSignature);
    map.tempoMarkers = sortedTempoMarkers(project.tempoMarkers);
    map.index = TempoMapIndex(map.sampleRate, map.tempoMarkers, map.baseBpm);
    map.meterMarkers = project.meterMarkers;
    std::stable_sort(
        map.meterMarkers.begin(), map.meterMarkers.end(),
        [](const MeterMarker &a, const MeterMarker &b) { return a.position < b.position; });
    return map;
}

double TimeMap::beats(int64_t samples) const { return index.samplesToBeats(samples); }

int64_t TimeMap::samples(double beatPosition) const { return index.beatsToSamples(beatPosition); }

double TimeMap::barBeatsAt(double beatPosition) const {
    return beatsPerBar(meterAtPosition(samples(beatPosition), meterMarkers, meter));
}

std::string TimeMap::barsBeats(int64_t position) const {
    const double target = beats(std::max<int64_t>(position, 0));
    // Walk bar by bar so that meter changes count; bounded by the position itself.
    double barStart = 0.0;
    int64_t bar = 1;
    for (;;) {
        const double length = std::max(barBeatsAt(barStart), 0.25);
        if (barStart + length > target + 1e-9 || bar > 100000) break;
        barStart += length;
        ++bar;
    }
    const double inBar = target - barStart;
    const int beat = static_cast<int>(std::floor(inBar)) + 1;
    const int sixteenth = static_cast<int>(std::floor((inBar - std::floor(inBar)) * 4.0)) + 1;
    char text[48];
    std::snprintf(text, sizeof text, "%lld.%d.%d", static_cast<long long>(bar), beat, sixteenth);
    return text;
}

std::vector<TrackRow> TimelineGeometry::rows(const Project &project) const {
    std::vector<TrackRow> result;
    double top = rulerHeight - scrollY;
    for (const auto &track : project.tracks) {
        if (!track || track->type == TrackType::Unused) continue;
        TrackRow row;
        row.trackId = track->id;
        row.top = top;
        row.isReturn = track->type == TrackType::Return;
        for (const auto &clip : track->clips)
            if (!clip->isSessionClip())
                row.lanes = std::max(row.lanes, std::clamp(clip->takeLane, 0, 7) + 1);
        const auto chosen = laneHeights.find(track->id);
        row.mainLaneHeight = chosen != laneHeights.end()
                                 ? std::clamp(chosen->second, smallestLaneHeight, largestLaneHeight)
                                 : laneHeight;
        row.automationHeight = showAutomation ? automationLaneHeight : 0.0;
        row.height = row.mainLaneHeight + (row.lanes - 1) * takeLaneHeight + row.automationHeight;
        result.push_back(row);
        top += row.height;
    }
    return result;
}

double TimelineGeometry::contentHeight(const Project &project) const {
    const auto all = rows(project);
    return all.empty() ? 0.0 : all.back().top + all.back().height - (rulerHeight - scrollY);
}

const TrackRow *TimelineGeometry::rowAt(const std::vector<TrackRow> &rows, double y) {
    for (const auto &row : rows)
        if (y >= row.top && y < row.top + row.height) return &row;
    return nullptr;
}

QRectF TimelineGeometry::clipRect(const Clip &clip, const TrackRow &row,
                                  const TimeMap &time) const {
    const double left = xForBeats(time.beats(clip.arrangeStart));
    const double right =
        xForBeats(time.beats(clip.arrangeStart + std::max<int64_t>(clip.length, 1)));
    const int32_t lane = std::clamp(clip.takeLane, 0, row.lanes - 1);
    const double top =
        lane == 0 ? row.top + 2.0 : row.top + row.mainLaneHeight + (lane - 1) * takeLaneHeight;
    const double height = (lane == 0 ? row.mainLaneHeight : takeLaneHeight) - 4.0;
    return QRectF(left, top, std::max(right - left, 2.0), height);
}

ClipPart TimelineGeometry::partAt(const Clip &clip, const QRectF &rect, QPointF point,
                                  double framesPerPixel) {
    if (!rect.contains(point)) return ClipPart::None;
    const double fromLeft = point.x() - rect.left();
    const double fromRight = rect.right() - point.x();
    const bool nearTop = point.y() - rect.top() <= handleSize + 2.0;
    if (clip.kind == ClipKind::Audio && nearTop && rect.width() > 4 * handleSize) {
        const double fadeIn = fadeOffset(clip.fadeIn, framesPerPixel);
        const double fadeOut = fadeOffset(clip.fadeOut, framesPerPixel);
        if (std::abs(fromLeft - fadeIn) <= handleSize) return ClipPart::FadeIn;
        if (std::abs(fromRight - fadeOut) <= handleSize) return ClipPart::FadeOut;
    }
    if (fromLeft <= edgeGrab) return ClipPart::StartEdge;
    if (fromRight <= edgeGrab) return ClipPart::EndEdge;
    // The whole line takes the pointer, as it is drawn; the body stays above and below it.
    if (clip.kind == ClipKind::Audio &&
        std::abs(point.y() - gainLineY(rect, clip.gain)) <= gainGrab)
        return ClipPart::Gain;
    return ClipPart::Body;
}

double TimelineGeometry::gainLineY(const QRectF &rect, float gain) {
    // Square-root scale: unity sits at half height, so small gains stay reachable.
    const double shown = std::sqrt(std::clamp(static_cast<double>(gain), 0.0, 4.0) / 4.0);
    return rect.bottom() - shown * rect.height();
}

float TimelineGeometry::gainForY(const QRectF &rect, double y) {
    const double shown = std::clamp((rect.bottom() - y) / rect.height(), 0.0, 1.0);
    return static_cast<float>(shown * shown * 4.0);
}

} // namespace orvane
