#include "app/shell/tests/WorkspaceRig.h"

#include "core/plugins/PluginRack.h"

#include <gtest/gtest.h>

#include <mutex>

namespace orvane::testing {

WorkspaceRig::WorkspaceRig(const std::string &label)
    : home(label), app(std::make_unique<OVApplication>(ui)), left(512), right(512) {
    app->didFinishLaunching(false);
    engine().prepareToPlay(48000.0, 512);
    app->rack().prepare(48000.0, 512);
}

WorkspaceRig::~WorkspaceRig() { app.reset(); }

void WorkspaceRig::render(int blocks) {
    float *channels[2] = {left.data(), right.data()};
    for (int i = 0; i < blocks; ++i)
        engine().processBlock(channels, 2, 512);
}

void WorkspaceRig::request(const Request &request) {
    ASSERT_TRUE(engine().pushRequest(RequestProducer::MainThread, request));
}

void WorkspaceRig::locate(int64_t samples) {
    request(Request::locate(samples));
    render();
}

uint64_t WorkspaceRig::addTrack(TrackType type, const std::string &name) {
    std::lock_guard lock(engine().projectMutex);
    const auto track = engine().project.addTrack(type, name);
    engine().publishGraph();
    return track ? track->id : 0;
}

std::shared_ptr<Track> WorkspaceRig::track(uint64_t id) {
    std::lock_guard lock(engine().projectMutex);
    return engine().project.findTrack(id);
}

std::size_t WorkspaceRig::trackCount() {
    std::lock_guard lock(engine().projectMutex);
    return engine().project.tracks.size();
}

} // namespace orvane::testing
