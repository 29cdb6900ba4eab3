// Random session performances played by the engine and by a model of the clip launcher
// written here from the rules alone, frame by frame, compared on every output frame.
//
// The rules the model follows:
// - Requests take effect at the top of the block whose output span holds their sample.
// - A launch is quantised from the playhead (the block start): immediately, or to the next
//   beat, bar or eight bars strictly after the start of the unit holding the playhead. A clip
//   uses its own quantisation unless that is 0, then the grid's; a scene always the grid's.
// - A queued entry starts on the first frame at or after its launch point (the first frame of
//   a block when the point lies on the block start or has passed).
// - A clip loops over `loopLength` when `loop` is set, `loopLength` > 0 and it is not
//   play-once; otherwise it plays its `length` (one bar when it has none) and ends in the
//   block in which its last sample plays.
// - Relaunching a toggle clip that runs stops it; relaunching a legato clip that plays leaves
//   it playing. Otherwise the launch takes the clip's waiting entry, else (launched at once)
//   its playing one, else the first free one, else a new one, and starts over from 0 there.
// - A quantised launch leaves what plays sounding until the launch point: a relaunched clip's
//   playing entry, and for a scene every playing entry (the waiting ones are dropped, the
//   playing ones keep their order and the scene's clips follow). On its launch point such an
//   entry goes silent and leaves the table, without an end of its own. A scene launched at
//   once replaces the table.
// - At the end of a block, clips that ended run their follow actions in table order, and
//   anything launched then is quantised from the start of the block (the playhead); a scene
//   whose launch point lies inside that block starts on the next block's first frame as if it
//   had started on its launch point (its clips that far in). A scene launched there ends the
//   pass. A clip that follows on in its column takes over the entry's pending cut. Then
//   each row a clip ended on that no entry plays or waits on any more runs its scene's
//   follow action, unless a scene was launched.
// - Stop empties the table and rewinds; pause keeps everything and stops time; a muted
//   track's clips keep time but are not heard.

#include "core/engine/tests/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <random>

