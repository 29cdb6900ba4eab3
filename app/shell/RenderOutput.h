#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

/// `text` with every control byte (and DEL) shown as `\xNN`, so that names taken from a
/// document can never move the cursor, clear lines or retitle the terminal.
std::string printableText(std::string_view text);

/// Refuses an output the render must not write: none given, a folder, anything that exists
/// and is neither a regular file nor a symbolic link (a device node or a FIFO would be
/// replaced by a regular file), a file inside `projectFolder` (the project being rendered,
/// empty for none), or a folder that does not exist or is not writable.
[[nodiscard]] bool checkOutputTarget(const std::string &outputPath,
                                     const std::string &projectFolder, std::string &error);

/// Creates `folder` (with its parents) for files that `checkOutputTarget` will check one by
/// one. False with `error` when it lies inside `projectFolder`, is not a folder or cannot be
/// created.
[[nodiscard]] bool prepareOutputFolder(const std::string &folder, const std::string &projectFolder,
                                       std::string &error);

/// Writes the WAV file into a file beside `outputPath` that has no name until it is complete
/// (a fresh temporary, created exclusively and never through a symbolic link, where the file
/// system has no nameless files), flushes it to the disk and only then puts it in place of
/// the output, so that a write that fails or is killed halfway never damages a file the user
/// already had and leaves nothing the user sees. Temporary files left by a render that was
/// killed are removed first.
[[nodiscard]] bool writeRenderOutput(const std::string &outputPath,
                                     const std::vector<float> &samples, int64_t frames,
                                     int32_t channels, double sampleRate, std::string &error);
/// The same with the file's bytes written by `write` into the open temporary file, for
/// output produced while it is being rendered. A `write` that fails leaves no file.
[[nodiscard]] bool writeRenderOutputWith(const std::string &outputPath,
                                         const std::function<bool(int descriptor)> &write,
                                         std::string &error);

/// For a program that renders into a file: Ctrl-C or SIGTERM during the write removes the
/// temporary file before the signal ends the process.
void removeRenderTemporaryOnInterrupt();

} // namespace orvane
