#include "app/shell/SessionState.h"

#include "core/model/Translate.h"
#include "core/plugins/CompatibilityProbe.h"
#include "core/plugins/vst3/PluginScanner.h"
#include "core/project_io/DurableFile.h"
#include "device/DeviceSettings.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane {

namespace fs = std::filesystem;

namespace {

constexpr const char *programVersion = "1.0.0";

std::string environmentValue(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

/// "$VARIABLE/Halvora", else the home folder's fallback below it.
fs::path xdgFolder(const char *variable, const char *homeRelative) {
    const std::string base = environmentValue(variable);
    if (!base.empty() && fs::path(base).is_absolute()) return fs::path(base) / "Halvora";
    const fs::path home = userHomeFolder();
    if (home.empty()) return {};
    return home / homeRelative / "Halvora";
}

void createFolder(const fs::path &folder) {
    std::error_code ignored;
    if (!folder.empty()) fs::create_directories(folder, ignored);
}

void appendLine(const fs::path &path, const std::string &line) {
    if (path.empty()) return;
    createFolder(path.parent_path());
    std::ofstream out(path, std::ios::app | std::ios::binary);
    if (out) out << line << '\n';
}

std::string quotedField(const std::string &text) { return "\"" + text + "\""; }

std::string logRecord(const std::string &level, const std::string &category,
                      const std::string &message) {
    return "{\"t\":" + std::to_string(unixTimeNow()) + ",\"lvl\":" + quotedField(level) +
           ",\"cat\":" + quotedField(logSafeText(category)) +
           ",\"msg\":" + quotedField(logSafeText(message)) + "}";
}

bool contains(const std::string &line, const char *text) {
    return line.find(text) != std::string::npos;
}

/// The integer after the first colon of `line`; `fallback` when there are no digits.
int64_t integerAfterColon(const std::string &line, int64_t fallback) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) return fallback;
    const char *start = line.c_str() + colon + 1;
    char *end = nullptr;
    const long long value = std::strtoll(start, &end, 10);
    return end == start ? fallback : static_cast<int64_t>(value);
}

/// The text between the first and second double quote after the first colon of `line`.
std::string quotedAfterColon(const std::string &line) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) return {};
    const auto open = line.find('"', colon);
    if (open == std::string::npos) return {};
    const auto close = line.find('"', open + 1);
    if (close == std::string::npos) return {};
    return line.substr(open + 1, close - open - 1);
}

const char *boolText(bool value) { return value ? "true" : "false"; }

/// The files of the support folder are a few lines each; anything larger is not ours.
constexpr off_t largestSupportFile = 64 * 1024;

/// The lines of a small regular file of the support folder; none when it is missing, is not a
/// regular file (a FIFO would block the start, a device never end) or is larger than ours are.
std::vector<std::string> supportFileLines(const fs::path &path) {
    std::vector<std::string> lines;
    if (path.empty()) return lines;
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return lines;
    struct stat status {};
    std::string text;
    if (::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_size <= largestSupportFile) {
        char block[4096];
        ssize_t got = 0;
        while (text.size() <= static_cast<std::size_t>(largestSupportFile) &&
               (got = ::read(descriptor, block, sizeof block)) != 0) {
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            text.append(block, static_cast<std::size_t>(got));
        }
    }
    ::close(descriptor);
    if (text.size() > static_cast<std::size_t>(largestSupportFile)) return lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

/// A crash while writing must not leave half a file: the next start reads these. A file that
/// cannot be written keeps its earlier contents, and the log says which one it was.
void replaceSmallFile(const fs::path &path, const std::string &text) {
    if (!path.empty() && !project_io::writeFileDurably(path, text))
        logBreadcrumb("could not write " + path.string());
}

/// The stored name stays on its line and inside its quotes.
std::string withUnderscores(std::string name) {
    for (char &c : name)
        if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
    return name;
}

std::string trimmed(const std::string &text, bool front, bool back) {
    std::size_t begin = 0, end = text.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    if (front)
        while (begin < end && blank(text[begin]))
            ++begin;
    if (back)
        while (end > begin && blank(text[end - 1]))
            --end;
    return text.substr(begin, end - begin);
}

void applyEnvironmentLine(const std::string &raw) {
    const std::string line = trimmed(raw, true, true);
    if (line.empty() || line.front() == '#') return;
    const auto equals = line.find('=');
    if (equals == std::string::npos) return;
    const std::string name = trimmed(line.substr(0, equals), false, true);
    std::string value = trimmed(line.substr(equals + 1), true, false);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    if (name.empty() || value.empty() || std::getenv(name.c_str())) return;
    ::setenv(name.c_str(), value.c_str(), 0);
}

} // namespace

fs::path halvoraSupportDir() {
    const fs::path folder = xdgFolder("XDG_DATA_HOME", ".local/share");
    createFolder(folder);
    return folder;
}

