#include "app/cli/PresetsVerb.h"

#include "core/plugins/PluginPresets.h"

namespace orvane {

const char *presetsHelp() {
    return "usage: Halvora presets PLUGIN-ID\n"
           "\n"
           "Lists the presets of a plug-in, one name per line: those installed with it first\n"
           "(an LV2 plug-in's by name, a VST 3 plug-in's programs in its own order), then the\n"
           "user's own by name, kept in $XDG_DATA_HOME/halvora/presets (else\n"
           "~/.local/share/halvora/presets).\n"
           "\n"
           "PLUGIN-ID is the id a project stores for the plug-in: \"lv2:\" followed by an LV2\n"
           "plug-in's URI (for example lv2:http://calf.sourceforge.net/plugins/Monosynth), or\n"
           "a VST 3 class id of 32 hexadecimal digits, whose programs are listed when the\n"
           "VST 3 folders hold it (its code then runs in this process). A user preset that\n"
           "cannot be read is named on standard error and left out.\n"
           "\n"
           "Exit status: 0 listed, 1 no such plug-in, 2 bad arguments.\n";
}

int runPresetsVerb(const std::vector<std::string> &arguments, std::FILE *output,
                   std::FILE *errors) {
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::fputs(presetsHelp(), output);
        return 0;
    }
    if (arguments.size() != 1 || arguments[0].empty() || arguments[0][0] == '-') {
        std::fputs(arguments.empty() ? "presets: which plug-in?\n"
                                     : "presets: give one plug-in id and nothing else\n",
                   errors);
        std::fputs(presetsHelp(), errors);
        return 2;
    }
    vst::PresetListing listing;
    std::string error;
    // A VST 3 plug-in's programs come from the plug-in itself, found in the VST 3 folders.
    const std::string bundle =
        vst::userPresetFolder(arguments[0]).empty() || arguments[0].starts_with("lv2:")
            ? std::string()
            : vst::findVst3Bundle(arguments[0]);
    if (!vst::listPluginPresets(arguments[0], listing, error, bundle)) {
        std::fprintf(errors, "presets: %s\n", error.c_str());
        return 1;
    }
    for (const std::string &problem : listing.problems)
        std::fprintf(errors, "presets: %s\n", problem.c_str());
    for (const vst::PluginPreset &preset : listing.presets)
        std::fprintf(output, "%s\n", preset.name.c_str());
    return 0;
}

} // namespace orvane
