#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

/// The languages the window and the application core speak. Command-line help and messages
/// stay English whatever is chosen.
enum class Language { English, Russian };

/// The locale variables that choose the language, in the order they are read.
struct LocaleVariables {
    std::string language;   // "LANGUAGE": a list such as "ru:en", first supported wins
    std::string lcAll;      // "LC_ALL"
    std::string lcMessages; // "LC_MESSAGES"
    std::string lang;       // "LANG"
};

LocaleVariables localeVariablesFromEnvironment();

/// The language a locale name such as "ru_RU.UTF-8" or "ru" stands for; English for "C" and
/// "POSIX"; nothing for a language without a catalogue.
std::optional<Language> languageOfLocale(std::string_view locale);

/// "LANGUAGE" first (its first supported entry), else the first of "LC_ALL", "LC_MESSAGES"
/// and "LANG" that is set; English when that names a language without a catalogue.
Language languageFromLocale(const LocaleVariables &variables);

/// The key of the preference in the settings file: "en", "ru", or empty to follow the locale.
inline constexpr const char *languagePreferenceKey = "hv.language";

/// The preference stored in `settingsFile`; nothing when it is absent, empty or unknown.
std::optional<Language> languagePreference(const std::filesystem::path &settingsFile);

/// Stores `language` as the preference in `settingsFile` (nothing: follow the locale), keeping
/// every other line of the file; the file is replaced only once the new one is written. False
/// with `error` set when it cannot be written.
bool storeLanguagePreference(const std::filesystem::path &settingsFile,
                             std::optional<Language> language, std::string &error);

/// The preference in the user's settings file, else the locale.
Language chooseLanguage();

/// "en" or "ru".
const char *languageCode(Language language);

/// Makes `language` the one every text is shown in from now on: the program's catalogue and
/// Qt's own (standard dialogs and widgets) are installed into the running QCoreApplication,
/// when there is one, and behind the application core's `translate`. False with `error` set
/// when a catalogue cannot be loaded; the texts then stay English.
bool useLanguage(Language language, std::string &error);

} // namespace orvane
