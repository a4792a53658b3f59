// wscatalog: lists the Winsock catalog of the prefix and installs or removes layered providers.
//   wscatalog list
//   wscatalog install DLLPATH GUID NAME
//   wscatalog remove GUID
//   wscatalog install-test-layer | remove-test-layer
//   wscatalog reset        (forget the stored catalog; the next use seeds it afresh)
// Exits 0 on success, else 1 with one line that says why.
#include "EntryLine.h"
#include "LayerInstallation.h"
#include "WinsockLayerIds.h"
#include "dropin/CatalogLocation.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: wscatalog list | install DLLPATH GUID NAME | remove GUID | install-test-layer | "
    "remove-test-layer | reset";
constexpr const wchar_t* testLayerPath = L"%WS2LAYER_HOME%\\passlayer.dll";
constexpr const wchar_t* testLayerName = L"Pass-through layer";

std::wstring Wide(const char* text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
    if (length > 1)
        MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    return wide;
}

std::string List(char**)
{
    DWORD length = 0;
    int error = 0;
    if (WSCEnumProtocols(nullptr, nullptr, &length, &error) == SOCKET_ERROR && error != WSAENOBUFS)
        return error == WSANO_RECOVERY
                   ? "the stored catalog is damaged (wscatalog reset seeds a new one)"
                   : "reading the catalog failed with Winsock error " + std::to_string(error);
    std::vector<WSAPROTOCOL_INFOW> entries(length / sizeof(WSAPROTOCOL_INFOW));
    int count = WSCEnumProtocols(nullptr, entries.data(), &length, &error);
    if (count == SOCKET_ERROR)
        return "reading the catalog failed with Winsock error " + std::to_string(error);
    for (int i = 0; i < count; ++i) {
        wchar_t path[MAX_PATH] = L"";
        int pathLength = MAX_PATH;
        WSCGetProviderPath(&entries[i].ProviderId, path, &pathLength, &error);
        printf("%s\n", EntryLine(entries[i], path).c_str());
    }
    return "";
}

std::string Install(char** arguments)
{
    GUID layerId;
    if (!ParseGuid(arguments[1], &layerId))
        return std::string("not a GUID: ") + arguments[1];
    return InstallLayeredProvider(layerId, Wide(arguments[0]), Wide(arguments[2]), false);
}

std::string Remove(char** arguments)
{
    GUID layerId;
    if (!ParseGuid(arguments[0], &layerId))
        return std::string("not a GUID: ") + arguments[0];
    return RemoveLayeredProvider(layerId);
}

std::string InstallTestLayer(char**)
{
    // The pass-through layer hands out the lower provider's own handles, so its chains stay IFS.
    return InstallLayeredProvider(PassLayerProviderId, testLayerPath, testLayerName, true);
}

std::string RemoveTestLayer(char**)
{
    return RemoveLayeredProvider(PassLayerProviderId);
}

std::string Reset(char**)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, catalogKeyName, 0, KEY_SET_VALUE, &key) != 0)
        return "";
    LONG status = RegDeleteValueW(key, catalogValueName);
    RegCloseKey(key);
    return status == 0 || status == ERROR_FILE_NOT_FOUND ? "" : "the stored catalog could not be removed";
}

struct Command {
    const char* name;
    int argumentCount;
    std::string (*run)(char** arguments);
};

const Command commands[] = {
    {"list", 0, List},
    {"install", 3, Install},
    {"remove", 1, Remove},
    {"install-test-layer", 0, InstallTestLayer},
    {"remove-test-layer", 0, RemoveTestLayer},
    {"reset", 0, Reset},
};

} // namespace

int main(int argc, char** argv)
{
    for (const Command& command : commands) {
        if (argc < 2 || strcmp(argv[1], command.name) != 0)
            continue;
        if (argc - 2 != command.argumentCount)
            break;
        std::string failure = command.run(argv + 2);
        if (failure.empty())
            return 0;
        fprintf(stderr, "wscatalog %s: %s\n", command.name, failure.c_str());
        return 1;
    }
    fprintf(stderr, "%s\n", usage);
    return 2;
}
