#include "core/model/StoredFields.h"
#include "core/project_io/ProjectDocument.h"
#include "tests/support/RandomStoredProject.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>

namespace orvane::testing {
namespace {

constexpr uint64_t seeds = 40;

/// The keys, by table, of the rows that left their default in some object of some seed.
using KeysAway = std::map<std::string, std::set<std::string>>;

template <typename Owner>
void noteKeysAway(const char *table, StoredFieldTable<Owner> fields, const Owner &owner,
                  KeysAway &away) {
    const Owner fresh{};
    for (const StoredField<Owner> &field : fields)
        if (!field.same(fresh, owner)) away[table].insert(field.key);
}

/// Rows whose range says what the setting means: the kit must draw them from the row.
template <typename Owner>
void expectEveryBoundedRowAway(const char *table, StoredFieldTable<Owner> fields,
                               const KeysAway &away) {
    for (const StoredField<Owner> &field : fields) {
        const bool bounded =
            field.type == FieldType::String ||
            (field.isScalar() && std::isfinite(field.lowest) && std::isfinite(field.highest));
        if (!bounded) continue;
        EXPECT_TRUE(away.count(table) && away.at(table).count(field.key))
            << table << "." << field.key << " never left its default";
    }
}

void expectConsistent(const Project &project) {
    std::set<uint64_t> trackIds, clipIds, sessionClipIds{0};
    for (const auto &track : project.tracks) {
        EXPECT_TRUE(trackIds.insert(track->id).second) << "track " << track->id;
        EXPECT_LT(track->id, project.nextTrackId);
        for (const auto &clip : track->clips) {
            EXPECT_TRUE(clipIds.insert(clip->id).second) << "clip " << clip->id;
            EXPECT_LT(clip->id, project.nextClipId);
            EXPECT_EQ(clip->trackId, track->id);
            const bool audio = clip->kind == ClipKind::Audio;
            EXPECT_EQ(clip->audioFile,
                      audio ? "media/clip_" + std::to_string(clip->id) + ".wav" : "");
            if (!audio) {
                EXPECT_EQ(clip->audio, nullptr);
            }
            if (!clip->isSessionClip()) continue;
            sessionClipIds.insert(clip->id);
            EXPECT_LT(clip->sessionRow, project.session.rows);
            EXPECT_LT(clip->sessionCol, project.session.cols);
        }
    }
    for (const Scene &scene : project.session.scenes) {
        EXPECT_LT(scene.id, project.nextSceneId);
        EXPECT_EQ(scene.clips.size(), project.tracks.size());
        for (const uint64_t slot : scene.clips)
            EXPECT_TRUE(sessionClipIds.count(slot)) << "scene " << scene.id << " slot " << slot;
    }
}

TEST(ConsistentRandomProject, IdsSlotsAndMediaAgreeAndTheDocumentLoadsAsSaved) {
    for (uint64_t seed = 1; seed <= seeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Random random(seed);
        const Project project = makeConsistentRandomProject(random);
        expectConsistent(project);
        const std::string saved = project_io::toJson(project);
        std::string error;
        const auto loaded = project_io::fromJson(saved, &error);
        ASSERT_TRUE(loaded.has_value()) << error;
        EXPECT_EQ(project_io::toJson(*loaded), saved);
    }
}

TEST(ConsistentRandomProject, EverySettingTheTableBoundsComesFromItsRow) {
    KeysAway away;
    for (uint64_t seed = 1; seed <= seeds; ++seed) {
        Random random(seed);
        const Project project = makeConsistentRandomProject(random);
        noteKeysAway("project", stored::projectFields(), project, away);
        noteKeysAway("session", stored::sessionFields(), project.session, away);
        for (const Scene &scene : project.session.scenes)
            noteKeysAway("scene", stored::sceneFields(), scene, away);
        for (const auto &track : project.tracks) {
            noteKeysAway("track", stored::trackFields(), *track, away);
            for (const SendSlot &send : track->sends)
                noteKeysAway("send", stored::sendFields(), send, away);
            for (const auto &clip : track->clips) {
                noteKeysAway("clip", stored::clipFields(), *clip, away);
                for (const MidiNote &note : clip->notes)
                    noteKeysAway("note", stored::noteFields(), note, away);
            }
        }
    }
    expectEveryBoundedRowAway("project", stored::projectFields(), away);
    expectEveryBoundedRowAway("session", stored::sessionFields(), away);
    expectEveryBoundedRowAway("scene", stored::sceneFields(), away);
    expectEveryBoundedRowAway("track", stored::trackFields(), away);
    expectEveryBoundedRowAway("send", stored::sendFields(), away);
    expectEveryBoundedRowAway("clip", stored::clipFields(), away);
    expectEveryBoundedRowAway("note", stored::noteFields(), away);
}

} // namespace
} // namespace orvane::testing
