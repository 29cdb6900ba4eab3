#include "app/window/WorkspacePanels.h"

namespace orvane {

WorkspacePanel *createSessionPanel(OVApplication &, QWidget *parent) {
    return new WorkspacePanel(parent);
}

WorkspacePanel *createMixerPanel(OVApplication &, QWidget *parent) {
    return new WorkspacePanel(parent);
}

WorkspacePanel *createPluginBrowserPanel(OVApplication &, QWidget *parent) {
    return new WorkspacePanel(parent);
}

} // namespace orvane
