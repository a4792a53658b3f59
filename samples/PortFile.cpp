#include "PortFile.h"

#include "SampleSupport.h"

#include <stdio.h>
#include <stdlib.h>
#include <string>

void WritePortFile(const char* path, unsigned short port) {
    std::string partial = std::string(path) + ".partial";
    FILE* file = fopen(partial.c_str(), "w");
    Check(file != nullptr, "cannot create %s", partial.c_str());
    fprintf(file, "%u\n", port);
    Check(fclose(file) == 0, "cannot write %s", partial.c_str());
    Check(MoveFileExA(partial.c_str(), path, MOVEFILE_REPLACE_EXISTING) != 0,
          "cannot rename %s to %s (error %lu)", partial.c_str(), path, GetLastError());
}

unsigned short WaitForPortFile(const char* path, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (FILE* file = fopen(path, "r")) {
            unsigned port = 0;
            int fields = fscanf(file, "%u", &port);
            fclose(file);
            Check(fields == 1 && port > 0 && port < 65536, "%s holds no port number", path);
            return static_cast<unsigned short>(port);
        }
        Check(GetTickCount() - start < timeoutMs, "the server wrote no port to %s within %lu ms",
              path, timeoutMs);
        Sleep(20);
    }
}
