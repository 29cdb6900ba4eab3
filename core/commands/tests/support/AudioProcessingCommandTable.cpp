#include "core/commands/tests/support/AudioProcessingCommandTable.h"

#include "core/commands/AudioProcessingCommands.h"
#include "core/music/AudioAnalysis.h"
#include "core/music/tests/AudioSignals.h"
#include "tests/support/RandomStoredProject.h"

#include <limits>
#include <string>

namespace orvane::testing {

namespace {

template <typename T> T pickOne(Random &random, const std::vector<T> &items) {
    return items[static_cast<std::size_t>(
        between(random, 0, static_cast<int64_t>(items.size()) - 1))];
}

std::string number(double value) { return std::to_string(value); }

std::string describe(const std::string &name, const std::vector<std::string> &arguments) {
    std::string text = name + "(";
    for (std::size_t i = 0; i < arguments.size(); ++i)
        text += (i == 0 ? "" : ", ") + arguments[i];
    return text + ")";
}

/// Ids that no counter hands out later: under fresh ids a replay would otherwise find an
/// object that the first run of the same command missed.
uint64_t missingId(Random &random) {
    constexpr uint64_t largest = std::numeric_limits<uint64_t>::max();
    return pickOne<uint64_t>(random, {0, largest - 7, largest});
}

/// Mostly an audio clip that plays samples, as the commands want; sometimes any clip or none.
/// A clip whose source offset lies past its samples analyses as silence.
uint64_t someClipId(const Project &project, Random &random) {
    std::vector<uint64_t> withAudio;
    std::vector<uint64_t> any;
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips) {
            any.push_back(clip->id);
            if (clip->kind == ClipKind::Audio && clip->audio && !clip->audio->empty() &&
                clipAnalysisWindow(*clip).frames > 0)
                withAudio.push_back(clip->id);
        }
    if (!withAudio.empty() && chance(random, 75)) return pickOne(random, withAudio);
    if (!any.empty() && chance(random, 80)) return pickOne(random, any);
    return missingId(random);
}

uint64_t someTrackId(const Project &project, Random &random) {
    if (project.tracks.empty() || chance(random, 15)) return missingId(random);
    return pickOne(random, project.tracks)->id;
}

/// A rendered or captured stereo buffer: clicks, a few frames, or nothing at all.
SharedSamples someRenderedBuffer(Random &random) {
    switch (between(random, 0, 5)) {
    case 0: return nullptr;
    case 1: return std::make_shared<const std::vector<float>>();
    case 2: return std::make_shared<const std::vector<float>>(std::vector<float>{0.1f, -0.1f});
    default:
        return std::make_shared<const std::vector<float>>(
            clickTrack(600.0, static_cast<double>(between(random, 1, 4)) / 10.0, 48000.0, 2));
    }
}

template <typename CommandType> CommandTableRow clipOnlyRow(const char *name) {
    return {name, [name](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                return CommandRecipe{describe(name, {std::to_string(clip)}),
                                     [clip] { return std::make_unique<CommandType>(clip); }};
            }};
}

/// A clip and one float drawn from `values`.
template <typename CommandType>
CommandTableRow clipAndFloatRow(const char *name, std::vector<float> values) {
    return {name, [name, values](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const float value = pickOne(random, values);
                return CommandRecipe{describe(name, {std::to_string(clip), number(value)}),
                                     [=] { return std::make_unique<CommandType>(clip, value); }};
            }};
}

CommandTableRow pitchCorrectRow() {
    return {
        "PitchCorrectAudioClipCommand", [](const Project &project, Random &random) {
            const uint64_t clip = someClipId(project, random);
            // Low rates keep the fundamental search short; the harness checks history,
            // not pitch.
            const double rate = pickOne<double>(random, {0.0, 8000.0, 11025.0, 16000.0});
            const auto root = static_cast<int32_t>(between(random, -2, 13));
            const bool minor = chance(random, 50);
            return CommandRecipe{
                describe("PitchCorrectAudioClip", {std::to_string(clip), number(rate),
                                                   std::to_string(root), std::to_string(minor)}),
                [=] {
                    return std::make_unique<PitchCorrectAudioClipCommand>(clip, rate, root, minor);
                }};
        }};
}

int64_t someOffset(Random &random) {
    return pickOne<int64_t>(random, {-5, 0, 1, 300, 5000, between(random, 2, 40000),
                                     std::numeric_limits<int64_t>::max()});
}

CommandTableRow alignRow() {
    return {"AlignAudioOnsetCommand", [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const int64_t offset = someOffset(random);
                return CommandRecipe{
                    describe("AlignAudioOnset", {std::to_string(clip), std::to_string(offset)}),
                    [=] { return std::make_unique<AlignAudioOnsetCommand>(clip, offset); }};
            }};
}

CommandTableRow snapRow() {
    return {"SnapAudioOnsetToPlayheadCommand", [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const int64_t playhead = between(random, -100, 200000);
                const int64_t offset = someOffset(random);
                return CommandRecipe{describe("SnapAudioOnsetToPlayhead",
                                              {std::to_string(clip), std::to_string(playhead),
                                               std::to_string(offset)}),
                                     [=] {
                                         return std::make_unique<SnapAudioOnsetToPlayheadCommand>(
                                             clip, playhead, offset);
                                     }};
            }};
}

/// Bounce, freeze and flashback capture: a track, a span and a buffer.
template <typename CommandType> CommandTableRow renderedBufferRow(const char *name) {
    return {name, [name](const Project &project, Random &random) {
                const uint64_t track = someTrackId(project, random);
                const int64_t start = between(random, -10, 150000);
                const int64_t length =
                    chance(random, 15) ? between(random, -3, 0) : between(random, 1, 60000);
                const SharedSamples buffer = someRenderedBuffer(random);
                return CommandRecipe{
                    describe(name,
                             {std::to_string(track), std::to_string(start), std::to_string(length),
                              std::to_string(buffer ? buffer->size() : 0) + " samples"}),
                    [=] { return std::make_unique<CommandType>(track, start, length, buffer); }};
            }};
}

CommandTableRow toggleFrozenRow() {
    return {"ToggleTrackFrozenCommand", [](const Project &project, Random &random) {
                const uint64_t track = someTrackId(project, random);
                return CommandRecipe{describe("ToggleTrackFrozen", {std::to_string(track)}), [=] {
                                         return std::make_unique<ToggleTrackFrozenCommand>(track);
                                     }};
            }};
}

std::shared_ptr<Clip> addAudioClip(Project &project, uint64_t trackId, SharedSamples samples,
                                   int32_t channels, int64_t start) {
    const auto clip = project.addClip(trackId, ClipKind::Audio);
    clip->audio = std::move(samples);
    clip->channels = channels;
    clip->arrangeStart = start;
    clip->length = clip->audioFrameCount();
    return clip;
}

} // namespace

