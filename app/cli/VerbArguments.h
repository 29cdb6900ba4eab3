#pragma once

#include <charconv>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

/// The whole of `text` read as one number of `Number`'s type; false for anything else
/// (empty text, trailing characters, out of range).
template <typename Number> bool parseNumber(std::string_view text, Number &value) {
    const char *end = text.data() + text.size();
    const auto [stop, fault] = std::from_chars(text.data(), end, value);
    return fault == std::errc{} && stop == end && !text.empty();
}

/// False with `error` set when the option at `index` is the last word and so has no value.
[[nodiscard]] inline bool needsValue(const std::vector<std::string> &arguments, std::size_t index,
                                     std::string &error) {
    if (index + 1 < arguments.size()) return true;
    error = "option " + arguments[index] + " needs a value";
    return false;
}

/// Reads the arguments of a command that works on one project folder or on the built-in
/// song: words starting with '-' go to `parseOption(index, error)`, which takes an option's
/// value by advancing the index; the one other word is the project folder. Unless help was
/// asked for, exactly one of a folder and `--demo` must be given. `Options` has the fields
/// `projectFolder`, `demo` and `help`.
template <class Options, class OptionParser>
[[nodiscard]] bool readProjectVerbArguments(const std::vector<std::string> &arguments,
                                            Options &options, OptionParser parseOption,
                                            std::string &error) {
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string &argument = arguments[index];
        if (argument.size() > 1 && argument[0] == '-') {
            if (!parseOption(index, error)) return false;
        } else if (options.projectFolder.empty()) {
            options.projectFolder = argument;
        } else {
            error = "more than one project folder given (\"" + options.projectFolder + "\" and \"" +
                    argument + "\")";
            return false;
        }
    }
    if (options.help) return true;
    if (options.demo && !options.projectFolder.empty()) {
        error = "give either a project folder or --demo, not both";
        return false;
    }
    if (!options.demo && options.projectFolder.empty()) {
        error = "no project folder given (or --demo for the built-in project)";
        return false;
    }
    return true;
}

} // namespace orvane
