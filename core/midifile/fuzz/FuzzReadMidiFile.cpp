#include "core/midifile/MidiFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Any bytes either read as a file or are refused with a reason; what is read writes out and
// reads back to the same notes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    orvane::midifile::MidiFile file;
    std::string error;
    if (!orvane::midifile::readMidiFile({data, size}, file, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    const std::vector<uint8_t> written = orvane::midifile::writeMidiFile(file);
    orvane::midifile::MidiFile again;
    if (!orvane::midifile::readMidiFile(written, again, error)) std::abort();
    if (again.tracks.size() != file.tracks.size() + 1) std::abort();
    for (std::size_t index = 0; index < file.tracks.size(); ++index)
        if (again.tracks[index + 1].notes.size() != file.tracks[index].notes.size()) std::abort();
    return 0;
}
