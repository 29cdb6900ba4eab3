#pragma once

#include "app/shell/ProjectRender.h"
#include "core/engine/Engine.h"
#include "core/model/Project.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "device/OfflineRender.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

struct RenderVerbOptions {
    std::string projectFolder; // empty with `demo`
    bool demo = false;
    std::string outputPath;
    std::optional<int64_t> start;
    std::optional<int64_t> length;
    uint64_t trackId = 0; // 0 renders the whole mix
    int32_t channels = 2;
    bool quiet = false;
    bool help = false;
    ExportFormat format;
    bool bitsGiven = false;
    bool qualityGiven = false;
    Normalization normalization;
    std::string stemsFolder; // empty: no stems
};

/// Reads the arguments after "render". False with `error` set for anything it does not
/// understand, so that a mistyped option never renders something the user did not ask for.
[[nodiscard]] bool parseRenderArguments(const std::vector<std::string> &arguments,
                                        RenderVerbOptions &options, std::string &error);

std::string describeRenderSummary(const RenderSummary &summary, const std::string &outputPath);

/// The whole command: load (or build the demo), hydrate, render, write. Progress, warnings
/// and errors go to `errors`, the summary line to `output`. Returns the exit status: 0 on
/// success, 1 when the input cannot be rendered or written, 2 for a usage error.
int runRenderVerb(const std::vector<std::string> &arguments, std::FILE *output, std::FILE *errors);

const char *renderVerbHelp();

/// Names on `errors` every media file that changed under the program since the last call,
/// once each; true when there was one.
bool reportChangedMedia(std::FILE *errors, const std::string &program);

/// Loads a project folder the way the commands take it: media read in (missing or unreadable
/// media are warned about on `errors`), sample rate and positions checked. nullopt with
/// `error` set when the project cannot be used.
std::optional<Project> loadProjectForVerb(const std::string &folder, std::FILE *errors,
                                          std::string &error);

} // namespace orvane
