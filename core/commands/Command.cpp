#include "core/commands/Command.h"

#include <vector>

namespace orvane {

std::shared_ptr<Clip> cloneClipForUndo(const Clip &clip) {
    auto copy = std::make_shared<Clip>(clip);
    return copy;
}

} // namespace orvane