fs::path halvoraLogDir() {
    const fs::path state = xdgFolder("XDG_STATE_HOME", ".local/state");
    return state.empty() ? state : state / "logs";
}

namespace {
fs::path inSupportDir(const char *name) {
    const fs::path folder = halvoraSupportDir();
    return folder.empty() ? folder : folder / name;
}
fs::path inLogDir(const char *name) {
    const fs::path folder = halvoraLogDir();
    return folder.empty() ? folder : folder / name;
}
} // namespace

fs::path sessionMetaPath() { return inSupportDir("session.json"); }
fs::path autosaveBundlePath() {
    const fs::path folder = inSupportDir("Autosave");
    return folder.empty() ? folder : folder / "recovery.halvora";
}
fs::path privacyPreferencesPath() { return inSupportDir("privacy.json"); }
fs::path betaEnvironmentPath() { return inSupportDir("beta.env"); }
fs::path telemetryQueuePath() { return inSupportDir("telemetry.jsonl"); }
fs::path breadcrumbLogPath() { return inLogDir("session.log"); }
fs::path betaSessionLogPath() { return inLogDir("beta_session.jsonl"); }
fs::path betaFeedbackLogPath() { return inLogDir("beta_feedback.jsonl"); }

int64_t unixTimeNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

namespace {

/// The length of the well-formed UTF-8 sequence at `at`, 0 when it is not one.
std::size_t utf8SequenceAt(const std::string &text, std::size_t at) {
    const auto byte = [&text](std::size_t index) {
        return static_cast<unsigned char>(text[index]);
    };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t index = 2; index < length; ++index)
        if (byte(at + index) < 0x80 || byte(at + index) > 0xBF) return 0;
    return length;
}

} // namespace

std::string logSafeText(std::string text) {
    // A log line is one JSON string: control bytes, quotes and backslashes become spaces and
    // bytes that are not UTF-8 become "?", so that every line parses.
    std::string safe;
    safe.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8SequenceAt(text, at);
        if (length == 0) {
            safe += '?';
            ++at;
            continue;
        }
        const char c = text[at];
        if (length == 1 && (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\'))
            safe += ' ';
        else
            safe.append(text, at, length);
        at += length;
    }
    return safe;
}

std::string diagnosticsText() {
    const std::string report = vst::defaultVstCompatPath();
    const std::size_t entries = vst::loadCompatibilityReport(report).size();
    return withArguments(translate("Diagnostics",
                                   "Logs: %1\n"
                                   "Entries in the plug-in compatibility report: %2\n"
                                   "Report: %3"),
                         {halvoraLogDir().string(), std::to_string(entries), report});
}

void writeSessionMeta(const SessionMeta &meta) {
    replaceSmallFile(sessionMetaPath(),
                     std::string("{\n") + "  \"cleanShutdown\": " + boolText(meta.cleanShutdown) +
                         ",\n" + "  \"lastAutosave\": " + std::to_string(meta.lastAutosave) +
                         ",\n" + "  \"sessionStart\": " + std::to_string(meta.sessionStart) +
                         ",\n" + "  \"projectName\": \"" + withUnderscores(meta.projectName) +
                         "\"\n}\n");
}

SessionMeta readSessionMeta() {
    SessionMeta meta;
    for (const std::string &line : supportFileLines(sessionMetaPath())) {
        if (contains(line, "\"cleanShutdown\": false") || contains(line, "\"cleanShutdown\":false"))
            meta.cleanShutdown = false;
        if (contains(line, "\"lastAutosave\":"))
            meta.lastAutosave = integerAfterColon(line, meta.lastAutosave);
        if (contains(line, "\"sessionStart\":"))
            meta.sessionStart = integerAfterColon(line, meta.sessionStart);
        if (contains(line, "\"projectName\":")) meta.projectName = quotedAfterColon(line);
    }
    return meta;
}

bool recoverySnapshotExists() {
    const fs::path bundle = autosaveBundlePath();
    std::error_code error;
    return !bundle.empty() && fs::is_regular_file(bundle / "project.json", error);
}

int64_t recoverySnapshotTime() {
    if (!recoverySnapshotExists()) return 0;
    struct stat status {};
    if (::stat((autosaveBundlePath() / "project.json").c_str(), &status) != 0) return 0;
    return static_cast<int64_t>(status.st_mtime);
}

fs::path setAsideRecoverySnapshot() {
    const fs::path bundle = autosaveBundlePath();
    if (bundle.empty()) return {};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path aside =
            bundle.parent_path() / ("recovery-unopened-" + std::to_string(unixTimeNow()) +
                                    (attempt ? "-" + std::to_string(attempt) : "") + ".halvora");
        // A rename never replaces a folder that has entries, so an earlier copy stays too.
        if (::rename(bundle.c_str(), aside.c_str()) == 0) return aside;
        if (errno != EEXIST && errno != ENOTEMPTY) return {};
    }
    return {};
}

