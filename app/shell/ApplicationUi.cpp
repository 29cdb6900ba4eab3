#include "app/shell/ApplicationUi.h"

#include "app/shell/SessionState.h"

namespace orvane {

void HVLoggingStatusField::setText(const std::string &text) {
    if (!text.empty() && text != current) betaSessionLog("action", "status", text);
    current = text;
    ui.showStatus(text);
}

} // namespace orvane
