#pragma once

#include <cstdint>
#include <string>

namespace orvane {

/// How long one request may take. The update check waits 12 s in all; the telemetry upload
/// gives the request 15 s.
struct NetworkLimits {
    int64_t connectMilliseconds = 10000;
    int64_t totalMilliseconds = 12000;
};

struct HttpResponse {
    /// A complete answer arrived (whatever its status).
    bool answered = false;
    int64_t status = 0;
    std::string body;
    /// Why no answer arrived.
    std::string error;
};

/// True for an absolute "http" or "https" URL with a host. Nothing else is ever fetched: a
/// configured "file:" or another scheme would read local files or reach other services.
bool isHttpUrl(const std::string &text);

/// Blocking; call it on a worker thread. Redirects are followed only to http and https.
/// Bodies above 1 MiB are cut off and reported as an error.
HttpResponse httpGet(const std::string &url, const NetworkLimits &limits);
HttpResponse httpPostJson(const std::string &url, const std::string &body,
                          const NetworkLimits &limits);

} // namespace orvane
