#include "core/commands/tests/support/SessionCommandTable.h"

#include "core/commands/SessionCommands.h"

#include <cmath>
#include <limits>
#include <sstream>

namespace orvane::testing {

namespace {

int64_t drawIndex(Random &random, std::size_t size) {
    return between(random, 0, static_cast<int64_t>(size) - 1);
}

/// Mostly an existing scene; sometimes none, or an id never handed out.
uint64_t someSceneId(const Project &project, Random &random) {
    const auto &scenes = project.session.scenes;
    if (scenes.empty() || chance(random, 12))
        return chance(random, 50) ? 0 : project.nextSceneId + 5;
    return scenes[static_cast<std::size_t>(drawIndex(random, scenes.size()))].id;
}

/// Mostly a session clip, sometimes an arrangement clip or a missing id.
uint64_t someClipId(const Project &project, Random &random) {
    std::vector<uint64_t> session;
    std::vector<uint64_t> others;
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            (clip->isSessionClip() ? session : others).push_back(clip->id);
    if (!session.empty() && chance(random, 80))
        return session[static_cast<std::size_t>(drawIndex(random, session.size()))];
    if (!others.empty() && chance(random, 60))
        return others[static_cast<std::size_t>(drawIndex(random, others.size()))];
    return chance(random, 50) ? 0 : project.nextClipId + 7;
}

uint64_t someTrackId(const Project &project, Random &random) {
    if (project.tracks.empty() || chance(random, 10)) return project.nextTrackId + 3;
    return project.tracks[static_cast<std::size_t>(drawIndex(random, project.tracks.size()))]->id;
}

/// Rows and columns in the grid, just outside it, and far outside it.
int32_t someCell(Random &random, int32_t size) {
    if (chance(random, 10)) return chance(random, 50) ? -1 : std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(between(random, 0, std::max(size, 1)));
}

FollowAction someFollowAction(Random &random) {
    return static_cast<FollowAction>(between(random, 0, 5));
}

template <typename... Arguments> std::string call(const char *name, Arguments... arguments) {
    std::ostringstream text;
    text << name << '(';
    const char *separator = "";
    ((text << separator << arguments, separator = ", "), ...);
    text << ')';
    return text.str();
}

template <typename CommandType> CommandTableRow sceneRow(const char *name) {
    return {name, [name](const Project &project, Random &random) {
                const uint64_t scene = someSceneId(project, random);
                return CommandRecipe{call(name, scene),
                                     [scene] { return std::make_unique<CommandType>(scene); }};
            }};
}

CommandTableRow moveSceneRow() {
    return {"MoveSceneCommand", [](const Project &project, Random &random) {
                const uint64_t scene = someSceneId(project, random);
                // Mostly one step, which a neighbour usually takes; otherwise often nowhere.
                const auto offset = static_cast<int32_t>(
                    chance(random, 50) ? (chance(random, 50) ? -1 : 1) : between(random, -3, 3));
                return CommandRecipe{call("MoveScene", scene, offset), [=] {
                                         return std::make_unique<MoveSceneCommand>(scene, offset);
                                     }};
            }};
}

CommandTableRow renameSceneRow() {
    return {"RenameSceneCommand", [](const Project &project, Random &random) {
                const uint64_t scene = someSceneId(project, random);
                static const char *names[] = {"", "Куплет", "Chorus \"B\""};
                const std::string name = names[between(random, 0, 2)];
                return CommandRecipe{call("RenameScene", scene, name), [=] {
                                         return std::make_unique<RenameSceneCommand>(scene, name);
                                     }};
            }};
}

CommandTableRow sceneFollowRow() {
    return {"SetSceneFollowActionCommand", [](const Project &project, Random &random) {
                const uint64_t scene = someSceneId(project, random);
                const FollowAction action = someFollowAction(random);
                return CommandRecipe{
                    call("SetSceneFollowAction", scene, int(action)),
                    [=] { return std::make_unique<SetSceneFollowActionCommand>(scene, action); }};
            }};
}

CommandTableRow sceneTempoMeterRow() {
    return {"SetSceneTempoMeterCommand", [](const Project &project, Random &random) {
                const uint64_t scene = someSceneId(project, random);
                static const double tempos[] = {90.0, 133.5, 500.0, -4.0,
                                                std::numeric_limits<double>::quiet_NaN()};
                const double bpm = tempos[between(random, 0, 4)];
                const bool useTempo = chance(random, 60);
                const bool useMeter = chance(random, 60);
                const TimeSignature meter{static_cast<int32_t>(between(random, 0, 7)),
                                          chance(random, 80) ? 4 : 0};
                return CommandRecipe{call("SetSceneTempoMeter", scene, useTempo, bpm, useMeter,
                                          meter.numerator, meter.denominator),
                                     [=] {
                                         return std::make_unique<SetSceneTempoMeterCommand>(
                                             scene, useTempo, bpm, useMeter, meter);
                                     }};
            }};
}

CommandTableRow sceneLaunchQuantizeRow() {
    return {"SetSceneLaunchQuantizeCommand", [](const Project &project, Random &random) {
                const uint64_t scene = someSceneId(project, random);
                // -1 is the session's, 4 a value no quantisation has.
                const auto drawn = static_cast<int>(between(random, -1, 4));
                return CommandRecipe{call("SetSceneLaunchQuantize", scene, drawn), [=] {
                                         std::optional<LaunchQuantize> quantize;
                                         if (drawn >= 0)
                                             quantize = static_cast<LaunchQuantize>(drawn);
                                         return std::make_unique<SetSceneLaunchQuantizeCommand>(
                                             scene, quantize);
                                     }};
            }};
}

CommandTableRow clipFollowRow() {
    return {"SetClipFollowActionCommand", [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const FollowAction action = someFollowAction(random);
                return CommandRecipe{
                    call("SetClipFollowAction", clip, int(action)),
                    [=] { return std::make_unique<SetClipFollowActionCommand>(clip, action); }};
            }};
}

CommandTableRow launchModeRow() {
    return {"SetClipLaunchModeCommand", [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const auto mode = static_cast<SessionLaunchMode>(between(random, 0, 4));
                const bool legato = chance(random, 50);
                // Sometimes the quantisation too, one past the last value included.
                std::optional<LaunchQuantize> quantize;
                if (chance(random, 50))
                    quantize = static_cast<LaunchQuantize>(between(random, 0, 4));
                return CommandRecipe{call("SetClipLaunchMode", clip, int(mode), legato,
                                          quantize ? int(*quantize) : -1),
                                     [=] {
                                         return std::make_unique<SetClipLaunchModeCommand>(
                                             clip, mode, legato, quantize);
                                     }};
            }};
}

CommandTableRow oneClipAtATimeRow() {
    return {"SetTrackOneClipAtATimeCommand", [](const Project &project, Random &random) {
                const uint64_t track = someTrackId(project, random);
                const bool oneAtATime = chance(random, 60);
                return CommandRecipe{call("SetTrackOneClipAtATime", track, oneAtATime), [=] {
                                         return std::make_unique<SetTrackOneClipAtATimeCommand>(
                                             track, oneAtATime);
                                     }};
            }};
}

CommandTableRow duplicateClipRow() {
    return {"DuplicateSessionClipCommand", [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                return CommandRecipe{call("DuplicateSessionClip", clip), [=] {
                                         return std::make_unique<DuplicateSessionClipCommand>(clip);
                                     }};
            }};
}

CommandTableRow moveClipRow() {
    return {"MoveSessionClipCommand", [](const Project &project, Random &random) {
                const uint64_t clip = someClipId(project, random);
                const int32_t row = someCell(random, project.session.rows);
                const int32_t column = someCell(random, project.session.cols);
                return CommandRecipe{
                    call("MoveSessionClip", clip, row, column),
                    [=] { return std::make_unique<MoveSessionClipCommand>(clip, row, column); }};
            }};
}

/// Mostly an arrangement clip, sometimes a session clip or a missing id.
uint64_t someArrangementClipId(const Project &project, Random &random) {
    std::vector<uint64_t> arranged;
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            if (!clip->isSessionClip()) arranged.push_back(clip->id);
    if (arranged.empty() || chance(random, 15)) return someClipId(project, random);
    return arranged[static_cast<std::size_t>(drawIndex(random, arranged.size()))];
}

CommandTableRow copyToSessionRow() {
    return {"CopyClipToSessionCommand", [](const Project &project, Random &random) {
                const uint64_t clip = someArrangementClipId(project, random);
                const int32_t row = someCell(random, project.session.rows);
                const int32_t column = someCell(random, project.session.cols);
                return CommandRecipe{
                    call("CopyClipToSession", clip, row, column),
                    [=] { return std::make_unique<CopyClipToSessionCommand>(clip, row, column); }};
            }};
}

CommandTableRow newMidiClipRow() {
    return {"InsertSessionMidiClipCommand", [](const Project &project, Random &random) {
                const uint64_t track = someTrackId(project, random);
                const int32_t row = someCell(random, 4);
                const int32_t column = someCell(random, 4);
                static const int64_t lengths[] = {96000, 1, 0};
                const int64_t length = lengths[between(random, 0, 2)];
                return CommandRecipe{call("InsertSessionMidiClip", track, row, column, length),
                                     [=] {
                                         return std::make_unique<InsertSessionMidiClipCommand>(
                                             track, row, column, length);
                                     }};
            }};
}

CommandTableRow sessionPlayerRow() {
    return {"InsertSessionPlayerClipCommand", [](const Project &project, Random &random) {
                const uint64_t track = someTrackId(project, random);
                const int32_t row = someCell(random, 4);
                const int32_t column = someCell(random, 4);
                static const int64_t bars[] = {96000, 7, 0};
                SessionPlayerSettings settings;
                settings.kind = static_cast<SessionPlayerKind>(between(random, 0, 4));
                settings.barLength = bars[between(random, 0, 2)];
                settings.root = static_cast<int32_t>(between(random, 0, 11));
                settings.minor = chance(random, 50);
                settings.seed = static_cast<uint32_t>(between(random, 0, 1000));
                return CommandRecipe{
                    call("InsertSessionPlayerClip", track, row, column, int(settings.kind),
                         settings.barLength, settings.root, settings.minor, settings.seed),
                    [=] {
                        return std::make_unique<InsertSessionPlayerClipCommand>(track, row, column,
                                                                                settings);
                    }};
            }};
}

/// What the engine's capture makes of a session clip that played `played` samples.
std::shared_ptr<Clip> capturedCopy(const Clip &clip, int64_t now, int64_t played) {
    auto copy = std::make_shared<Clip>(clip);
    copy->arrangeStart = now;
    copy->sessionRow = copy->sessionCol = -1;
    copy->name = "Capture " + clip.name;
    copy->loop = false;
    copy->length = played;
    return copy;
}

CommandTableRow captureRow() {
    return {"CaptureSessionToArrangeCommand", [](const Project &project, Random &random) {
                std::vector<std::shared_ptr<Clip>> copies;
                const int64_t now = between(random, 0, 400000);
                for (const auto &track : project.tracks)
                    for (const auto &clip : track->clips)
                        if (clip->isSessionClip() && chance(random, 50))
                            copies.push_back(capturedCopy(*clip, now, between(random, 1, 50000)));
                return CommandRecipe{call("CaptureSessionToArrange", copies.size(), now), [=] {
                                         return CaptureSessionToArrangeCommand::fromCopies(copies);
                                     }};
            }};
}

} // namespace

std::vector<CommandTableRow> sessionCommandRows() {
    return {sceneRow<InsertSceneCommand>("InsertScene"),
            sceneRow<DeleteSceneCommand>("DeleteScene"),
            sceneRow<DuplicateSceneCommand>("DuplicateScene"),
            moveSceneRow(),
            renameSceneRow(),
            sceneFollowRow(),
            sceneTempoMeterRow(),
            sceneLaunchQuantizeRow(),
            clipFollowRow(),
            launchModeRow(),
            oneClipAtATimeRow(),
            duplicateClipRow(),
            moveClipRow(),
            copyToSessionRow(),
            newMidiClipRow(),
            sessionPlayerRow(),
            captureRow()};
}

} // namespace orvane::testing
