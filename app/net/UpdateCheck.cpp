#include "app/net/UpdateCheck.h"

#include "app/shell/ApplicationUi.h"
#include "app/shell/SessionState.h"
#include "core/model/Translate.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace orvane {

namespace {

constexpr const char *updateUrlVariable = "HALVORA_UPDATE_URL";

uint64_t leadingNumber(const std::string &piece) {
    constexpr uint64_t largest = std::numeric_limits<uint64_t>::max();
    uint64_t value = 0;
    for (const char c : piece) {
        if (c < '0' || c > '9') break;
        const auto digit = static_cast<uint64_t>(c - '0');
        value = value > (largest - digit) / 10 ? largest : value * 10 + digit;
    }
    return value;
}

std::vector<uint64_t> versionNumbers(const std::string &version) {
    std::vector<uint64_t> numbers;
    std::size_t begin = 0;
    while (true) {
        const std::size_t dot = version.find('.', begin);
        numbers.push_back(leadingNumber(version.substr(begin, dot - begin)));
        if (dot == std::string::npos) break;
        begin = dot + 1;
    }
    return numbers;
}

/// Checks the byte sequence against the UTF-8 encoding rules (shortest forms, no surrogates,
/// nothing above U+10FFFF).
bool isValidUtf8(const std::string &text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<std::size_t>(extra) >= text.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

/// What the server sent, without the control characters (C0, DEL, C1) that would drive a
/// terminal or garble the status line and the alert; the notes keep their line breaks.
std::string withoutControlCharacters(const std::string &text, bool keepLineBreaks) {
    std::string kept;
    kept.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n' && keepLineBreaks) {
            kept += '\n';
            continue;
        }
        if (byte < 0x20 || byte == 0x7F) continue;
        // U+0080..U+009F, valid UTF-8 already: C2 80..C2 9F.
        if (byte == 0xC2 && i + 1 < text.size() &&
            static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            ++i;
            continue;
        }
        kept += text[i];
    }
    return kept;
}

std::string environmentValue(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

} // namespace

std::string jsonStringField(const std::string &text, const std::string &key) {
    const std::string opening = "\"" + key + "\":\"";
    const std::size_t found = text.find(opening);
    if (found == std::string::npos) return {};
    const std::size_t begin = found + opening.size();
    const std::size_t end = text.find('"', begin);
    if (end == std::string::npos) return {};
    return text.substr(begin, end - begin);
}

bool isNewerVersion(const std::string &current, const std::string &candidate) {
    const auto installed = versionNumbers(current);
    const auto announced = versionNumbers(candidate);
    const std::size_t count = std::max(installed.size(), announced.size());
    for (std::size_t i = 0; i < count; ++i) {
        const uint64_t a = i < installed.size() ? installed[i] : 0;
        const uint64_t b = i < announced.size() ? announced[i] : 0;
        if (a != b) return b > a;
    }
    return false;
}

UpdateInfo checkForUpdates(const std::string &currentVersion, const NetworkLimits &limits) {
    return checkForUpdatesAt(environmentValue(updateUrlVariable), currentVersion, limits);
}

UpdateInfo checkForUpdatesAt(const std::string &endpoint, const std::string &currentVersion,
                             const NetworkLimits &limits) {
    UpdateInfo info;
    if (endpoint.empty()) {
        info.message = withArguments(
            translate("UpdateCheck",
                      "Automatic updates are not set up (HALVORA_UPDATE_URL). Current version: %1"),
            {currentVersion});
        return info;
    }
    if (!isHttpUrl(endpoint)) {
        info.message = translate("UpdateCheck", "Invalid HALVORA_UPDATE_URL.");
        return info;
    }
    const HttpResponse response = httpGet(endpoint, limits);
    if (!response.answered || response.body.empty()) {
        betaSessionLog("error", "network",
                       "update check failed: " +
                           (response.error.empty() ? std::string("no data") : response.error));
        info.message = translate("UpdateCheck", "Could not check for updates (network).");
        return info;
    }
    // An error page may still announce a version; only a successful answer is believed.
    if (response.status < 200 || response.status > 299) {
        betaSessionLog("error", "network",
                       "update check failed: status " + std::to_string(response.status));
        info.message = withArguments(
            translate("UpdateCheck", "The update server answered with status %1."),
            {std::to_string(response.status)});
        return info;
    }
    if (!isValidUtf8(response.body)) {
        info.message = translate("UpdateCheck", "Invalid answer from the update server.");
        return info;
    }
    info.version = withoutControlCharacters(jsonStringField(response.body, "version"), false);
    info.url = withoutControlCharacters(jsonStringField(response.body, "url"), false);
    info.notes = withoutControlCharacters(jsonStringField(response.body, "notes"), true);
    if (info.version.empty()) {
        info.message = translate("UpdateCheck", "The answer has no version field.");
        return info;
    }
    info.available = isNewerVersion(currentVersion, info.version);
    info.message =
        info.available
            ? withArguments(translate("UpdateCheck", "Version %1 is available"), {info.version})
            : withArguments(translate("UpdateCheck", "The installed version %1 is up to date"),
                            {currentVersion});
    return info;
}

UpdateCheckAction::UpdateCheckAction(ApplicationUi &ui, HVLoggingStatusField &status)
    : openDownload(&openUrlWithDesktop), ui(ui), status(status) {}

bool UpdateCheckAction::start(const std::string &currentVersion) {
    // The environment is read here, on the main thread: the worker never touches it.
    const std::string endpoint = environmentValue(updateUrlVariable);
    const std::string version = currentVersion.empty() ? "1.0.0" : currentVersion;
    const NetworkLimits copy = limits;
    return call.start(
        [endpoint, version, copy] { return checkForUpdatesAt(endpoint, version, copy); });
}

bool UpdateCheckAction::presentIfDone() {
    auto info = call.take();
    if (!info) return false;
    present(*info);
    return true;
}

void UpdateCheckAction::finish() {
    if (auto info = call.wait()) present(*info);
}

void UpdateCheckAction::present(const UpdateInfo &info) {
    status.setText(info.message);
    if (!info.available) {
        ui.runAlert(translate("UpdateCheck", "Halvora is up to date"), info.message,
                    {translate("UpdateCheck", "OK")});
        return;
    }
    std::string text = info.message;
    if (!info.notes.empty()) text += "\n\n" + info.notes;
    const int choice =
        ui.runAlert(translate("UpdateCheck", "Update available"), text,
                    {translate("UpdateCheck", "Download"), translate("UpdateCheck", "OK")});
    if (choice != 0) return;
    // The address comes from the server: only a web address is handed to the opener.
    if (isHttpUrl(info.url) && openDownload)
        openDownload(info.url);
    else
        betaSessionLog("error", "network", "update url refused: " + logSafeText(info.url));
}

void openUrlWithDesktop(const std::string &url) {
    if (!isHttpUrl(url)) return;
    const std::string program = "xdg-open";
    std::vector<char *> argv = {const_cast<char *>(program.c_str()),
                                const_cast<char *>(url.c_str()), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        betaSessionLog("error", "network", "xdg-open could not be started");
        return;
    }
    // The opener exits on its own; a detached waiter reaps it without holding up the caller.
    std::thread([child] {
        int ignored = 0;
        (void)::waitpid(child, &ignored, 0);
    }).detach();
}

} // namespace orvane
