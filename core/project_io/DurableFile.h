#pragma once

#include <filesystem>
#include <string_view>

namespace orvane::project_io {

// A file written through these functions is either its old self or complete: the new bytes
// go to a temporary file in the same folder, which is flushed to the disk and renamed over
// the target, and the folder itself is then flushed so that the rename survives a power cut.

/// Creates the temporary file for `target` in the same folder (so that the rename is atomic)
/// under a name nobody can guess, exclusively and never through a symbolic link, so that a
/// link planted in a shared folder cannot redirect the write. Its descriptor open for writing
/// and its path, or -1.
int createTemporaryFor(const std::filesystem::path &target, std::filesystem::path &temporary);

/// Writes `contents` to `target` durably. On failure the target is untouched and no
/// temporary file is left behind.
[[nodiscard]] bool writeFileDurably(const std::filesystem::path &target, std::string_view contents);

/// Flushes a complete `temporary` file and renames it over `target`. On failure the
/// temporary file is removed and the target is untouched.
[[nodiscard]] bool commitTemporaryFile(const std::filesystem::path &temporary,
                                       const std::filesystem::path &target);

/// Test seam for fault injection: called with the target after its temporary file is
/// complete and flushed, just before the rename. Null (the default) does nothing.
using BeforeReplaceHook = void (*)(const std::filesystem::path &target);
void setBeforeReplaceHook(BeforeReplaceHook hook);

} // namespace orvane::project_io