namespace orvane::testing {
namespace {

using Random = std::mt19937_64;

int64_t between(Random &random, int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(random);
}
bool chance(Random &random, int percent) { return between(random, 1, 100) <= percent; }
float level(Random &random, int lo, int hi) {
    return static_cast<float>(between(random, lo, hi)) / 100.0f;
}

constexpr double rate = 8000.0;
constexpr int64_t performanceFrames = 72000;

enum class ActionKind { LaunchClip, LaunchScene, Release, Stop, Pause };

struct Action {
    int64_t sample = 0;
    ActionKind kind = ActionKind::LaunchClip;
    uint64_t id = 0;
};

struct Scenario {
    Project project;
    std::vector<Action> actions;
    int64_t beat = 0;
    int64_t bar = 0;
    /// The track whose gain changes in the middle of a rerun; no clip lives on it.
    uint64_t bystanderTrack = 0;
};

// --- Building random performances -------------------------------------------------------

void fillAudio(Random &random, Clip &clip) {
    clip.channels = chance(random, 30) ? 1 : 2;
    const auto frames = between(random, 200, 5000);
    auto samples = std::make_shared<std::vector<float>>();
    for (int64_t i = 0; i < frames * clip.channels; ++i)
        samples->push_back(level(random, -100, 100));
    clip.audio = samples;
    clip.length = chance(random, 15) ? 0 : between(random, 100, 6000);
    clip.fadeIn = chance(random, 40) ? between(random, 1, 300) : 0;
    clip.fadeOut = chance(random, 40) ? between(random, 1, 300) : 0;
}

void fillNotes(Random &random, Clip &clip) {
    clip.length = chance(random, 15) ? 0 : between(random, 300, 6000);
    const int64_t room = std::max<int64_t>(clip.length, 2000);
    for (auto count = between(random, 1, 4); count > 0; --count)
        clip.notes.push_back(MidiNote{static_cast<int32_t>(between(random, 45, 84)),
                                      level(random, 30, 100), between(random, 0, room),
                                      between(random, 40, 2500)});
}

void fillSessionClip(Random &random, Clip &clip) {
    clip.gain = level(random, 30, 120);
    if (chance(random, 25)) {
        const int64_t length = std::max<int64_t>(clip.length, 1000);
        clip.gainEnvelope = {{0, level(random, 0, 100)},
                             {between(random, 1, length), level(random, 0, 100)}};
        if (chance(random, 50)) clip.gainEnvelope.push_back({length + 500, level(random, 0, 100)});
    }
    clip.loop = chance(random, 50);
    clip.loopLength = chance(random, 20) ? 0 : between(random, 150, 6000);
    clip.launchMode = static_cast<SessionLaunchMode>(between(random, 0, 3));
    clip.legatoLaunch = chance(random, 30);
    clip.followAction = static_cast<FollowAction>(between(random, 0, 4));
    clip.launchQuantize = static_cast<LaunchQuantize>(between(random, 0, 3));
}

std::vector<Action> randomActions(Random &random, const Project &project) {
    std::vector<uint64_t> clips{9999}; // an id no clip has
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            clips.push_back(clip->id);
    std::vector<Action> actions;
    for (auto count = between(random, 4, 24); count > 0; --count) {
        Action action;
        action.sample = between(random, 0, performanceFrames - 1);
        const int64_t kind = between(random, 0, 99);
        action.kind = kind < 40   ? ActionKind::LaunchClip
                      : kind < 70 ? ActionKind::LaunchScene
                      : kind < 84 ? ActionKind::Release
                      : kind < 92 ? ActionKind::Stop
                                  : ActionKind::Pause;
        const auto &scenes = project.session.scenes;
        if (action.kind == ActionKind::LaunchScene)
            action.id = chance(random, 95)
                            ? scenes[static_cast<std::size_t>(between(
                                         random, 0, static_cast<int64_t>(scenes.size()) - 1))]
                                  .id
                            : 777;
        else
            action.id = clips[static_cast<std::size_t>(
                between(random, 0, static_cast<int64_t>(clips.size()) - 1))];
        actions.push_back(action);
    }
    // Most performances open with a scene.
    if (chance(random, 70))
        actions.push_back({0, ActionKind::LaunchScene, project.session.scenes[0].id});
    std::stable_sort(actions.begin(), actions.end(),
                     [](const Action &a, const Action &b) { return a.sample < b.sample; });
    return actions;
}

Scenario randomScenario(uint64_t seed) {
    Random random(seed);
    Scenario scenario;
    Project &project = scenario.project;
    project.sampleRate = rate;
    static constexpr double tempos[] = {240.0, 300.0, 480.0};
    project.tempoBpm = tempos[between(random, 0, 2)];
    project.timeSignature = {static_cast<int32_t>(between(random, 2, 5)), 4};
    scenario.beat = static_cast<int64_t>(rate * 60.0 / project.tempoBpm);
    scenario.bar = scenario.beat * project.timeSignature.numerator;
    project.masterEq.enabled = false;
    project.mastering.enabled = false;
    project.controlRoom.cueGain = 0.0f;
    project.session.launchQuantize = static_cast<LaunchQuantize>(between(random, 0, 3));

    const auto trackCount = between(random, 1, 6);
    const auto sceneCount = between(random, 1, 8);
    project.session.cols = static_cast<int32_t>(trackCount);
    for (int64_t row = 0; row < sceneCount; ++row) {
        Scene scene;
        scene.id = project.nextSceneId++;
        scene.followAction = static_cast<FollowAction>(between(random, 0, 4));
        scene.clips.assign(static_cast<std::size_t>(trackCount), 0);
        project.session.scenes.push_back(scene);
    }
    for (int64_t column = 0; column < trackCount; ++column) {
        const bool instrument = chance(random, 50);
        const auto track = project.addTrack(instrument ? TrackType::Midi : TrackType::Audio, "");
        track->eq.enabled = false;
        track->gain = level(random, 50, 100);
        track->mute = chance(random, 10);
        for (int64_t row = 0; row < sceneCount; ++row) {
            if (!chance(random, 70)) continue;
            const auto clip =
                project.addClip(track->id, instrument ? ClipKind::Midi : ClipKind::Audio);
            instrument ? fillNotes(random, *clip) : fillAudio(random, *clip);
            fillSessionClip(random, *clip);
            clip->sessionRow = static_cast<int32_t>(row);
            clip->sessionCol = static_cast<int32_t>(column);
            if (chance(random, 90))
                project.session.scenes[static_cast<std::size_t>(row)]
                    .clips[static_cast<std::size_t>(column)] = clip->id;
        }
    }
    const auto bystander = project.addTrack(TrackType::Audio, "");
    bystander->eq.enabled = false;
    scenario.bystanderTrack = bystander->id;
    scenario.actions = randomActions(random, project);
    return scenario;
}

// --- The model ----------------------------------------------------------------------------

struct ModelEntry {
    uint64_t clipId = 0;
    int64_t offset = 0;
    bool playing = false;
    bool queued = false;
    int64_t launchAt = 0;
    int64_t replacedAt = -1;
    bool active() const { return playing || queued; }
};

struct ModelClip {
    const Clip *clip = nullptr;
    std::size_t track = 0;
};

class SessionModel {
  public:
    explicit SessionModel(const Scenario &scenario)
        : scenario(scenario), project(scenario.project) {}

