#pragma once

#include "core/model/Translate.h"

#include <cstddef>

// The window, with Qt and everything it loads, is a module the program opens only to show the
// window or to read the user's language: the command-line verbs start without mapping and
// relocating those libraries, which costs a render more than the render's own first blocks.
// The module holds its own copy of the application core, so nothing crosses between the two
// but these entry points and the catalogue lookup, a plain function.

/// The module's file, beside the program in a build folder and in this folder under the
/// installation prefix.
inline constexpr const char *windowModuleFileName = "halvora-window.so";
inline constexpr const char *windowModuleInstallFolder = "lib/halvora";

extern "C" {

/// Shows the window until it is closed; the program's exit status.
int halvoraRunWindow(int argc, char **argv);
using RunWindowEntry = int (*)(int argc, char **argv);

/// Loads the catalogue of the user's language and returns its lookup for the program's own
/// `translate`; null, with a message of at most `errorSize` bytes in `error`, when it cannot.
orvane::TranslationLookup halvoraUserLanguageLookup(char *error, std::size_t errorSize);
using UserLanguageEntry = orvane::TranslationLookup (*)(char *error, std::size_t errorSize);
}
