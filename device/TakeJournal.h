#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

/// One input pair's take in a recording's journal: the track it records for (0 = a new
/// track) and the file its input is spooled to (a name in the journal's folder).
struct JournalTake {
    int32_t inputPair = 0;
    uint64_t trackId = 0;
    std::string file;
};

/// What a recording in progress leaves beside its project, so that the takes of a program
/// that died while recording can be placed where they were recorded. Written when the take
/// begins and whenever where it starts becomes known; removed once the take was kept or
/// dropped in the ordinary way.
struct TakeJournal {
    long processId = 0;
    /// Which run of which process wrote it: the machine's boot and the process's start (in
    /// clock ticks since boot), so that a process id taken again after a restart or by a
    /// later program is not mistaken for the recording. Empty and 0 when not known.
    std::string bootId;
    long long processStart = 0;
    /// Timeline position of the first captured frame, and the device's round trip the take
    /// is moved back by (as the ordinary end of a take does).
    int64_t captureStart = 0;
    int64_t latencyFrames = 0;
    bool punchEnabled = false;
    int64_t punchIn = 0;
    int64_t punchOut = 0;
    std::vector<JournalTake> takes;
};

/// The journal's process fields for the calling process.
void stampTakeJournal(TakeJournal &journal);

/// The folder inside a project where recordings in progress keep their journals and files.
std::string takeJournalFolder(const std::string &projectFolder);

/// Writes the journal in place of `path` at once (a temporary file synced and renamed over
/// it), so that a reader finds the old journal or the new one, never half of one.
[[nodiscard]] bool writeTakeJournal(const std::string &path, const TakeJournal &journal,
                                    std::string &error);
/// Reads a journal; nullopt with `error` for a file that is not one.
std::optional<TakeJournal> readTakeJournal(const std::string &path, std::string &error);

/// The journals in the project's folder left by programs that no longer run (not this one,
/// nor another that is still recording), oldest first.
std::vector<std::string> interruptedTakeJournals(const std::string &projectFolder);

/// Deletes a journal and the take files it names.
void removeTakeJournal(const std::string &path);

} // namespace orvane
