#include "core/project_io/DocumentWriter.h"
#include "core/project_io/DocumentEncoding.h"
#include "core/project_io/DocumentFields.h"
#include "core/project_io/ProjectDocument.h"

namespace orvane::project_io {

namespace {

/// One line of a multi-line object: indentation, `"key": `, the value and `separator`.
template <typename Owner>
void writeLine(std::string &out, const char *indent, const Field<Owner> &field, const Owner &owner,
               const char *separator = ",\n") {
    if (!field.isWritten(owner)) return;
    out += indent;
    out += '"';
    out += field.key;
    out += "\": ";
    field.write(out, field, owner);
    out += separator;
}

void writeTrack(std::string &out, const Track &track) {
    out += "    {\n";
    for (const Field<Track> &field : trackFields())
        writeLine(out, "      ", field, track);
    out += "      \"clips\": [\n";
    bool first = true;
    for (const auto &clip : track.clips) {
        if (!clip) continue;
        if (!first) out += ",\n";
        first = false;
        out += "        ";
        writeFields(out, clipFields(), *clip);
    }
    out += "\n      ]\n    }";
}

void writeSession(std::string &out, const SessionGrid &session) {
    out += "  \"session\": {\n";
    const FieldTable<SessionGrid> fields = sessionFields();
    for (std::size_t index = 0; index < fields.size(); ++index)
        writeLine(out, "    ", fields[index], session, index + 1 < fields.size() ? ",\n" : "\n");
    out += "  },\n";
}

void writeTracks(std::string &out, const std::vector<std::shared_ptr<Track>> &tracks) {
    out += "  \"tracks\": [\n";
    bool first = true;
    for (const auto &track : tracks) {
        if (!track) continue;
        if (!first) out += ",\n";
        first = false;
        writeTrack(out, *track);
    }
    out += "\n  ]\n";
}

/// A generous guess of the text length, so that building a large document does not copy
/// the string over and over as it grows.
std::size_t estimatedLength(const Project &project) {
    std::size_t length = 16384;
    for (const auto &track : project.tracks) {
        if (!track) continue;
        length += 4096;
        for (const auto &clip : track->clips)
            if (clip) length += 512 + clip->notes.size() * 72 + clip->gainEnvelope.size() * 40;
        length += (track->volumeAutomation.size() + track->panAutomation.size() +
                   track->muteAutomation.size()) *
                  40;
    }
    return length;
}

} // namespace

void writeAutomation(std::string &out, const std::vector<AutomationPoint> &points) {
    out += '[';
    bool first = true;
    for (const AutomationPoint &point : points) {
        if (!first) out += ',';
        first = false;
        writeFields(out, automationPointFields(), point);
    }
    out += ']';
}

void writeChannelEq8(std::string &out, const ChannelEq8 &eq) {
    writeFields(out, channelEqFields(), eq);
}

std::string toJson(const Project &project) {
    std::string out;
    out.reserve(estimatedLength(project));
    out += "{\n";
    for (const Field<Project> &field : projectFields())
        writeLine(out, "  ", field, project);
    writeSession(out, project.session);
    writeTracks(out, project.tracks);
    out += "}\n";
    return out;
}

} // namespace orvane::project_io
