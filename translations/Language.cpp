#include "translations/Language.h"

#include "core/model/Translate.h"
#include "device/DeviceSettings.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QString>
#include <QTranslator>

#include <cstdlib>
#include <fstream>
#include <system_error>
#include <vector>

namespace orvane {

namespace {

std::string environmentValue(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

/// The program's catalogue and Qt's; they live as long as the program does.
struct Catalogues {
    QTranslator program;
    QTranslator qt;
    bool installedInApplication = false;
};

Catalogues &catalogues() {
    static Catalogues *kept = new Catalogues; // outlives every static that may translate
    return *kept;
}

std::string lookUpInProgramCatalogue(const char *context, const char *sourceText, int count) {
    return catalogues().program.translate(context, sourceText, nullptr, count).toStdString();
}

void removeFromApplication(Catalogues &loaded) {
    if (!loaded.installedInApplication || !QCoreApplication::instance()) return;
    QCoreApplication::removeTranslator(&loaded.qt);
    QCoreApplication::removeTranslator(&loaded.program);
    loaded.installedInApplication = false;
}

} // namespace

LocaleVariables localeVariablesFromEnvironment() {
    return {environmentValue("LANGUAGE"), environmentValue("LC_ALL"),
            environmentValue("LC_MESSAGES"), environmentValue("LANG")};
}

std::optional<Language> languageOfLocale(std::string_view locale) {
    const std::string_view name = locale.substr(0, locale.find_first_of("_.@"));
    if (name == "ru") return Language::Russian;
    if (name == "en" || name == "C" || name == "POSIX") return Language::English;
    return std::nullopt;
}

Language languageFromLocale(const LocaleVariables &variables) {
    std::string_view list = variables.language;
    while (!list.empty()) {
        const auto colon = list.find(':');
        const std::string_view entry = list.substr(0, colon);
        if (!entry.empty())
            if (const auto language = languageOfLocale(entry)) return *language;
        list = colon == std::string_view::npos ? std::string_view{} : list.substr(colon + 1);
    }
    for (const std::string *variable : {&variables.lcAll, &variables.lcMessages, &variables.lang})
        if (!variable->empty()) return languageOfLocale(*variable).value_or(Language::English);
    return Language::English;
}

std::optional<Language> languagePreference(const std::filesystem::path &settingsFile) {
    std::ifstream file(settingsFile, std::ios::binary);
    std::optional<Language> preference;
    for (std::string line; std::getline(file, line);) {
        const auto equals = line.find('=');
        if (equals == std::string::npos || trimmed(line.substr(0, equals)) != languagePreferenceKey)
            continue;
        const std::string value = trimmed(std::string_view(line).substr(equals + 1));
        // An empty or unknown value means "follow the locale"; a later line wins, as it does
        // for every other key of the file.
        preference = value.empty() ? std::nullopt : languageOfLocale(value);
    }
    return preference;
}

bool storeLanguagePreference(const std::filesystem::path &settingsFile,
                             std::optional<Language> language, std::string &error) {
    std::vector<std::string> lines;
    {
        std::ifstream file(settingsFile, std::ios::binary);
        for (std::string line; std::getline(file, line);) {
            const auto equals = line.find('=');
            const bool isPreference = equals != std::string::npos &&
                                      trimmed(line.substr(0, equals)) == languagePreferenceKey;
            if (!isPreference) lines.push_back(line);
        }
    }
    lines.push_back(std::string(languagePreferenceKey) + "=" +
                    (language ? languageCode(*language) : ""));
    std::error_code failure;
    std::filesystem::create_directories(settingsFile.parent_path(), failure);
    const std::filesystem::path written = settingsFile.string() + ".new";
    {
        std::ofstream file(written, std::ios::binary | std::ios::trunc);
        for (const std::string &line : lines)
            file << line << '\n';
        file.flush();
        if (!file) {
            error = "cannot write " + written.string();
            return false;
        }
    }
    std::filesystem::rename(written, settingsFile, failure);
    if (failure) {
        error = "cannot replace " + settingsFile.string() + ": " + failure.message();
        std::filesystem::remove(written, failure);
        return false;
    }
    return true;
}

Language chooseLanguage() {
    const std::filesystem::path settings = deviceSettingsPath();
    if (!settings.empty())
        if (const auto preferred = languagePreference(settings)) return *preferred;
    return languageFromLocale(localeVariablesFromEnvironment());
}

const char *languageCode(Language language) { return language == Language::Russian ? "ru" : "en"; }

bool useLanguage(Language language, std::string &error) {
    Catalogues &loaded = catalogues();
    removeFromApplication(loaded);
    installTranslationLookup(nullptr);

    // English has a catalogue of its own too, holding only the texts with a count: their
    // source is one pattern, "%n file(s)", and the catalogue gives "1 file" and "2 files".
    const QString code = QString::fromLatin1(languageCode(language));
    if (!loaded.program.load(QStringLiteral(":/i18n/halvora_") + code)) {
        error = "the " + std::string(languageCode(language)) + " catalogue is missing";
        return false;
    }
    // Qt's own texts (standard buttons, file dialogs) are a nicety: without the package they
    // stay English and everything of ours is still translated.
    const bool qtLoaded = loaded.qt.load(QStringLiteral("qtbase_") + code,
                                         QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    installTranslationLookup(&lookUpInProgramCatalogue);
    if (QCoreApplication::instance()) {
        if (qtLoaded) QCoreApplication::installTranslator(&loaded.qt);
        QCoreApplication::installTranslator(&loaded.program);
        loaded.installedInApplication = true;
    }
    return true;
}

} // namespace orvane
