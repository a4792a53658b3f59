// Loads the layer DLL the way the Winsock layer would, so its attach and detach run in a fresh
// process. With --wait NAME it first waits for the named event, so that several can race.
#include <windows.h>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc >= 3 && strcmp(argv[1], "--wait") == 0) {
        HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
        if (!go || WaitForSingleObject(go, 30000) != WAIT_OBJECT_0)
            return 2;
    }
    HMODULE layer = LoadLibraryA("kestrixlayer.dll");
    if (!layer)
        return 1;
    // Detach runs at process exit, as for an application that never unloads the layer.
    return 0;
}
