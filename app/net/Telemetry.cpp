#include "app/net/Telemetry.h"

#include "app/shell/SessionState.h"
#include "core/project_io/DurableFile.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace orvane {

namespace fs = std::filesystem;

namespace {

constexpr const char *telemetryUrlVariable = "HALVORA_TELEMETRY_URL";

std::string readWholeFile(const fs::path &path, bool &found) {
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    std::stringstream text;
    if (in) text << in.rdbuf();
    return text.str();
}

/// A line a crash cut short is not an event: sent inside the batch it would make the whole
/// body unreadable, and the server would refuse every later upload too.
bool looksLikeEvent(const std::string &line) {
    return line.size() >= 2 && line.front() == '{' && line.back() == '}';
}

std::vector<std::string> queuedEvents(const std::string &text) {
    std::vector<std::string> events;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (looksLikeEvent(line)) events.push_back(line);
    }
    return events;
}

/// Keeps whatever was appended after `sent` was read, so nothing queued during the upload
/// is lost.
void removeSentEvents(const fs::path &queue, const std::string &sent) {
    bool found = false;
    const std::string now = readWholeFile(queue, found);
    const std::string rest = now.size() >= sent.size() && now.compare(0, sent.size(), sent) == 0
                                 ? now.substr(sent.size())
                                 : std::string();
    // A queue that cannot be rewritten keeps the sent events too: they go again with the next
    // upload, which the collector takes twice rather than losing anything queued since.
    (void)project_io::writeFileDurably(queue, rest);
}

std::string hexHash(const std::string &text) {
    uint64_t hash = 1469598103934665603ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4)
        hex[static_cast<std::size_t>(i)] = digits[hash & 15];
    return hex;
}

} // namespace

NetworkLimits telemetryUploadLimits() { return NetworkLimits{15000, 15000}; }

std::string telemetryUploadBody(const std::string &version, const std::string &machine,
                                const std::vector<std::string> &events) {
    std::string body = "{\"version\":\"" + logSafeText(version) + "\",\"machine\":\"" +
                       logSafeText(machine) + "\",\"events\":[";
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (i > 0) body += ',';
        body += events[i];
    }
    return body + "]}";
}

int32_t uploadTelemetryQueue(const std::string &version, const std::string &machine,
                             const NetworkLimits &limits) {
    const char *endpoint = std::getenv(telemetryUrlVariable);
    return uploadTelemetryQueueTo(endpoint ? endpoint : "", version, machine, limits);
}

int32_t uploadTelemetryQueueTo(const std::string &endpoint, const std::string &version,
                               const std::string &machine, const NetworkLimits &limits) {
    if (!readPrivacyPreferences().telemetry || endpoint.empty()) return 0;
    if (!isHttpUrl(endpoint)) {
        betaSessionLog("error", "telemetry", "HALVORA_TELEMETRY_URL is not an http(s) URL");
        return 0;
    }
    const fs::path queue = telemetryQueuePath();
    bool found = false;
    const std::string stored = readWholeFile(queue, found);
    const std::vector<std::string> events = queuedEvents(stored);
    if (!found || events.empty()) return 0;
    const HttpResponse response =
        httpPostJson(endpoint, telemetryUploadBody(version, machine, events), limits);
    if (!response.answered || response.status < 200 || response.status > 299) {
        betaSessionLog("error", "telemetry",
                       "upload failed: " + (response.answered
                                                ? "status " + std::to_string(response.status)
                                                : response.error));
        return 0;
    }
    removeSentEvents(queue, stored);
    return static_cast<int32_t>(events.size());
}

std::string telemetryMachineIdentifier() {
    bool found = false;
    std::string source = readWholeFile("/etc/machine-id", found);
    if (source.empty()) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) == 0) source = host;
    }
    return "hv-" + hexHash("halvora:" + source);
}

} // namespace orvane