void removeRecoverySnapshot() {
    const fs::path bundle = autosaveBundlePath();
    std::error_code ignored;
    if (!bundle.empty()) fs::remove_all(bundle, ignored);
}

PrivacyPreferences readPrivacyPreferences() {
    PrivacyPreferences prefs;
    for (const std::string &line : supportFileLines(privacyPreferencesPath())) {
        if (contains(line, "\"telemetry\": true") || contains(line, "\"telemetry\":true"))
            prefs.telemetry = true;
        if (contains(line, "\"crashReports\": false") || contains(line, "\"crashReports\":false"))
            prefs.crashReports = false;
    }
    return prefs;
}

void writePrivacyPreferences(const PrivacyPreferences &prefs) {
    replaceSmallFile(privacyPreferencesPath(),
                     std::string("{\n") + "  \"telemetry\": " + boolText(prefs.telemetry) + ",\n" +
                         "  \"crashReports\": " + boolText(prefs.crashReports) + "\n}\n");
}

fs::path remotePreferencesPath() { return inSupportDir("remote-control.json"); }

RemotePreferences readRemotePreferences() {
    RemotePreferences prefs;
    for (const std::string &line : supportFileLines(remotePreferencesPath())) {
        if (contains(line, "\"enabled\": true") || contains(line, "\"enabled\":true"))
            prefs.enabled = true;
        if (contains(line, "\"allowNetwork\": true") || contains(line, "\"allowNetwork\":true"))
            prefs.allowNetwork = true;
        const auto key = line.find("\"port\":");
        if (key == std::string::npos) continue;
        const std::string digits = line.substr(key + 7);
        char *end = nullptr;
        const long port = std::strtol(digits.c_str(), &end, 10);
        if (end != digits.c_str() && port >= 1 && port <= 65535)
            prefs.port = static_cast<int32_t>(port);
    }
    return prefs;
}

void writeRemotePreferences(const RemotePreferences &prefs) {
    replaceSmallFile(remotePreferencesPath(),
                     std::string("{\n") + "  \"enabled\": " + boolText(prefs.enabled) + ",\n" +
                         "  \"port\": " + std::to_string(prefs.port) + ",\n" +
                         "  \"allowNetwork\": " + boolText(prefs.allowNetwork) + "\n}\n");
}

void loadBetaEnvironmentFile() {
    for (const std::string &line : supportFileLines(betaEnvironmentPath()))
        applyEnvironmentLine(line);
}

namespace {
bool crashLoggingOn() { return readPrivacyPreferences().crashReports && !userHomeFolder().empty(); }
} // namespace

void installCrashLogging() {
    if (!crashLoggingOn()) return;
    logBreadcrumb("session_start " + std::to_string(unixTimeNow()) + " version=" + programVersion);
}

void logBreadcrumb(const std::string &text) {
    if (!crashLoggingOn()) return;
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    appendLine(breadcrumbLogPath(), logSafeText(text));
}

void betaSessionLog(const std::string &level, const std::string &category,
                    const std::string &message) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    appendLine(betaSessionLogPath(), logRecord(level, category, message));
}

std::string betaSessionLogTail(std::size_t maxBytes) {
    std::ifstream in(betaSessionLogPath(), std::ios::binary | std::ios::ate);
    if (!in) return {};
    const auto size = static_cast<std::size_t>(in.tellg());
    const std::size_t start = size > maxBytes ? size - maxBytes : 0;
    std::string tail(size - start, '\0');
    in.seekg(static_cast<std::streamoff>(start));
    in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    if (start > 0) {
        const auto newline = tail.find('\n');
        tail = newline == std::string::npos ? std::string() : tail.substr(newline + 1);
    }
    return tail;
}

void betaSessionLogFeedback(const std::string &text, const std::string &tester) {
    const std::string safeText = logSafeText(text);
    betaSessionLog("feedback", "tester", safeText);
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    appendLine(betaFeedbackLogPath(), "{\"t\":" + std::to_string(unixTimeNow()) +
                                          ",\"tester\":" + quotedField(logSafeText(tester)) +
                                          ",\"text\":" + quotedField(safeText) + "}");
}

void recordTelemetryEvent(const std::string &event, const std::string &payload) {
    if (!readPrivacyPreferences().telemetry) return;
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::string line =
        "{\"t\":" + std::to_string(unixTimeNow()) + ",\"e\":" + quotedField(logSafeText(event));
    if (!payload.empty()) line += ",\"p\":" + quotedField(logSafeText(payload));
    appendLine(telemetryQueuePath(), line + "}");
}

} // namespace orvane
