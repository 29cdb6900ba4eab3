#include "core/commands/Command.h"

#include <vector>

namespace orvane {

std::shared_ptr<Clip> cloneClipForUndo(const Clip &clip) {
    auto copy = std::make_shared<Clip>(clip);
    if (clip.audio) copy->audio = std::make_shared<const std::vector<float>>(*clip.audio);
    return copy;
}

} // namespace orvane
