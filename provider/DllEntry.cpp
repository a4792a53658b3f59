// The DLL entry point. A failure inside never refuses the load: the layer then simply traces
// nothing.
#include "ProcessLifetime.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        ProcessAttach(instance);
    else if (reason == DLL_PROCESS_DETACH)
        ProcessDetach(reserved);
    return TRUE;
}