    /// One block of `frames` frames into `left` and `right`, after the block's actions.
    void renderBlock(const std::vector<const Action *> &actions, std::vector<float> &left,
                     std::vector<float> &right, int64_t frames) {
        for (const Action *action : actions)
            apply(*action);
        left.assign(static_cast<std::size_t>(frames), 0.0f);
        right.assign(static_cast<std::size_t>(frames), 0.0f);
        if (!playing) return;
        if (sessionMode && !table.empty()) renderSession(left, right, frames);
        playhead += frames;
    }

  private:
    void apply(const Action &action) {
        switch (action.kind) {
        case ActionKind::LaunchClip: launchClip(action.id); break;
        case ActionKind::LaunchScene:
            sessionMode = true;
            launchScene(action.id, playhead);
            break;
        case ActionKind::Release:
            for (auto &entry : table)
                if (entry.clipId == action.id) entry.playing = entry.queued = false;
            break;
        case ActionKind::Stop: // and play again from the start
            table.clear();
            sessionMode = false;
            playhead = 0;
            playing = true;
            break;
        case ActionKind::Pause: playing = false; break;
        }
    }

  public:
    void play() { playing = true; }

  private:
    ModelClip find(uint64_t id) const {
        for (std::size_t t = 0; t < project.tracks.size(); ++t)
            for (const auto &clip : project.tracks[t]->clips)
                if (clip->id == id) return {clip.get(), t};
        return {};
    }

    int64_t launchPoint(int64_t now, LaunchQuantize quantize) const {
        int64_t unit = 0;
        if (quantize == LaunchQuantize::OneBeat) unit = scenario.beat;
        if (quantize == LaunchQuantize::OneBar) unit = scenario.bar;
        if (quantize == LaunchQuantize::EightBars) unit = 8 * scenario.bar;
        if (unit == 0) return now;
        return (now / unit + 1) * unit;
    }

    void launchClip(uint64_t id) {
        sessionMode = true;
        const ModelClip found = find(id);
        auto running = std::find_if(table.begin(), table.end(), [id](const ModelEntry &e) {
            return e.clipId == id && e.active();
        });
        if (found.clip && found.clip->launchMode == SessionLaunchMode::Toggle &&
            running != table.end()) {
            running->playing = running->queued = false;
            return;
        }
        if (found.clip && found.clip->legatoLaunch &&
            std::any_of(table.begin(), table.end(),
                        [id](const ModelEntry &e) { return e.clipId == id && e.playing; }))
            return;
        LaunchQuantize quantize = project.session.launchQuantize;
        if (found.clip && found.clip->launchQuantize != LaunchQuantize::Immediate)
            quantize = found.clip->launchQuantize;
        const int64_t at = launchPoint(playhead, quantize);
        const ModelEntry entry{id, 0, at <= playhead, at > playhead, at > playhead ? at : 0};
        ModelEntry *slot = nullptr;
        for (auto &candidate : table)
            if (!slot && candidate.clipId == id && candidate.queued) slot = &candidate;
        for (auto &candidate : table) {
            if (candidate.clipId != id || !candidate.playing) continue;
            if (at > playhead)
                candidate.replacedAt = at;
            else if (!slot)
                slot = &candidate;
            break;
        }
        for (auto &candidate : table)
            if (!slot && !candidate.active()) slot = &candidate;
        if (slot)
            *slot = entry;
        else if (table.size() < 64)
            table.push_back(entry);
    }

