#include <cstdio>

// The sandbox server arrives with plug-in hosting; until then the helper refuses to start
// rather than accept a connection it cannot serve.
int main(int argc, char** argv) {
    std::fprintf(stderr, "usage: %s SOCKET_PATH\n", argc > 0 ? argv[0] : "HalvoraVstHelper");
    std::fprintf(stderr, "HalvoraVstHelper: plug-in hosting is not available in this build\n");
    return 1;
}
