#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace orvane {

// State the application keeps outside any project: whether the last run ended cleanly, the
// autosave copy, privacy choices, the test environment file and four append-only logs. Every
// function may be called from any thread; each log serialises on its own mutex. File work is
// best effort: what cannot be opened is skipped and readers fall back to the defaults.

/// "$XDG_DATA_HOME/Halvora", else "~/.local/share/Halvora"; created on demand.
std::filesystem::path halvoraSupportDir();
/// "$XDG_STATE_HOME/Halvora/logs", else "~/.local/state/Halvora/logs".
std::filesystem::path halvoraLogDir();

std::filesystem::path sessionMetaPath();
std::filesystem::path autosaveBundlePath();
std::filesystem::path privacyPreferencesPath();
std::filesystem::path betaEnvironmentPath();
std::filesystem::path telemetryQueuePath();
std::filesystem::path breadcrumbLogPath();
std::filesystem::path betaSessionLogPath();
std::filesystem::path betaFeedbackLogPath();

/// What Help ▸ Debug shows: where the logs are, and how many plug-ins the compatibility
/// report of `Halvora probe-plugins` holds (0 before the first probe).
std::string diagnosticsText();

struct SessionMeta {
    bool cleanShutdown = true;
    int64_t lastAutosave = 0; // Unix seconds
    /// When the session that wrote the file started (Unix seconds). An autosave older than
    /// this belongs to an earlier session and is never offered for recovery.
    int64_t sessionStart = 0;
    std::string projectName;
};

void writeSessionMeta(const SessionMeta &meta);
SessionMeta readSessionMeta();

/// True when the autosave bundle holds a "project.json".
bool recoverySnapshotExists();
/// Seconds since the epoch of the autosave's "project.json"; 0 when there is none.
int64_t recoverySnapshotTime();
/// Removes the autosave bundle, so that it can never be offered for another session.
void removeRecoverySnapshot();
/// Moves the autosave bundle aside in its folder, out of the way of the next autosave and of
/// the removal at quit; the new path, or empty when it could not be moved.
std::filesystem::path setAsideRecoverySnapshot();

struct PrivacyPreferences {
    bool telemetry = false;
    bool crashReports = true;
};

PrivacyPreferences readPrivacyPreferences();
void writePrivacyPreferences(const PrivacyPreferences &prefs);

/// The remote-control port: off until the user turns it on, and then on this machine's
/// loopback address only unless the network is allowed.
struct RemotePreferences {
    static constexpr int32_t defaultPort = 9100;
    bool enabled = false;
    int32_t port = defaultPort;
    bool allowNetwork = false;
};

std::filesystem::path remotePreferencesPath();
/// A missing or damaged file, or a port out of range, reads as the defaults.
RemotePreferences readRemotePreferences();
void writeRemotePreferences(const RemotePreferences &prefs);

/// Sets the variables of "beta.env" that the environment does not define yet.
void loadBetaEnvironmentFile();

void installCrashLogging();
void logBreadcrumb(const std::string &text);

void betaSessionLog(const std::string &level, const std::string &category,
                    const std::string &message);
std::string betaSessionLogTail(std::size_t maxBytes);
void betaSessionLogFeedback(const std::string &text, const std::string &tester);

void recordTelemetryEvent(const std::string &event, const std::string &payload);

/// `text` with every byte below 0x20, every backslash and every double quote replaced by a
/// space, so that it sits inside a JSON string on one line.
std::string logSafeText(std::string text);

int64_t unixTimeNow();

} // namespace orvane
