#include "core/project_io/DocumentReader.h"
#include "core/project_io/DocumentFields.h"
#include "core/project_io/JsonReader.h"
#include "core/project_io/ProjectDocument.h"

namespace orvane::project_io {

namespace {

std::shared_ptr<Track> readTrack(const JsonValue &object) {
    auto track = std::make_shared<Track>();
    readFields(trackFields(), object, *track);
    const JsonValue *clips = object.find("clips");
    if (!clips || !clips->isArray()) return track;
    for (const JsonValue &element : clips->elements) {
        if (!element.isObject()) continue;
        auto clip = std::make_shared<Clip>();
        readFields(clipFields(), element, *clip);
        clip->trackId = track->id;
        track->clips.push_back(std::move(clip));
    }
    return track;
}

void readTracks(const JsonValue *tracks, Project &project) {
    if (!tracks || !tracks->isArray()) return;
    for (const JsonValue &element : tracks->elements)
        if (element.isObject()) project.tracks.push_back(readTrack(element));
}

} // namespace

ChannelEq8 readChannelEq8(const JsonValue *object) {
    ChannelEq8 eq;
    if (object && object->isObject()) readFields(channelEqFields(), *object, eq);
    return eq;
}

std::optional<Project> fromJson(std::string_view text, std::string *error) {
    // Editors on some systems start UTF-8 files with a byte-order mark.
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, byteOrderMark.size()) == byteOrderMark)
        text.remove_prefix(byteOrderMark.size());
    Parser parser(text);
    parser.skipWhitespace();
    const JsonValue root = parser.parseValue();
    const auto failWith = [error](const std::string &message) {
        if (error) *error = message;
        return std::nullopt;
    };
    if (!parser.error().empty()) return failWith(parser.error());
    if (!root.isObject()) return failWith("root must be object");
    // Every value passes through the field tables, which hold it within its meaningful range.
    Project project;
    readFields(projectFields(), root, project);
    const JsonValue *session = root.find("session");
    if (session && session->isObject()) readFields(sessionFields(), *session, project.session);
    readTracks(root.find("tracks"), project);
    // The file keeps five values per track of a snapshot; recalling one read back must not
    // clear the sends and macros that were never stored.
    for (auto &snapshot : project.mixerSnapshots)
        snapshot.hasSendsAndMacros = false;
    for (auto &event : project.mixerSnapshotHistory)
        event.snapshot.hasSendsAndMacros = false;
    return project;
}

} // namespace orvane::project_io