    bool launchScene(uint64_t id, int64_t now, int64_t renderedUntil = -1) {
        const auto &scenes = project.session.scenes;
        for (std::size_t row = 0; row < scenes.size(); ++row) {
            if (scenes[row].id != id) continue;
            currentRow = static_cast<int32_t>(row);
            const int64_t at = launchPoint(now, project.session.launchQuantize);
            std::vector<ModelEntry> kept;
            for (ModelEntry entry : table) {
                if (at <= now || !entry.playing) continue;
                entry.replacedAt = entry.replacedAt >= 0 ? std::min(entry.replacedAt, at) : at;
                kept.push_back(entry);
            }
            table = kept;
            const int64_t passed = at > now && at < renderedUntil ? renderedUntil - at : 0;
            for (const uint64_t clip : scenes[row].clips) {
                if (clip == 0 || table.size() >= 64) continue;
                if (passed > 0)
                    table.push_back({clip, passed, true, false, 0});
                else
                    table.push_back({clip, 0, at <= now, at > now, at > now ? at : 0});
            }
            return true;
        }
        return false;
    }

    int64_t period(const Clip &clip) const {
        if (loops(clip)) return clip.loopLength;
        return clip.length >= 1 ? clip.length : scenario.beat * 4;
    }
    static bool loops(const Clip &clip) {
        return clip.loop && clip.loopLength > 0 && clip.launchMode != SessionLaunchMode::PlayOnce;
    }

    static double envelopeAt(const std::vector<AutomationPoint> &points, int64_t t) {
        if (t <= points.front().t) return points.front().v;
        for (std::size_t i = 1; i < points.size(); ++i)
            if (t <= points[i].t) {
                const double span =
                    static_cast<double>(std::max<int64_t>(points[i].t - points[i - 1].t, 1));
                return points[i - 1].v +
                       (points[i].v - points[i - 1].v) * (t - points[i - 1].t) / span;
            }
        return points.back().v;
    }

    /// The clip at clip time `t`, before the track's fader.
    std::pair<double, double> clipFrame(const Clip &clip, int64_t t) const {
        const double gain =
            clip.gainEnvelope.size() >= 2 ? envelopeAt(clip.gainEnvelope, t) : clip.gain;
        if (clip.kind == ClipKind::Midi) {
            double sum = 0.0;
            for (const MidiNote &note : clip.notes) {
                if (t < note.start || t >= note.start + note.length) continue;
                const double frequency = 440.0 * std::pow(2.0, (note.pitch - 69) / 12.0);
                const double phase = static_cast<double>(t - note.start) * frequency / rate;
                sum += note.velocity * 0.2 *
                       std::sin(2.0 * std::numbers::pi * (phase - std::floor(phase)));
            }
            return {gain * sum, gain * sum};
        }
        const auto &samples = *clip.audio;
        const int64_t frames = static_cast<int64_t>(samples.size()) / clip.channels;
        const int64_t span = clip.length >= 1 ? clip.length : frames;
        if (t >= span) return {0.0, 0.0};
        double fade = 1.0;
        if (clip.fadeIn >= 1 && t < clip.fadeIn) fade = static_cast<double>(t) / clip.fadeIn;
        if (clip.fadeOut >= 1 && t > span - clip.fadeOut)
            fade *= static_cast<double>(span - t) / clip.fadeOut;
        const auto frame = static_cast<std::size_t>(std::min(t, frames - 1) * clip.channels);
        const double l = samples[frame];
        const double r = clip.channels == 2 ? samples[frame + 1] : l;
        return {gain * fade * l, gain * fade * r};
    }

