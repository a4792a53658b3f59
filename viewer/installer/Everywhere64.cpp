// A 64-bit process installs the layer in both catalogs when the 32-bit layer lies beside it in
// the x86 folder, and in the native catalog alone when it does not.
#include "Installer.h"
#include "BothCatalogs.h"
#include "LayerImage.h"

namespace {

const char Wow32Folder[] = "x86\\";
const char NotTracedPrefix[] = "32-bit programs are not traced: ";

// dllPath's folder, then the x86 folder, then dllPath's file name.
std::string Wow32LayerPath(const std::string& dllPath)
{
    size_t name = dllPath.find_last_of("\\/") + 1;
    return dllPath.substr(0, name) + Wow32Folder + dllPath.substr(name);
}

// The path as the user knows it: from the x86 folder on.
std::string ShortName(const std::string& path32)
{
    size_t folder = path32.rfind(Wow32Folder);
    return folder == std::string::npos ? path32 : path32.substr(folder);
}

}  // namespace

int InstallLayerEverywhere(const char* dllPath, const char* providerName, std::string* note)
{
    if (!dllPath)
        return -1;
    std::string path32 = Wow32LayerPath(dllPath);
    std::string problem = LayerFileProblem(path32.c_str(), IMAGE_FILE_MACHINE_I386);
    if (problem == LayerFileMissing) {
        if (note)
            *note = NotTracedPrefix + ShortName(path32) + " " + problem;
        if (ClearWow32Leftovers() != 0)
            return -1;
        return InstallLayer(dllPath, providerName);
    }
    if (!problem.empty()) {
        if (note)
            *note = ShortName(path32) + " " + problem;
        return -1;
    }
    return InstallLayerInBothCatalogs(dllPath, path32.c_str(), providerName);
}

int RemoveLayerEverywhere()
{
    return RemoveLayerFromBothCatalogs();
}
