// A 32-bit process reaches one catalog, its own: the layer goes there alone.
#include "Installer.h"

int InstallLayerEverywhere(const char* dllPath, const char* providerName, std::string*)
{
    return InstallLayer(dllPath, providerName);
}

int RemoveLayerEverywhere()
{
    return RemoveLayer();
}