    void renderSession(std::vector<float> &left, std::vector<float> &right, int64_t frames) {
        std::vector<bool> ended(table.size(), false);
        std::vector<const Clip *> endedClip(table.size(), nullptr);
        for (std::size_t i = 0; i < table.size(); ++i) {
            ModelEntry &entry = table[i];
            const ModelClip found = find(entry.clipId);
            if (!entry.active() || !found.clip) continue;
            const Clip &clip = *found.clip;
            const Track &track = *project.tracks[found.track];
            const double fader = track.gain * 1.125;
            for (int64_t f = 0; f < frames; ++f) {
                if (entry.replacedAt >= 0 && playhead + f >= entry.replacedAt) break;
                if (entry.queued) {
                    if (playhead + f < entry.launchAt) continue;
                    entry.queued = false;
                    entry.playing = true;
                }
                if (!loops(clip) && entry.offset >= period(clip)) {
                    entry.playing = false;
                    ended[i] = true;
                    endedClip[i] = &clip;
                    break;
                }
                const int64_t t = loops(clip) ? entry.offset % period(clip) : entry.offset;
                if (!track.mute) {
                    const auto [l, r] = clipFrame(clip, t);
                    left[static_cast<std::size_t>(f)] += static_cast<float>(l * fader);
                    right[static_cast<std::size_t>(f)] += static_cast<float>(r * fader);
                }
                entry.offset = loops(clip) ? (t + 1) % period(clip) : entry.offset + 1;
                if (!loops(clip) && entry.offset >= period(clip)) {
                    entry.playing = false;
                    ended[i] = true;
                    endedClip[i] = &clip;
                    break;
                }
            }
        }
        for (std::size_t i = 0; i < table.size(); ++i)
            if (table[i].replacedAt >= 0 && table[i].replacedAt < playhead + frames) {
                table[i] = ModelEntry{};
                ended[i] = false;
            }
        followOn(ended, endedClip, playhead, playhead + frames);
    }

    const Clip *clipBelow(const Clip &clip) const {
        for (const auto &track : project.tracks)
            for (const auto &candidate : track->clips)
                if (candidate->sessionRow == clip.sessionRow + 1 &&
                    candidate->sessionCol == clip.sessionCol)
                    return candidate.get();
        return nullptr;
    }

    bool rowIdle(int32_t row) const {
        return std::none_of(table.begin(), table.end(), [&](const ModelEntry &entry) {
            const ModelClip found = find(entry.clipId);
            return entry.active() && found.clip && found.clip->sessionRow == row;
        });
    }

    void followOn(const std::vector<bool> &ended, const std::vector<const Clip *> &endedClip,
                  int64_t now, int64_t renderedUntil) {
        const auto &scenes = project.session.scenes;
        const auto sceneCount = static_cast<int32_t>(scenes.size());
        bool sceneLaunched = false;
        std::vector<int32_t> rows;
        for (std::size_t i = 0; i < ended.size() && !sceneLaunched; ++i) {
            if (!ended[i]) continue;
            const Clip &clip = *endedClip[i];
            const int32_t row = clip.sessionRow;
            switch (clip.followAction) {
            case FollowAction::Again:
                table[i].offset = 0;
                table[i].playing = true;
                break;
            case FollowAction::NextScene:
                if (row >= 0 && row + 1 < sceneCount)
                    sceneLaunched = launchScene(scenes[row + 1].id, now, renderedUntil);
                break;
            case FollowAction::PreviousScene:
                if (row >= 1) sceneLaunched = launchScene(scenes[row - 1].id, now, renderedUntil);
                break;
            case FollowAction::NextClipInColumn:
                if (const Clip *next = row >= 0 && clip.sessionCol >= 0 ? clipBelow(clip) : nullptr)
                    table[i] = {next->id, 0, true, false, 0, table[i].replacedAt};
                break;
            default: break;
            }
            if (!sceneLaunched && row >= 0 &&
                std::find(rows.begin(), rows.end(), row) == rows.end())
                rows.push_back(row);
        }
        for (const int32_t row : rows) {
            if (!rowIdle(row) || row >= sceneCount || sceneLaunched) continue;
            const Scene &scene = scenes[static_cast<std::size_t>(row)];
            if (scene.followAction == FollowAction::Again)
                sceneLaunched = launchScene(scene.id, now, renderedUntil);
            if (scene.followAction == FollowAction::NextScene && row + 1 < sceneCount)
                sceneLaunched =
                    launchScene(scenes[static_cast<std::size_t>(row + 1)].id, now, renderedUntil);
            if (scene.followAction == FollowAction::PreviousScene && row > 0)
                sceneLaunched =
                    launchScene(scenes[static_cast<std::size_t>(row - 1)].id, now, renderedUntil);
        }
    }

