#include "app/remote/NsmClient.h"

#include <cstdlib>

#include <unistd.h>

namespace orvane::remote {

std::optional<std::string> NsmClient::urlFromEnvironment() {
    const char *url = std::getenv("NSM_URL");
    if (!url || !*url) return std::nullopt;
    return std::string(url);
}

bool NsmClient::start(const std::string &url, const std::string &applicationName,
                      const std::string &executable, std::string &error) {
    const auto address = Endpoint::fromUrl(url, error);
    if (!address) return false;
    serverAddress = *address;
    // The server answers the address the announce came from; any interface may be the one
    // that reaches it.
    const bool v6 = address->address.ss_family == AF_INET6;
    if (!socket.open(v6 ? "::" : "0.0.0.0", 0, error)) return false;
    if (!socket.send(serverAddress, "/nsm/server/announce",
                     {OscValue::ofString(applicationName), OscValue::ofString(capabilities),
                      OscValue::ofString(executable), OscValue::ofInt(apiMajor),
                      OscValue::ofInt(apiMinor),
                      OscValue::ofInt(static_cast<int32_t>(::getpid()))})) {
        error = "cannot reach the session manager at " + url;
        socket.close();
        return false;
    }
    return true;
}

void NsmClient::poll(const Handlers &handlers) {
    if (!socket.isOpen()) return;
    for (const OscMessage &message : socket.take())
        handle(message, handlers);
}

void NsmClient::handle(const OscMessage &message, const Handlers &handlers) {
    if (!message.sender.sameAs(serverAddress)) {
        ++ignoredMessages;
        return;
    }
    const std::string &path = message.path;
    const std::string &types = message.types;
    const auto &args = message.arguments;
    if (path == "/reply" && !types.empty() && types[0] == 's' &&
        args[0].text == "/nsm/server/announce") {
        acknowledged = true;
        refusal.clear();
        if (types.size() >= 3 && types[2] == 's') server = args[2].text;
        return;
    }
    if (path == "/error" && types.size() >= 3 && types.substr(0, 3) == "sis" &&
        args[0].text == "/nsm/server/announce") {
        acknowledged = false;
        refusal = args[2].text;
        return;
    }
    if (path == "/nsm/client/open" && types == "sss") {
        if (!handlers.open) return answer(path, {nsm_error::general, "cannot open"});
        if (args[0].text.empty() || args[0].text.front() != '/')
            return answer(path, {nsm_error::badProject, "not an absolute path"});
        const NsmOutcome outcome = handlers.open({args[0].text, args[1].text, args[2].text});
        if (outcome.code == 0) {
            opened = true;
            dirtyTold.reset(); // the new document's state is told afresh
        }
        return answer(path, outcome);
    }
    if (path == "/nsm/client/save" && types.empty()) {
        if (!opened) return answer(path, {nsm_error::noSessionOpen, "no session is open"});
        if (!handlers.save) return answer(path, {nsm_error::general, "cannot save"});
        return answer(path, handlers.save());
    }
    if (path == "/nsm/client/session_is_loaded" && types.empty()) return;
    ++ignoredMessages;
}

void NsmClient::answer(const std::string &path, const NsmOutcome &outcome) {
    if (outcome.code == 0)
        socket.send(serverAddress, "/reply",
                    {OscValue::ofString(path), OscValue::ofString(outcome.message)});
    else
        socket.send(serverAddress, "/error",
                    {OscValue::ofString(path), OscValue::ofInt(outcome.code),
                     OscValue::ofString(outcome.message)});
}

void NsmClient::reportDirty(bool dirty) {
    if (!socket.isOpen() || !opened || dirtyTold == dirty) return;
    if (socket.send(serverAddress, dirty ? "/nsm/client/is_dirty" : "/nsm/client/is_clean", {}))
        dirtyTold = dirty;
}

} // namespace orvane::remote
