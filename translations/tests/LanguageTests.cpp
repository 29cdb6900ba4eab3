#include "translations/Language.h"

#include "core/model/Translate.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace orvane {
namespace {

namespace fs = std::filesystem;

TEST(LanguageFromLocale, readsLanguageThenLcAllLcMessagesAndLang) {
    struct Case {
        LocaleVariables variables;
        Language expected;
    };
    const Case cases[] = {
        {{"", "", "", "ru_RU.UTF-8"}, Language::Russian},
        {{"", "", "", "en_US.UTF-8"}, Language::English},
        {{"", "", "", ""}, Language::English},
        {{"", "", "", "C"}, Language::English},
        {{"", "", "en_GB.UTF-8", "ru_RU.UTF-8"}, Language::English},
        {{"", "ru_RU.UTF-8", "en_GB.UTF-8", "en_US.UTF-8"}, Language::Russian},
        {{"ru", "en_US.UTF-8", "", "en_US.UTF-8"}, Language::Russian},
        {{"en", "", "", "ru_RU.UTF-8"}, Language::English},
        // The first entry of LANGUAGE with a catalogue wins; unknown ones are passed over.
        {{"de:ru:en", "", "", "en_US.UTF-8"}, Language::Russian},
        {{"de:fr", "", "", "ru_RU.UTF-8"}, Language::Russian},
        // A locale whose language has no catalogue reads English.
        {{"", "", "", "de_DE.UTF-8"}, Language::English},
        {{"", "", "", "ru_UA@euro"}, Language::Russian},
    };
    for (const Case &c : cases)
        EXPECT_EQ(languageFromLocale(c.variables), c.expected)
            << "LANGUAGE=" << c.variables.language << " LC_ALL=" << c.variables.lcAll
            << " LC_MESSAGES=" << c.variables.lcMessages << " LANG=" << c.variables.lang;
}

fs::path settingsFileWith(const std::string &name, const std::string &content) {
    const fs::path folder =
        fs::temp_directory_path() / ("halvora-language-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path path = folder / name;
    std::ofstream(path) << content;
    return path;
}

TEST(LanguagePreference, isReadFromTheSettingsFileBesideTheAudioKeys) {
    struct Case {
        const char *content;
        std::optional<Language> expected;
    };
    const Case cases[] = {
        {"hv.outputDevice=Null\nhv.language = ru\nhv.bufferSize=256\n", Language::Russian},
        {"hv.language=en\n", Language::English},
        {"hv.language=\n", std::nullopt},
        {"hv.language=klingon\n", std::nullopt},
        {"hv.bufferSize=256\n", std::nullopt},
        {"hv.language=ru\nhv.language=en\n", Language::English},
        {"# hv.language=ru\n", std::nullopt},
    };
    int index = 0;
    for (const Case &c : cases) {
        const fs::path path =
            settingsFileWith("case" + std::to_string(index++) + ".ini", c.content);
        EXPECT_EQ(languagePreference(path), c.expected) << c.content;
    }
    EXPECT_EQ(languagePreference(settingsFileWith("none", "") / "missing.ini"), std::nullopt);
}

TEST(LanguagePreference, isStoredBesideTheOtherKeysAndReadBack) {
    const fs::path path = settingsFileWith("stored.ini", "hv.outputDevice=Null\nhv.language=ru\n"
                                                         "hv.bufferSize=256\n");
    std::string error;
    ASSERT_TRUE(storeLanguagePreference(path, Language::English, error)) << error;
    EXPECT_EQ(languagePreference(path), Language::English);
    ASSERT_TRUE(storeLanguagePreference(path, std::nullopt, error)) << error;
    EXPECT_EQ(languagePreference(path), std::nullopt);
    std::ifstream file(path);
    const std::string content((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(content, "hv.outputDevice=Null\nhv.bufferSize=256\nhv.language=\n");
    const fs::path fresh = settingsFileWith("unused2", "").parent_path() / "new" / "settings.ini";
    ASSERT_TRUE(storeLanguagePreference(fresh, Language::Russian, error)) << error;
    EXPECT_EQ(languagePreference(fresh), Language::Russian);
}

TEST(LanguagePreference, overridesTheLocale) {
    const fs::path config = settingsFileWith("unused", "").parent_path() / "config";
    fs::create_directories(config / "Halvora");
    std::ofstream(config / "Halvora" / "settings.ini") << "hv.language=en\n";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("LANGUAGE", "ru", 1);
    EXPECT_EQ(chooseLanguage(), Language::English);
    std::ofstream(config / "Halvora" / "settings.ini") << "hv.language=\n";
    EXPECT_EQ(chooseLanguage(), Language::Russian);
    ::unsetenv("LANGUAGE");
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(UseLanguage, switchesTheCoreAndTheWindowCatalogueTogether) {
    int argc = 1;
    char name[] = "halvora-language-tests";
    char *argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    std::string error;

    ASSERT_TRUE(useLanguage(Language::Russian, error)) << error;
    EXPECT_EQ(translate("Track", "Audio %1"), "Аудио %1");
    EXPECT_EQ(QCoreApplication::translate("orvane::MainWindow", "File").toStdString(), "Файл");
    // Qt's own catalogue follows: a standard button of every dialog.
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "Отмена");

    ASSERT_TRUE(useLanguage(Language::English, error)) << error;
    EXPECT_EQ(translate("Track", "Audio %1"), "Audio %1");
    EXPECT_EQ(QCoreApplication::translate("orvane::MainWindow", "File").toStdString(), "File");
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "Cancel");
}

TEST(UseLanguage, givesEachLanguagesPluralFormForACount) {
    struct Case {
        Language language;
        int count;
        const char *expected;
    };
    const Case cases[] = {
        {Language::English, 1, "MIDI file imported (1 track)"},
        {Language::English, 2, "MIDI file imported (2 tracks)"},
        {Language::English, 21, "MIDI file imported (21 tracks)"},
        {Language::Russian, 1, "MIDI-файл импортирован (1 дорожка)"},
        {Language::Russian, 3, "MIDI-файл импортирован (3 дорожки)"},
        {Language::Russian, 5, "MIDI-файл импортирован (5 дорожек)"},
        {Language::Russian, 11, "MIDI-файл импортирован (11 дорожек)"},
        {Language::Russian, 21, "MIDI-файл импортирован (21 дорожка)"},
        {Language::Russian, 0, "MIDI-файл импортирован (0 дорожек)"},
    };
    std::string error;
    for (const Case &c : cases) {
        ASSERT_TRUE(useLanguage(c.language, error)) << error;
        EXPECT_EQ(translate("OVMainView", "MIDI file imported (%n track(s))", nullptr, c.count),
                  c.expected);
    }
    // The English catalogue holds nothing but plural forms: other texts keep their source.
    ASSERT_TRUE(useLanguage(Language::English, error)) << error;
    EXPECT_EQ(translate("OVMainView", "Project saved"), "Project saved");
}

} // namespace
} // namespace orvane
