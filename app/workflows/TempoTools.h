#pragma once

#include "app/shell/WorkspaceServices.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

class OVMainView;

/// The view's tempo and flashback actions: tempo analysis of a clip with the smart-tempo
/// modes, tap tempo, the tempo follower, tempo markers at the playhead and flashback capture.
/// Main thread only; the project is read and changed under the project lock, and tempo
/// reaches the audio thread as a request.
class TempoTools {
  public:
    static constexpr std::size_t maxTaps = 8;
    /// User-interface ticks between two runs of the tempo follower (about a second).
    static constexpr int32_t followerTickInterval = 30;

    TempoTools(const WorkspaceServices &services, OVMainView &view);

    void analyzeTempo();
    /// A tap now (steady clock).
    void tapTempo();
    /// A tap at `seconds` on any steady clock.
    void tapTempoAt(double seconds);
    const std::vector<double> &tapTimes() const { return taps; }

    /// Called on every user-interface tick; runs the follower every 30th.
    void onUiTick();
    void tickTempoFollower();
    void toggleTempoFollower();
    void toggleTempoFollowerInput();
    void addTempoMarkerAtPlayhead();
    void captureFlashback();
    void cycleFlashbackDuration();
    /// 0 Keep, 1 Adapt, 2 Automatic; other values change nothing.
    void setSmartTempoMode(int32_t mode);

  private:
    /// Sets the project's and the engine's tempo, then asks the audio thread for it.
    void postTempo(double bpm);
    void show(const std::string &text);
    [[nodiscard]] bool readFollowerSource(std::vector<float> &samples);

    WorkspaceServices services;
    OVMainView &view;
    std::vector<double> taps;
    int32_t ticksSinceFollower = 0;
};

} // namespace orvane
