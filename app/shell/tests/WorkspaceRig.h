#pragma once

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "core/engine/Engine.h"

#include <memory>
#include <string>
#include <vector>

namespace orvane::testing {

/// The application without a sound device: the test renders the engine's blocks itself, so
/// transport requests take effect exactly when it says.
class WorkspaceRig {
  public:
    explicit WorkspaceRig(const std::string &label);
    ~WorkspaceRig();

    Engine &engine() { return app->engine(); }
    OVMainView &view() { return app->view(); }
    CommandStack &commands() { return app->commands(); }
    OVApplication &application() { return *app; }

    /// Renders `blocks` blocks of 512 frames (requests are carried out at the first).
    void render(int blocks = 1);
    void request(const Request &request);
    /// Locates while stopped and renders once, so the playhead is there.
    void locate(int64_t samples);
    void play() {
        request(Request::play());
        render();
    }
    uint64_t addTrack(TrackType type, const std::string &name);
    std::shared_ptr<Track> track(uint64_t id);
    std::size_t trackCount();

    TemporaryHome home;
    ScriptedUi ui;

  private:
    std::unique_ptr<OVApplication> app;
    std::vector<float> left, right;
};

} // namespace orvane::testing
