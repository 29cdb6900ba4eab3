#include "helper/HelperServer.h"

#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// Copied once at start-up, so the termination handler reaches it without allocating.
char socketPathForSignal[108];

// Termination by the application (or its death) still removes the socket file.
void removeSocketAndExit(int signalNumber) {
    unlink(socketPathForSignal);
    _exit(128 + signalNumber);
}

} // namespace

int main(int argc, char **argv) {
    using namespace orvane::vst;
    if (argc < 2) return helperUsage;
    std::strncpy(socketPathForSignal, argv[1], sizeof socketPathForSignal - 1);
    std::signal(SIGTERM, removeSocketAndExit);
    // A helper whose application has gone has nobody to serve.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // A reply written to a closed connection must end only that connection.
    std::signal(SIGPIPE, SIG_IGN);
    HelperServer server(argv[1]);
    HelperExitStatus status = server.listen();
    if (status != helperQuit) return status;
    server.serve();
    return helperQuit;
}
