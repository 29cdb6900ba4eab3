#include "core/model/Translate.h"

#include <atomic>
#include <vector>

namespace orvane {

namespace {

std::atomic<TranslationLookup> installedLookup{nullptr};

} // namespace

void installTranslationLookup(TranslationLookup lookup) {
    installedLookup.store(lookup, std::memory_order_release);
}

TranslationLookup installedTranslationLookup() {
    return installedLookup.load(std::memory_order_acquire);
}

std::string translate(const char *context, const char *sourceText) {
    if (const TranslationLookup lookup = installedLookup.load(std::memory_order_acquire)) {
        std::string translated = lookup(context, sourceText, -1);
        if (!translated.empty()) return translated;
    }
    return sourceText;
}

std::string translate(const char *context, const char *sourceText, const char * /*disambiguation*/,
                      int count) {
    std::string text = sourceText;
    if (const TranslationLookup lookup = installedLookup.load(std::memory_order_acquire)) {
        std::string translated = lookup(context, sourceText, count);
        if (!translated.empty()) text = std::move(translated);
    }
    const std::string number = std::to_string(count);
    for (auto at = text.find("%n"); at != std::string::npos;
         at = text.find("%n", at + number.size()))
        text.replace(at, 2, number);
    return text;
}

std::string withArguments(std::string_view pattern,
                          std::initializer_list<std::string_view> arguments) {
    const std::vector<std::string_view> values(arguments);
    std::string text;
    text.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool marker = pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' &&
                            pattern[i + 1] <= '9';
        const std::size_t index = marker ? static_cast<std::size_t>(pattern[i + 1] - '1') : 0;
        if (marker && index < values.size()) {
            text += values[index];
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

} // namespace orvane
