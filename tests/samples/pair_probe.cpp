// Stands in for either program of a pair started by run_pair. The role comes from the arguments
// run_pair passes (the server gets "--port 0"); what to do comes from PAIR_PROBE_SERVER or
// PAIR_PROBE_CLIENT: "ok", "exit:N" or "hang". An "ok" server writes port 4321 to the port file;
// an "ok" client succeeds only when it finds that port there, so both must get the same file.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr unsigned kProbePort = 4321;

const char* PortFile(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "--port-file") == 0)
            return argv[i + 1];
    }
    return nullptr;
}

int ActAsServer(const char* portFile) {
    FILE* file = portFile ? fopen(portFile, "w") : nullptr;
    if (!file)
        return 7;
    fprintf(file, "%u\n", kProbePort);
    fclose(file);
    return 0;
}

int ActAsClient(const char* portFile) {
    for (int tries = 0; portFile && tries < 250; ++tries, Sleep(20)) {
        FILE* file = fopen(portFile, "r");
        if (!file)
            continue;
        unsigned port = 0;
        int fields = fscanf(file, "%u", &port);
        fclose(file);
        if (fields == 1)
            return port == kProbePort ? 0 : 8;
    }
    return 9;
}

}  // namespace

int main(int argc, char** argv) {
    bool server = argc > 2 && strcmp(argv[1], "--port") == 0;
    const char* behaviour = getenv(server ? "PAIR_PROBE_SERVER" : "PAIR_PROBE_CLIENT");
    if (!behaviour || strcmp(behaviour, "ok") == 0)
        return server ? ActAsServer(PortFile(argc, argv)) : ActAsClient(PortFile(argc, argv));
    if (strncmp(behaviour, "exit:", 5) == 0)
        return atoi(behaviour + 5);
    if (strcmp(behaviour, "hang") == 0)
        Sleep(INFINITE);
    return 99;
}
