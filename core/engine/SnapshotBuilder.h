#pragma once

#include "core/engine/GraphSnapshot.h"
#include "core/model/Project.h"

#include <cstdint>
#include <memory>
#include <unordered_map>

namespace orvane {

/// The format the renderers are prepared for.
struct RenderFormat {
    double sampleRate = 48000.0;
    /// Longest block the scratch buffers and delay lines hold; 0 while released.
    int64_t rtBlockSize = 0;
};

/// Builds the snapshots the audio thread renders from, and owns the processing state they
/// carry (per-track delay lines, EQs and stock effects, the master processors, the working
/// buffers). Main thread only, with the project mutex held.
///
/// Live playback has one set of states, reused from snapshot to snapshot so tails carry
/// over; an export gets a fresh set for its whole run, so it never hears what played before
/// and leaves nothing in what plays after.
class SnapshotBuilder {
  public:
    std::shared_ptr<GraphSnapshot> build(const Project &project, const RenderFormat &format,
                                         const GraphSnapshot *previous);

    /// Drops the live states: the next build starts them from silence.
    void resetLiveStates() { live = {}; }
    /// Fresh export states from the next build until `endExport`.
    void beginExport() { exporting = std::make_unique<StateSet>(); }
    void endExport() { exporting.reset(); }
    bool exportRunning() const { return exporting != nullptr; }

    std::shared_ptr<LatestFramesRing> flashback;
    /// Whether live blocks spread their tracks over helper threads (on more than one core).
    bool liveOnWorkerThreads = true;

  private:
    struct StateSet {
        std::unordered_map<uint64_t, std::shared_ptr<TrackRenderState>> tracks;
        std::unordered_map<uint64_t, std::shared_ptr<StockInsertChain>> chains;
        std::unordered_map<uint64_t, std::shared_ptr<InstrumentState>> instruments;
        std::shared_ptr<MasterRenderState> master;
    };

    void ensureScratch(const Project &project, int64_t size);
    void ensureLiveWorkers(const Project &project, int64_t size);
    static void ensureStates(StateSet &set, const Project &project, const RenderFormat &format);
    static DspStates statesFor(const StateSet &set, const GraphSnapshot &snapshot);

    StateSet live;
    std::unique_ptr<StateSet> exporting;
    std::shared_ptr<RenderScratch> scratch;
    std::shared_ptr<TrackWorkers> liveWorkers;
};

} // namespace orvane
