#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace orvane {

/// Looks a text up in the catalogue of the language in use; returns null (or an empty text)
/// when the catalogue has no translation for it.
using TranslationLookup = std::string (*)(const char *context, const char *sourceText);

/// Makes `lookup` the catalogue every `translate` reads; null goes back to the source texts.
/// Installed once at start-up, before any thread that shows texts is started.
void installTranslationLookup(TranslationLookup lookup);

/// The text the user reads for `sourceText` (English) in `context`: its translation in the
/// installed catalogue, else the source text itself. Never called on the audio thread.
std::string translate(const char *context, const char *sourceText);

/// `pattern` with "%1" … "%9" replaced by the arguments in order, so that a translation can
/// place them where its word order needs them. A marker without an argument stays as it is.
std::string withArguments(std::string_view pattern,
                          std::initializer_list<std::string_view> arguments);

} // namespace orvane
