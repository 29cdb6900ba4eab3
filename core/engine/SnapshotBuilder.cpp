#include "core/engine/SnapshotBuilder.h"
#include "core/engine/TrackWorkers.h"

#include "core/engine/Engine.h"
#include "core/engine/InstrumentVoices.h"
#include "core/engine/RenderContext.h"
#include "core/engine/RenderStages.h"
#include "core/model/AutomationLanes.h"
#include "core/model/MusicalTime.h"
#include "core/model/StockEffectSettings.h"
#include "core/model/StoredFields.h"
#include "core/music/ExpressionMaps.h"

#include <algorithm>
#include <thread>

namespace orvane {

namespace {

/// Every stored setting the renderers read, as the table of stored fields names them, so a
/// new one reaches the snapshot without a line here.
void copyRendererSettings(const Project &project, RendererSettings &settings) {
    for (const StoredField<Project> &field : stored::projectFields())
        if (field.reachesRenderers()) field.copyToRenderers(project, settings);
    for (const StoredField<SessionGrid> &field : stored::sessionFields())
        if (field.reachesRenderers()) field.copyToRenderers(project.session, settings);
}

int64_t pdcLineLength(int64_t renderBlockSize) {
    return std::max<int64_t>(renderBlockSize, 64) + Engine::pdcHeadroomSamples;
}

std::shared_ptr<RenderScratch> makeScratch(int64_t size) {
    auto buffers = std::make_shared<RenderScratch>();
    buffers->blockSize = size;
    const auto length = static_cast<std::size_t>(size);
    buffers->masterLeft.assign(length, 0.0f);
    buffers->masterRight.assign(length, 0.0f);
    buffers->trackLeft.assign(length, 0.0f);
    buffers->trackRight.assign(length, 0.0f);
    for (std::size_t slot = 0; slot < 8; ++slot) {
        buffers->returnLeft[slot].assign(length, 0.0f);
        buffers->returnRight[slot].assign(length, 0.0f);
    }
    return buffers;
}

bool hasAutomationClips(const Track &track, int32_t lane) {
    return std::any_of(track.automationClips.begin(), track.automationClips.end(),
                       [lane](const AutomationClip &clip) { return clip.lane == lane; });
}

/// A built-in insert whose lane has automation clips but no points of its own gets one point
/// at its stored setting, so that between the clips it plays as set.
void restInsertLanesBetweenClips(Track &track) {
    for (std::size_t index = 0; index < track.inserts.size(); ++index) {
        InsertSlot &insert = track.inserts[index];
        const auto parameters = stockParametersOf(insert.pluginId);
        if (!insert.isStock || !insert.paramAutomation.empty() ||
            insert.automParamId >= parameters.size() ||
            !hasAutomationClips(track, insertAutomationLane(index)))
            continue;
        const float stored = stockValuesOrDefaultsOf(insert)[insert.automParamId];
        insert.paramAutomation = {
            {0, stockValueToNormalized(parameters[insert.automParamId], stored)}};
    }
}

/// A deep copy of the track and its clips, so the snapshot shares no container with the
/// live project. Sample buffers stay shared: they are immutable once published.
std::shared_ptr<const Track> snapshotTrack(const Track &track) {
    auto copy = std::make_shared<Track>(track);
    for (auto &clip : copy->clips)
        if (clip) clip = std::make_shared<Clip>(*clip);
    restInsertLanesBetweenClips(*copy);
    return copy;
}

/// The index of the parameter a built-in insert's automation drives, or `notAutomated`.
uint32_t automatedParameterOf(const Track &track, std::size_t index) {
    const InsertSlot &insert = track.inserts[index];
    if (!insert.isStock ||
        (insert.paramAutomation.empty() && !hasAutomationClips(track, insertAutomationLane(index))))
        return StockInsertProcessor::notAutomated;
    return insert.automParamId < stockParametersOf(insert.pluginId).size()
               ? insert.automParamId
               : StockInsertProcessor::notAutomated;
}

bool sameInsertIds(const StockInsertChain &chain, const Track &track) {
    if (chain.processors.size() != track.inserts.size()) return false;
    for (std::size_t i = 0; i < track.inserts.size(); ++i)
        if (chain.processors[i].pluginId != track.inserts[i].pluginId ||
            chain.processors[i].isStock != track.inserts[i].isStock ||
            (track.inserts[i].isStock && chain.processors[i].state != track.inserts[i].state) ||
            chain.processors[i].automatedParameter != automatedParameterOf(track, i))
            return false;
    return true;
}

/// The processor of a built-in insert the user has set or automates: its settings, in the
/// units the panel shows, become the processor's.
void configureStockProcessor(StockInsertProcessor &processor, const std::vector<float> &values,
                             double rate) {
    using Kind = StockInsertProcessor::Kind;
    switch (processor.kind) {
    case Kind::saturation:
        processor.kind = Kind::compressor;
        processor.compressor = std::make_unique<stock::Compressor>();
        processor.compressor->prepare(rate);
        break;
    case Kind::gain: {
        processor.kind = Kind::equaliser;
        ChannelEq8 eq;
        for (EqBandSettings &band : eq.bands)
            band.enabled = false;
        eq.bands[0] = {1, 120.0f, 0.0f, 0.7f, true};
        eq.bands[1] = {2, 1000.0f, 0.0f, 0.7f, true};
        eq.bands[2] = {3, 8000.0f, 0.0f, 0.7f, true};
        processor.equaliser = std::make_unique<stock::ParametricEq8>();
        processor.equaliser->prepare(rate);
        processor.equaliser->setSettings(eq);
        break;
    }
    case Kind::delay: processor.delay->prepare(rate); break;
    case Kind::reverb: processor.reverb->prepare(rate); break;
    default: break;
    }
    for (std::size_t index = 0; index < values.size(); ++index)
        setStockParameter(processor, static_cast<uint32_t>(index), values[index]);
}

/// Delay and reverb inserts run the stock processors with their default settings until the
/// user sets them: a quarter-second echo at 30 % feedback and half mix, and a medium room at
/// 30 % mix. An automated insert runs its real processor even before the user set it: the
/// fixed sound of an unset compressor or EQ has no parameter to move.
std::shared_ptr<StockInsertChain> makeStockChain(const Track &track, double rate) {
    auto chain = std::make_shared<StockInsertChain>();
    chain->processors.resize(track.inserts.size());
    for (std::size_t i = 0; i < track.inserts.size(); ++i) {
        const InsertSlot &insert = track.inserts[i];
        StockInsertProcessor &processor = chain->processors[i];
        processor.pluginId = insert.pluginId;
        processor.isStock = insert.isStock;
        if (!insert.isStock) continue;
        processor.state = insert.state;
        processor.kind = stockKindOf(insert.pluginId);
        if (processor.kind == StockInsertProcessor::Kind::delay) {
            processor.delay = std::make_unique<stock::Delay>();
            processor.delay->prepare(rate);
        } else if (processor.kind == StockInsertProcessor::Kind::reverb) {
            processor.reverb = std::make_unique<stock::Reverb>();
            processor.reverb->prepare(rate);
        }
        processor.automatedParameter = automatedParameterOf(track, i);
        if (processor.automatedParameter != StockInsertProcessor::notAutomated) {
            processor.automatedSetting =
                &stockParametersOf(insert.pluginId)[processor.automatedParameter];
            configureStockProcessor(processor, stockValuesOrDefaultsOf(insert), rate);
        } else if (const auto settings = stockSettingsOf(insert)) {
            configureStockProcessor(processor, *settings, rate);
        }
    }
    return chain;
}

const ExpressionMap *expressionMapOf(const GraphSnapshot &snapshot, const Track &track) {
    if (track.expressionMapIndex < 0 ||
        static_cast<std::size_t>(track.expressionMapIndex) >= snapshot.expressionMaps.size())
        return nullptr;
    return &snapshot.expressionMaps[static_cast<std::size_t>(track.expressionMapIndex)];
}

void placeClips(GraphSnapshot &snapshot) {
    for (std::size_t trackIndex = 0; trackIndex < snapshot.tracks.size(); ++trackIndex) {
        const auto &clips = snapshot.tracks[trackIndex]->clips;
        for (std::size_t clipIndex = 0; clipIndex < clips.size(); ++clipIndex)
            if (clips[clipIndex])
                snapshot.clipPlaces.push_back({clips[clipIndex]->id,
                                               static_cast<uint32_t>(trackIndex),
                                               static_cast<uint32_t>(clipIndex)});
    }
    // A document with two clips of one id (never written by this program) finds the first,
    // as the walk in track order did.
    std::stable_sort(snapshot.clipPlaces.begin(), snapshot.clipPlaces.end(),
                     [](const auto &a, const auto &b) { return a.clipId < b.clipId; });
}

void indexMidiClips(GraphSnapshot &snapshot) {
    snapshot.midiIndexes.resize(snapshot.tracks.size());
    for (std::size_t t = 0; t < snapshot.tracks.size(); ++t) {
        const Track &track = *snapshot.tracks[t];
        if (track.type != TrackType::Midi) continue;
        const ExpressionMap *map = expressionMapOf(snapshot, track);
        auto &indexes = snapshot.midiIndexes[t];
        indexes.resize(track.clips.size());
        for (std::size_t c = 0; c < track.clips.size(); ++c)
            if (track.clips[c]->kind == ClipKind::Midi)
                buildMidiClipIndex(snapshot, *track.clips[c], map, indexes[c]);
    }
}

} // namespace

void SnapshotBuilder::ensureScratch(const Project &project, int64_t size) {
    if (scratch && scratch->blockSize == size &&
        scratch->trackLatencies.size() >= project.tracks.size())
        return;
    scratch = makeScratch(size);
    // Room for more tracks than there are, so adding a few does not rebuild the buffers.
    scratch->trackLatencies.assign(project.tracks.size() + 16, 0);
}

// The helpers start once and stay while the block size holds and the tracks fit, so that an
// edit never costs a thread; room for more tracks than there are, as for the scratch.
void SnapshotBuilder::ensureLiveWorkers(const Project &project, int64_t size) {
    if (!liveOnWorkerThreads || std::thread::hardware_concurrency() < 2) {
        liveWorkers.reset();
        return;
    }
    const auto tracks = static_cast<int32_t>(project.tracks.size());
    if (liveWorkers && liveWorkers->blockSize() == size && liveWorkers->trackCapacity() >= tracks)
        return;
    liveWorkers = std::make_shared<TrackWorkers>(tracks + 16, static_cast<int32_t>(size),
                                                 TrackWorkers::helpersForThisMachine());
}

void SnapshotBuilder::ensureStates(StateSet &set, const Project &project,
                                   const RenderFormat &format) {
    const double rate = format.sampleRate;
    if (!set.master) {
        set.master = std::make_shared<MasterRenderState>();
        set.master->eq.setSettings(project.masterEq);
        set.master->eq.prepare(rate);
        set.master->mastering.prepare(rate);
    }
    std::erase_if(set.chains,
                  [&project](const auto &entry) { return !project.findTrack(entry.first); });
    for (const auto &track : project.tracks) {
        if (!track) continue;
        auto &chain = set.chains[track->id];
        if (!chain || !sameInsertIds(*chain, *track)) chain = makeStockChain(*track, rate);
    }
    // An instrument lives as long as its track plays it at this rate: held notes ring on
    // through every other edit, and new settings reach it through the snapshot.
    std::erase_if(set.instruments, [&project, rate](const auto &entry) {
        const auto track = project.findTrack(entry.first);
        return !track || !instrumentStateFits(*entry.second,
                                              instrumentPlanOf(*track, project.rootPath), rate);
    });
    for (const auto &track : project.tracks) {
        if (!track || set.instruments.contains(track->id)) continue;
        const InstrumentPlan plan = instrumentPlanOf(*track, project.rootPath);
        if (plan.plays()) set.instruments[track->id] = makeInstrumentState(track->id, plan, rate);
    }
    const int64_t lineLength = pdcLineLength(format.rtBlockSize);
    // States of removed tracks go with the snapshots that still hold them.
    std::erase_if(set.tracks,
                  [&project](const auto &entry) { return !project.findTrack(entry.first); });
    for (const auto &track : project.tracks) {
        if (!track) continue;
        auto &state = set.tracks[track->id];
        if (state && static_cast<int64_t>(state->pdc.left.size()) >= lineLength) continue;
        // A new state rather than a resize: the audio thread may be reading the old one.
        auto grown = std::make_shared<TrackRenderState>();
        grown->trackId = track->id;
        grown->pdc.left.reallocate(static_cast<std::size_t>(lineLength));
        grown->pdc.right.reallocate(static_cast<std::size_t>(lineLength));
        grown->eq.setSettings(track->eq);
        grown->eq.prepare(rate);
        state = std::move(grown);
    }
}

DspStates SnapshotBuilder::statesFor(const StateSet &set, const GraphSnapshot &snapshot) {
    DspStates states;
    states.master = set.master;
    states.tracks.reserve(snapshot.tracks.size());
    states.stockChains.reserve(snapshot.tracks.size());
    states.instruments.reserve(snapshot.tracks.size());
    for (const auto &track : snapshot.tracks) {
        const auto state = set.tracks.find(track->id);
        states.tracks.push_back(state == set.tracks.end() ? nullptr : state->second);
        const auto chain = set.chains.find(track->id);
        states.stockChains.push_back(chain == set.chains.end() ? nullptr : chain->second);
        const auto instrument = set.instruments.find(track->id);
        states.instruments.push_back(instrument == set.instruments.end() ? nullptr
                                                                         : instrument->second);
    }
    return states;
}

std::shared_ptr<GraphSnapshot> SnapshotBuilder::build(const Project &project,
                                                      const RenderFormat &format,
                                                      const GraphSnapshot *previous) {
    if (format.rtBlockSize < 1) {
        // Released: nothing renders until the next prepare.
        scratch.reset();
        liveWorkers.reset();
        live = {};
    } else {
        ensureScratch(project, format.rtBlockSize);
        ensureLiveWorkers(project, format.rtBlockSize);
        ensureStates(live, project, format);
        if (exporting) ensureStates(*exporting, project, format);
    }
    auto snapshot = std::make_shared<GraphSnapshot>();
    snapshot->tracks.reserve(project.tracks.size());
    for (const auto &track : project.tracks)
        if (track) snapshot->tracks.push_back(snapshotTrack(*track));
    copyRendererSettings(project, *snapshot);
    if (snapshot->expressionMaps.empty()) snapshot->expressionMaps = defaultExpressionMaps();
    for (const auto &track : snapshot->tracks) {
        if (track->armed) snapshot->anyArmed = true;
        if (track->monitorsInput()) snapshot->anyMonitorsInput = true;
        if (track->armed && track->type == TrackType::Midi) snapshot->anyArmedMidi = true;
        if (track->type == TrackType::Return && snapshot->returnCount < 8)
            snapshot->returnIds[static_cast<std::size_t>(snapshot->returnCount++)] = track->id;
    }

    snapshot->sampleRate = format.sampleRate;
    snapshot->sortedTempoMarkers = sortedTempoMarkers(project.tempoMarkers);
    indexMidiClips(*snapshot);
    placeClips(*snapshot);
    snapshot->instruments.reserve(snapshot->tracks.size());
    for (const auto &track : snapshot->tracks) {
        snapshot->instruments.push_back(instrumentPlanOf(*track, project.rootPath));
        snapshot->anyInstrument = snapshot->anyInstrument || snapshot->instruments.back().plays();
    }
    snapshot->trackMeters = std::make_unique<TrackMeter[]>(snapshot->tracks.size());
    // Meters carry over, so a track that stops sounding keeps showing its last peaks.
    std::unordered_map<uint64_t, const TrackMeter *> previousMeters;
    if (previous)
        for (std::size_t i = 0; i < previous->tracks.size(); ++i)
            previousMeters[previous->tracks[i]->id] = &previous->trackMeters[i];
    for (std::size_t i = 0; i < snapshot->tracks.size(); ++i) {
        const auto &track = snapshot->tracks[i];
        if (const auto found = previousMeters.find(track->id); found != previousMeters.end()) {
            snapshot->trackMeters[i].peakL.store(
                found->second->peakL.load(std::memory_order_relaxed), std::memory_order_relaxed);
            snapshot->trackMeters[i].peakR.store(
                found->second->peakR.load(std::memory_order_relaxed), std::memory_order_relaxed);
        }
        snapshot->trackMeters[i].trackId.store(track->id, std::memory_order_relaxed);
    }
    // While released the sets are empty and every entry is null: nothing renders.
    snapshot->live = statesFor(live, *snapshot);
    if (exporting) snapshot->exportStates = statesFor(*exporting, *snapshot);
    snapshot->scratch = scratch;
    snapshot->liveWorkers = liveWorkers;
    snapshot->flashback = flashback;
    return snapshot;
}

} // namespace orvane
