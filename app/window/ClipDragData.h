#pragma once

#include <cstdint>
#include <string>
#include <vector>

class QMimeData;

namespace orvane {

/// The format of an arrangement clip carried out of the timeline. It names the program that
/// made it, so a clip dragged from another running copy is never taken for one of ours.
inline constexpr const char *arrangementClipMimeType = "application/x-halvora-arrangement-clip";

/// What a drag of the arrangement clip `clipId` carries.
QMimeData *arrangementClipMimeData(uint64_t clipId);
/// The arrangement clip `data` carries, when this program made it; 0 otherwise.
uint64_t draggedArrangementClip(const QMimeData *data);
/// The local audio and MIDI files among `data`'s addresses, in their order.
std::vector<std::string> droppedMediaFiles(const QMimeData *data);

} // namespace orvane
