#include "LayerImage.h"
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

const char ProviderEntry[] = "WSPStartup";
const size_t MaxLayerFileSize = 64 * 1024 * 1024;

// Reads T at offset when it lies wholly inside the image.
template <typename T> bool ReadAt(const BYTE* image, size_t length, size_t offset, T& value)
{
    if (offset > length || length - offset < sizeof(T))
        return false;
    memcpy(&value, image + offset, sizeof(T));
    return true;
}

// The file offset of an address relative to the image's base, through its section table.
bool OffsetOf(const BYTE* image, size_t length, size_t sections, WORD count, DWORD rva, size_t& offset)
{
    for (WORD i = 0; i < count; i++) {
        IMAGE_SECTION_HEADER section;
        if (!ReadAt(image, length, sections + i * sizeof section, section))
            return false;
        DWORD size = section.Misc.VirtualSize ? section.Misc.VirtualSize : section.SizeOfRawData;
        if (rva >= section.VirtualAddress && rva - section.VirtualAddress < size) {
            offset = size_t(section.PointerToRawData) + (rva - section.VirtualAddress);
            return offset < length;
        }
    }
    return false;
}

} // namespace

const char* LayerImageProblem(const BYTE* image, size_t length, WORD machine)
{
    IMAGE_DOS_HEADER dos;
    if (!ReadAt(image, length, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return "is not a Windows program file";
    size_t nt = size_t(dos.e_lfanew);
    DWORD signature;
    IMAGE_FILE_HEADER file;
    if (!ReadAt(image, length, nt, signature) || signature != IMAGE_NT_SIGNATURE ||
        !ReadAt(image, length, nt + sizeof signature, file))
        return "is not a Windows program file";
    if (file.Machine != machine)
        return machine == IMAGE_FILE_MACHINE_I386 ? "is not a 32-bit x86 DLL" : "is not a 64-bit x64 DLL";
    if (!(file.Characteristics & IMAGE_FILE_DLL))
        return "is not a DLL";
    // The export directory sits at the same place in both optional header layouts' data
    // directories, which follow a header of a size the file header gives.
    size_t optional = nt + sizeof signature + sizeof file;
    size_t directories = optional + (machine == IMAGE_FILE_MACHINE_I386
                                         ? offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory)
                                         : offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory));
    IMAGE_DATA_DIRECTORY exportsEntry;
    size_t sections = optional + file.SizeOfOptionalHeader;
    size_t exportsAt = 0;
    IMAGE_EXPORT_DIRECTORY exports;
    if (!ReadAt(image, length, directories, exportsEntry) || exportsEntry.VirtualAddress == 0 ||
        !OffsetOf(image, length, sections, file.NumberOfSections, exportsEntry.VirtualAddress, exportsAt) ||
        !ReadAt(image, length, exportsAt, exports))
        return "exports nothing";
    size_t names = 0;
    if (exports.NumberOfNames > 0 &&
        !OffsetOf(image, length, sections, file.NumberOfSections, exports.AddressOfNames, names))
        return "has a damaged export table";
    for (DWORD i = 0; i < exports.NumberOfNames; i++) {
        DWORD nameRva;
        size_t name = 0;
        if (!ReadAt(image, length, names + i * sizeof nameRva, nameRva) ||
            !OffsetOf(image, length, sections, file.NumberOfSections, nameRva, name))
            return "has a damaged export table";
        if (length - name >= sizeof ProviderEntry &&
            memcmp(image + name, ProviderEntry, sizeof ProviderEntry) == 0)
            return nullptr;
    }
    return "does not export WSPStartup";
}

std::string LayerFileProblem(const char* path, WORD machine)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND
                   ? LayerFileMissing : "cannot be read";
    LARGE_INTEGER size;
    std::vector<BYTE> image;
    DWORD read = 0;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 &&
              size_t(size.QuadPart) <= MaxLayerFileSize;
    if (ok) {
        image.resize(size_t(size.QuadPart));
        ok = ReadFile(file, image.data(), DWORD(image.size()), &read, nullptr) && read == image.size();
    }
    CloseHandle(file);
    if (!ok)
        return "cannot be read";
    const char* problem = LayerImageProblem(image.data(), image.size(), machine);
    return problem ? problem : "";
}