std::vector<CommandTableRow> audioProcessingCommandRows() {
    return {clipAndFloatRow<NormalizeAudioClipCommand>(
                "NormalizeAudioClip",
                {1.0f, 0.5f, 0.0f, -0.25f, std::numeric_limits<float>::quiet_NaN()}),
            clipOnlyRow<ReverseAudioClipCommand>("ReverseAudioClip"),
            clipOnlyRow<InvertAudioPhaseCommand>("InvertAudioPhase"),
            clipAndFloatRow<TrimAudioSilenceCommand>("TrimAudioSilence",
                                                     {0.0f, 0.001f, 0.2f, 0.7f, 2.0f}),
            clipAndFloatRow<PitchShiftAudioClipCommand>(
                "PitchShiftAudioClip", {-12.0f, -3.5f, 0.0f, 0.00001f, 2.0f, 7.0f, 12.0f, 60.0f,
                                        -60.0f, std::numeric_limits<float>::quiet_NaN()}),
            pitchCorrectRow(),
            clipOnlyRow<SplitAudioStemsCommand>("SplitAudioStems"),
            clipOnlyRow<SliceAudioAtTransientsCommand>("SliceAudioAtTransients"),
            alignRow(),
            snapRow(),
            renderedBufferRow<BounceTrackInPlaceCommand>("BounceTrackInPlace"),
            renderedBufferRow<FreezeTrackInPlaceCommand>("FreezeTrackInPlace"),
            toggleFrozenRow(),
            renderedBufferRow<CaptureFlashbackCommand>("CaptureFlashback")};
}

Project randomProjectWithAudio(Random &random) {
    Project project = makeConsistentRandomProject(random);
    const auto track = project.addTrack(TrackType::Audio, "Loops");
    const auto channels = static_cast<int32_t>(between(random, 1, 2));
    // Three to six clicks, 50 to 100 ms apart: enough transients for slices.
    const double bpm = static_cast<double>(between(random, 600, 1200));
    const auto clicks = std::make_shared<const std::vector<float>>(
        clickTrack(bpm, static_cast<double>(between(random, 15, 30)) / 100.0, 48000.0, channels));
    const auto whole = addAudioClip(project, track->id, clicks, channels, 0);
    // The right half of a split: the same buffer from the middle on.
    const auto half = addAudioClip(project, track->id, clicks, channels, 100000);
    half->sourceOffset = whole->length / 2;
    half->length = whole->length - half->sourceOffset;
    const auto tone = std::make_shared<const std::vector<float>>(
        sine(static_cast<double>(between(random, 150, 500)), between(random, 300, 6000), 16000.0,
             channels));
    const auto longer = addAudioClip(project, track->id, tone, channels, 50000);
    longer->length += between(random, 0, 20000);
    const auto pastTheEnd = addAudioClip(project, track->id, tone, channels, 150000);
    pastTheEnd->sourceOffset = pastTheEnd->length + between(random, 0, 100);
    // A second pitch, so that the pitch rows draw a tone as often as the slicing rows draw
    // clicks: the random tracks' clips play no samples.
    const auto otherTone = std::make_shared<const std::vector<float>>(
        sine(static_cast<double>(between(random, 150, 500)), between(random, 300, 6000), 16000.0,
             channels));
    addAudioClip(project, track->id, otherTone, channels, 250000);
    return project;
}

} // namespace orvane::testing
