#pragma once

#include "app/net/HttpClient.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

/// The upload's request limit: 15 s for the request (the caller waits no longer).
NetworkLimits telemetryUploadLimits();

/// `{"version":"…","machine":"…","events":[<line>,…]}` with the queued lines inserted as
/// they are stored.
std::string telemetryUploadBody(const std::string &version, const std::string &machine,
                                const std::vector<std::string> &events);

/// Sends the queued telemetry events to "HALVORA_TELEMETRY_URL" when the user allowed
/// telemetry, and empties the queue only after the server accepted them (status 2xx).
/// Returns the number of events sent, 0 on any failure. Blocks for at most the limits: call
/// it off the main thread. Events queued while the upload ran stay queued.
int32_t uploadTelemetryQueue(const std::string &version, const std::string &machine,
                             const NetworkLimits &limits = telemetryUploadLimits());
/// The same against an endpoint already read from the environment.
int32_t uploadTelemetryQueueTo(const std::string &endpoint, const std::string &version,
                               const std::string &machine,
                               const NetworkLimits &limits = telemetryUploadLimits());

/// A stable identifier of this machine that does not reveal the machine id itself: a hash of
/// "/etc/machine-id" (else of the host name).
std::string telemetryMachineIdentifier();

} // namespace orvane