    const Scenario &scenario;
    const Project &project;
    std::vector<ModelEntry> table;
    bool sessionMode = false;
    bool playing = true;
    int64_t playhead = 0;
    int32_t currentRow = -1;
};

// --- Playing a scenario ------------------------------------------------------------------

struct Performance {
    std::vector<float> left, right;
};

std::vector<std::vector<const Action *>> actionsPerBlock(const Scenario &scenario, int32_t block) {
    std::vector<std::vector<const Action *>> blocks(
        static_cast<std::size_t>((performanceFrames + block - 1) / block));
    for (const Action &action : scenario.actions)
        blocks[static_cast<std::size_t>(action.sample / block)].push_back(&action);
    return blocks;
}

Request requestFor(const Action &action) {
    switch (action.kind) {
    case ActionKind::LaunchClip: return Request::launchClip(action.id);
    case ActionKind::LaunchScene: return Request::launchScene(action.id);
    case ActionKind::Release: return Request::releaseClip(action.id);
    case ActionKind::Stop: return Request::stop();
    case ActionKind::Pause: break;
    }
    return Request::pause();
}

bool pausesIn(const std::vector<const Action *> &actions) {
    return std::any_of(actions.begin(), actions.end(),
                       [](const Action *a) { return a->kind == ActionKind::Pause; });
}

/// Stop rewinds and play goes on from there; a pause holds one block.
Project deepCopy(const Project &project) {
    Project copy = project;
    for (auto &track : copy.tracks) {
        track = std::make_shared<Track>(*track);
        for (auto &clip : track->clips)
            clip = std::make_shared<Clip>(*clip);
    }
    return copy;
}

Performance playOnEngine(const Scenario &scenario, int32_t block, int64_t publishAtBlock) {
    Engine engine;
    engine.replaceProject(deepCopy(scenario.project));
    engine.prepareToPlay(rate, block);
    send(engine, RequestType::play);
    Performance out;
    StereoOutput output(block);
    const auto blocks = actionsPerBlock(scenario, block);
    bool resume = false;
    for (std::size_t index = 0; index < blocks.size(); ++index) {
        if (static_cast<int64_t>(index) == publishAtBlock) {
            std::lock_guard lock(engine.projectMutex);
            engine.project.findTrack(scenario.bystanderTrack)->gain = 0.25f;
            engine.publishGraph();
        }
        if (resume) send(engine, RequestType::play);
        for (const Action *action : blocks[index]) {
            send(engine, requestFor(*action));
            if (action->kind == ActionKind::Stop) send(engine, RequestType::play);
        }
        resume = pausesIn(blocks[index]);
        output.render(engine);
        out.left.insert(out.left.end(), output.left.begin(), output.left.end());
        out.right.insert(out.right.end(), output.right.begin(), output.right.end());
        Notification drained;
        while (engine.popNotification(drained)) {
        }
    }
    return out;
}

Performance playOnModel(const Scenario &scenario, int32_t block) {
    SessionModel model(scenario);
    Performance out;
    std::vector<float> left, right;
    bool resume = false;
    for (const auto &actions : actionsPerBlock(scenario, block)) {
        if (resume) model.play();
        model.renderBlock(actions, left, right, block);
        resume = pausesIn(actions);
        out.left.insert(out.left.end(), left.begin(), left.end());
        out.right.insert(out.right.end(), right.begin(), right.end());
    }
    return out;
}

/// The first frame where the two differ by more than float rounding, or -1.
int64_t firstDifference(const Performance &engine, const Performance &model) {
    for (std::size_t i = 0; i < model.left.size(); ++i)
        if (std::abs(engine.left[i] - model.left[i]) > 2e-4f ||
            std::abs(engine.right[i] - model.right[i]) > 2e-4f)
            return static_cast<int64_t>(i);
    return -1;
}

std::string describeScenario(const Scenario &scenario) {
    std::string text = "beat " + std::to_string(scenario.beat) + ", bar " +
                       std::to_string(scenario.bar) + ", grid quantise " +
                       std::to_string(int(scenario.project.session.launchQuantize)) + "\n";
    for (const Action &action : scenario.actions)
        text += "  " + std::to_string(action.sample) + ": " + std::to_string(int(action.kind)) +
                " " + std::to_string(action.id) + "\n";
    return text;
}

TEST(SessionScenario, RandomPerformancesMatchTheModelOnEveryFrame) {
    int64_t soundingFrames = 0;
    for (uint64_t seed = 1; seed <= 24; ++seed) {
        const Scenario scenario = randomScenario(seed);
        for (const int32_t block : {64, 256, 480, 512}) {
            const Performance expected = playOnModel(scenario, block);
            const Performance played = playOnEngine(scenario, block, -1);
            ASSERT_EQ(played.left.size(), expected.left.size());
            const int64_t difference = firstDifference(played, expected);
            ASSERT_EQ(difference, -1)
                << "seed " << seed << ", blocks of " << block << ": engine "
                << played.left[static_cast<std::size_t>(std::max<int64_t>(difference, 0))]
                << ", model "
                << expected.left[static_cast<std::size_t>(std::max<int64_t>(difference, 0))] << '\n'
                << describeScenario(scenario);
            // An edit of a track that plays nothing, published halfway, changes nothing heard.
            const Performance republished =
                playOnEngine(scenario, block, performanceFrames / block / 2);
            EXPECT_EQ(republished.left, played.left) << "seed " << seed << ", blocks of " << block;
            EXPECT_EQ(republished.right, played.right)
                << "seed " << seed << ", blocks of " << block;
            soundingFrames += std::count_if(played.left.begin(), played.left.end(),
                                            [](float v) { return v != 0.0f; });
        }
    }
    // The performances must really play, or matching silence proves nothing.
    EXPECT_GT(soundingFrames, 24 * 4 * performanceFrames / 4);
}

/// One column whose first clip ends while a quantised launch of an empty scene waits to cut
/// it: whatever the clip's follow action starts must not outlive the launch point, unless it
/// is itself a later launch.
Scenario pendingCutScenario(FollowAction follow) {
    Scenario scenario;
    Project &project = scenario.project;
    project.sampleRate = rate;
    project.tempoBpm = 240.0;
    project.timeSignature = {4, 4};
    scenario.beat = 2000;
    scenario.bar = 8000;
    project.masterEq.enabled = false;
    project.mastering.enabled = false;
    project.controlRoom.cueGain = 0.0f;
    project.session.launchQuantize = LaunchQuantize::OneBar;
    project.session.cols = 1;
    const auto track = project.addTrack(TrackType::Audio, "");
    track->eq.enabled = false;
    for (int32_t row = 0; row < 3; ++row) {
        Scene scene;
        scene.id = project.nextSceneId++;
        scene.clips.assign(1, 0);
        project.session.scenes.push_back(scene);
    }
    const int64_t lengths[] = {3000, 20000};
    for (int32_t row = 0; row < 2; ++row) {
        const auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->channels = 1;
        clip->audio = std::make_shared<std::vector<float>>(30000, 0.25f * float(row + 1));
        clip->length = lengths[row];
        clip->followAction = row == 0 ? follow : FollowAction::None;
        clip->sessionRow = row;
        clip->sessionCol = 0;
        project.session.scenes[static_cast<std::size_t>(row)].clips[0] = clip->id;
    }
    const auto bystander = project.addTrack(TrackType::Audio, "");
    bystander->eq.enabled = false;
    scenario.bystanderTrack = bystander->id;
    // The first scene starts on the bar at 8000 and its clip ends at 11000; the empty third
    // scene, launched at 9000, cuts the column at 16000.
    scenario.actions = {{0, ActionKind::LaunchScene, project.session.scenes[0].id},
                        {9000, ActionKind::LaunchScene, project.session.scenes[2].id}};
    return scenario;
}

TEST(SessionScenario, AClipThatEndsOnAPendingCutHandsTheCutToWhatFollowsIt) {
    for (const FollowAction follow :
         {FollowAction::None, FollowAction::Again, FollowAction::NextScene,
          FollowAction::PreviousScene, FollowAction::NextClipInColumn}) {
        const Scenario scenario = pendingCutScenario(follow);
        for (const int32_t block : {64, 500}) {
            SCOPED_TRACE("follow action " + std::to_string(int(follow)) + ", blocks of " +
                         std::to_string(block));
            const Performance played = playOnEngine(scenario, block, -1);
            const Performance expected = playOnModel(scenario, block);
            EXPECT_EQ(firstDifference(played, expected), -1);
            const auto soundsIn = [&](int64_t from, int64_t to) {
                return std::any_of(played.left.begin() + from, played.left.begin() + to,
                                   [](float v) { return v != 0.0f; });
            };
            // Something follows on until the cut for these two, so the cut is really tested.
            const bool followsOn =
                follow == FollowAction::Again || follow == FollowAction::NextClipInColumn;
            EXPECT_EQ(soundsIn(11000, 16000), followsOn);
            // A next scene launched when the clip ends is the later launch and wins.
            EXPECT_EQ(soundsIn(16000, 30000), follow == FollowAction::NextScene);
        }
    }
}

} // namespace
} // namespace orvane::testing
