#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

/// Marks `text` for the catalogue in `context` where it is named, for a `translate` where it is
/// shown; the same definition as Qt's, so that either may come first.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, x) x
#endif

namespace orvane {

/// Looks a text up in the catalogue of the language in use, in the plural form that suits
/// `count` (-1 for a text without one); returns an empty text when the catalogue has no
/// translation for it.
using TranslationLookup = std::string (*)(const char *context, const char *sourceText, int count);

/// Makes `lookup` the catalogue every `translate` reads; null goes back to the source texts.
/// Installed once at start-up, before any thread that shows texts is started.
void installTranslationLookup(TranslationLookup lookup);

/// The lookup installed now, so that a catalogue loaded in the window's module can serve the
/// program's own texts too.
TranslationLookup installedTranslationLookup();

/// The text the user reads for `sourceText` (English) in `context`: its translation in the
/// installed catalogue, else the source text itself. Never called on the audio thread.
std::string translate(const char *context, const char *sourceText);

/// The text for `count` things: the catalogue's form of `sourceText` that suits `count` in the
/// language in use, with each "%n" replaced by `count`. English needs a catalogue too, for
/// "one file" against "two files"; `disambiguation` is null unless one source text means two
/// things (the signature is Qt's, so that lupdate finds these texts as plural ones).
std::string translate(const char *context, const char *sourceText, const char *disambiguation,
                      int count);

/// `pattern` with "%1" … "%9" replaced by the arguments in order, so that a translation can
/// place them where its word order needs them. A marker without an argument stays as it is.
std::string withArguments(std::string_view pattern,
                          std::initializer_list<std::string_view> arguments);

} // namespace orvane
