#include "app/window/WindowModule.h"

#include "app/window/MainWindow.h"
#include "translations/Language.h"

#include <cstdio>
#include <string>

#define HALVORA_MODULE_ENTRY __attribute__((visibility("default")))

extern "C" HALVORA_MODULE_ENTRY int halvoraRunWindow(int argc, char **argv) {
    return orvane::runWindow(argc, argv);
}

extern "C" HALVORA_MODULE_ENTRY orvane::TranslationLookup
halvoraUserLanguageLookup(char *error, std::size_t errorSize) {
    std::string reason;
    if (orvane::useLanguage(orvane::chooseLanguage(), reason))
        return orvane::installedTranslationLookup();
    if (errorSize > 0) std::snprintf(error, errorSize, "%s", reason.c_str());
    return nullptr;
}
