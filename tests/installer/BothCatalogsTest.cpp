// The 64-bit installer in both catalogs of a 64-bit prefix: the 64-bit layer in the native
// catalog, the 32-bit layer from the x86 folder in the catalog of 32-bit processes.
#include "CatalogSnapshot.h"
#include "Catalog.h"
#include "Installer.h"
#include "LayerImage.h"
#include "LayerProviderId.h"
#include <gtest/gtest.h>
#include <rpc.h>
#include <sporder.h>
#include <string>

namespace {

// The layers as a user's folder holds them; the 32-bit one comes from the 32-bit build beside.
const char Thirty2BitLayer[] = "..\\x86\\bin\\kestrixlayer.dll";

struct Catalogs {
    std::vector<WSAPROTOCOL_INFOW> native, wow32;
};

std::vector<WSAPROTOCOL_INFOW> Read(EnumProtocolsFunction enumerate)
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalogWith(enumerate, &count);
    std::vector<WSAPROTOCOL_INFOW> entries;
    if (catalog) {
        entries.assign(catalog, catalog + count);
        FreeCatalog(catalog);
    }
    return entries;
}

Catalogs ReadBoth()
{
    return {Read(WSCEnumProtocols), Read(WSCEnumProtocols32)};
}

// Ids, chains and names, in order: what a program sees of a catalog.
std::string Describe(const std::vector<WSAPROTOCOL_INFOW>& entries)
{
    std::string text;
    for (const auto& entry : entries)
        text += DescribeEntry(entry) + "\n";
    return text;
}

const WSAPROTOCOL_INFOW* LayerEntry(const std::vector<WSAPROTOCOL_INFOW>& entries)
{
    for (const auto& entry : entries)
        if (IsEqualGUID(entry.ProviderId, LayerProviderId))
            return &entry;
    return nullptr;
}

std::wstring PathOf(bool wow32, GUID id)
{
    WCHAR path[MAX_PATH] = L"";
    int length = MAX_PATH;
    int error = 0;
    int result = wow32 ? WSCGetProviderPath32(&id, path, &length, &error)
                       : WSCGetProviderPath(&id, path, &length, &error);
    return result == 0 ? path : L"";
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

class BothCatalogs : public testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        folder = std::string(temp) + "kxboth" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(folder.c_str(), nullptr);
        CreateDirectoryA((folder + "x86").c_str(), nullptr);
        layer = folder + "KESTRIXLAYER.DLL";
        layer32 = folder + "x86\\KESTRIXLAYER.DLL";
        ASSERT_TRUE(CopyFileA("kestrixlayer.dll", layer.c_str(), FALSE));
        before = ReadBoth();
        ASSERT_EQ(LayerEntry(before.native), nullptr) << "the layer is installed already";
        ASSERT_EQ(LayerEntry(before.wow32), nullptr) << "the layer is installed already";
    }
    void TearDown() override
    {
        RemoveLayerEverywhere();
        int error = 0;
        for (GUID* id : {&otherLayer, &otherChains}) {
            WSCDeinstallProvider(id, &error);
            WSCDeinstallProvider32(id, &error);
        }
        DeleteFileA(layer32.c_str());
        DeleteFileA(layer.c_str());
        RemoveDirectoryA((folder + "x86").c_str());
        RemoveDirectoryA(folder.c_str());
        WSACleanup();
    }
    bool Put32BitLayer()
    {
        return CopyFileA(Thirty2BitLayer, layer32.c_str(), FALSE) != 0;
    }
    // Both catalogs hold what they held before the test, entry for entry and in order.
    void ExpectCatalogsAsBefore(const char* when)
    {
        SCOPED_TRACE(when);
        Catalogs now = ReadBoth();
        EXPECT_EQ(Describe(now.native), Describe(before.native));
        EXPECT_EQ(Describe(now.wow32), Describe(before.wow32));
    }

    std::string folder, layer, layer32;
    Catalogs before;
    // Another vendor's layer, for the tests that stack one on ours.
    GUID otherLayer = {0x6b1e2c3d, 0x4f5a, 0x4b6c, {0x9d, 0x8e, 0x7f, 0x60, 0x51, 0x42, 0x33, 0x01}};
    GUID otherChains = {0x6b1e2c3d, 0x4f5a, 0x4b6c, {0x9d, 0x8e, 0x7f, 0x60, 0x51, 0x42, 0x33, 0x02}};
};

TEST_F(BothCatalogs, EachCatalogGetsTheLayerOfItsBitnessWithItsChainsFirst)
{
    if (!Put32BitLayer())
        GTEST_SKIP() << "no 32-bit build beside this one (scripts/build.sh makes it)";
    std::string note = "untouched";
    ASSERT_EQ(InstallLayerEverywhere(layer.c_str(), "Kestrix", &note), 0);
    EXPECT_EQ(note, "untouched") << "nothing to tell the user";
    Catalogs now = ReadBoth();
    struct {
        const char* name;
        const std::vector<WSAPROTOCOL_INFOW>& entries;
        const std::vector<WSAPROTOCOL_INFOW>& was;
        bool wow32;
        std::string path;
    } catalogs[] = {{"native", now.native, before.native, false, layer},
                    {"32-bit", now.wow32, before.wow32, true, layer32}};
    for (const auto& c : catalogs) {
        SCOPED_TRACE(c.name);
        const WSAPROTOCOL_INFOW* layered = LayerEntry(c.entries);
        ASSERT_NE(layered, nullptr) << Describe(c.entries);
        EXPECT_EQ(layered->ProtocolChain.ChainLen, LAYERED_PROTOCOL);
        EXPECT_EQ(DWORD(layered->dwProviderReserved), GetCurrentProcessId()) << "names its installer";
        EXPECT_EQ(PathOf(c.wow32, LayerProviderId), Wide(c.path));
        size_t bases = 0;
        for (const auto& entry : c.was)
            bases += entry.ProtocolChain.ChainLen == BASE_PROTOCOL;
        ASSERT_EQ(c.entries.size(), c.was.size() + 1 + bases);
        for (size_t i = 0; i < bases; ++i) {
            const WSAPROTOCOL_INFOW& chain = c.entries[i];
            EXPECT_EQ(chain.ProtocolChain.ChainLen, 2);
            EXPECT_EQ(chain.ProtocolChain.ChainEntries[0], layered->dwCatalogEntryId);
            EXPECT_EQ(Narrow(chain.szProtocol).rfind("Kestrix over [", 0), 0u) << Narrow(chain.szProtocol);
            EXPECT_EQ(PathOf(c.wow32, chain.ProviderId), Wide(c.path));
        }
    }
    EXPECT_EQ(RemoveLayerEverywhere(), 0);
    ExpectCatalogsAsBefore("after removal");
}

TEST_F(BothCatalogs, WithoutTheThirtyTwoBitLayerTheNativeCatalogAloneIsUsedAndTheUserIsTold)
{
    std::string note;
    ASSERT_EQ(InstallLayerEverywhere(layer.c_str(), "Kestrix", &note), 0);
    EXPECT_EQ(note, "32-bit programs are not traced: x86\\KESTRIXLAYER.DLL is missing");
    Catalogs now = ReadBoth();
    EXPECT_NE(LayerEntry(now.native), nullptr);
    EXPECT_EQ(Describe(now.wow32), Describe(before.wow32));
    EXPECT_EQ(RemoveLayerEverywhere(), 0);
    ExpectCatalogsAsBefore("after removal");
}

TEST_F(BothCatalogs, AThirtyTwoBitFileThatIsNoLayerLeavesBothCatalogsAlone)
{
    struct {
        const char* what;
        const char* source;   // copied in as the 32-bit layer
        const char* problem;
    } rows[] = {
        {"the 64-bit layer", "kestrixlayer.dll", "is not a 32-bit x86 DLL"},
        {"a 32-bit DLL without WSPStartup", "..\\x86\\bin\\ws2_32.dll", "does not export WSPStartup"},
        {"a 32-bit program", "..\\x86\\bin\\tcp_blocking.exe", "is not a DLL"},
        {"a text file", "KESTRIX.RTF", "is not a Windows program file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (!CopyFileA(row.source, layer32.c_str(), FALSE)) {
            ADD_FAILURE() << "cannot copy " << row.source << " (is the 32-bit build beside this one?)";
            continue;
        }
        std::string note;
        EXPECT_EQ(InstallLayerEverywhere(layer.c_str(), "Kestrix", &note), -1);
        EXPECT_EQ(note, std::string("x86\\KESTRIXLAYER.DLL ") + row.problem);
        ExpectCatalogsAsBefore("after the refusal");
    }
}

TEST_F(BothCatalogs, AKilledViewersLeftoversAreReplacedInBothCatalogs)
{
    if (!Put32BitLayer())
        GTEST_SKIP() << "no 32-bit build beside this one (scripts/build.sh makes it)";
    ASSERT_EQ(InstallLayerEverywhere(layer.c_str(), "Kestrix", nullptr), 0);
    // A viewer that has ended: a process started and waited for.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION ended = {};
    char command[] = "cmd.exe /c exit 0";
    ASSERT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startup, &ended));
    WaitForSingleObject(ended.hProcess, 30000);
    CloseHandle(ended.hThread);
    CloseHandle(ended.hProcess);
    for (bool wow32 : {false, true}) {
        Catalogs now = ReadBoth();
        WSAPROTOCOL_INFOW layered = *LayerEntry(wow32 ? now.wow32 : now.native);
        layered.dwProviderReserved = ended.dwProcessId;
        GUID id = LayerProviderId;
        std::wstring path = PathOf(wow32, id);
        int error = 0;
        ASSERT_EQ(wow32 ? WSCUpdateProvider32(&id, path.c_str(), &layered, 1, &error)
                        : WSCUpdateProvider(&id, path.c_str(), &layered, 1, &error),
                  0) << error;
    }
    ASSERT_EQ(InstallLayerEverywhere(layer.c_str(), "Kestrix", nullptr), 0) << "the leftovers are replaced";
    Catalogs now = ReadBoth();
    for (const auto* entries : {&now.native, &now.wow32}) {
        ASSERT_NE(LayerEntry(*entries), nullptr);
        EXPECT_EQ(DWORD(LayerEntry(*entries)->dwProviderReserved), GetCurrentProcessId());
    }
    EXPECT_EQ(InstallLayerEverywhere(layer.c_str(), "Kestrix", nullptr), -1)
        << "a running viewer's installation is not taken over";
    EXPECT_EQ(RemoveLayerEverywhere(), 0);
    ExpectCatalogsAsBefore("after removal");
}

TEST_F(BothCatalogs, ALayerStackedAboveInTheThirtyTwoBitCatalogIsRepaired)
{
    if (!Put32BitLayer())
        GTEST_SKIP() << "no 32-bit build beside this one (scripts/build.sh makes it)";
    ASSERT_EQ(InstallLayerEverywhere(layer.c_str(), "Kestrix", nullptr), 0);
    // Another vendor's 32-bit layer whose chains sit on ours, in the 32-bit catalog alone. The one
    // call that installs there puts entries in both catalogs: they go in as plain entries, become
    // the layer and its chains in the 32-bit catalog by updates, and leave the native one.
    std::vector<WSAPROTOCOL_INFOW> wow32 = ReadBoth().wow32;
    const DWORD ours = LayerEntry(wow32)->dwCatalogEntryId;
    std::vector<WSAPROTOCOL_INFOW> chains;
    for (const auto& entry : wow32)
        if (entry.ProtocolChain.ChainLen == 2 && entry.ProtocolChain.ChainEntries[0] == ours)
            chains.push_back(entry);
    ASSERT_FALSE(chains.empty());
    WSAPROTOCOL_INFOW layered = *LayerEntry(wow32);
    wcscpy(layered.szProtocol, L"Other layer");
    WCHAR path[] = L"C:\\other\\otherlayer32.dll";
    int error = 0;
    ASSERT_EQ(WSCInstallProvider64_32(&otherLayer, path, &layered, 1, &error), 0) << error;
    std::vector<DWORD> bases;
    for (auto& chain : chains) {
        bases.push_back(chain.ProtocolChain.ChainEntries[1]);
        chain.ProtocolChain = {BASE_PROTOCOL, {}};
    }
    ASSERT_EQ(WSCInstallProvider64_32(&otherChains, path, chains.data(), DWORD(chains.size()), &error), 0)
        << error;
    ASSERT_EQ(WSCDeinstallProvider(&otherChains, &error), 0) << error;
    ASSERT_EQ(WSCDeinstallProvider(&otherLayer, &error), 0) << error;
    wow32 = ReadBoth().wow32;
    DWORD otherId = 0;
    std::vector<WSAPROTOCOL_INFOW> stacked;
    for (const auto& entry : wow32) {
        if (IsEqualGUID(entry.ProviderId, otherLayer))
            otherId = entry.dwCatalogEntryId;
        if (IsEqualGUID(entry.ProviderId, otherChains))
            stacked.push_back(entry);
    }
    ASSERT_EQ(stacked.size(), chains.size());
    for (size_t i = 0; i < stacked.size(); ++i) {
        stacked[i].ProtocolChain = {3, {otherId, ours, bases[i]}};
        wcscpy(stacked[i].szProtocol, L"Other over Kestrix");
    }
    ASSERT_EQ(WSCUpdateProvider32(&otherChains, path, stacked.data(), DWORD(stacked.size()), &error), 0)
        << error;

    EXPECT_EQ(RemoveLayerEverywhere(), 0);
    int repaired = 0;
    for (const auto& entry : ReadBoth().wow32) {
        if (!IsEqualGUID(entry.ProviderId, otherChains))
            continue;
        ++repaired;
        EXPECT_EQ(entry.ProtocolChain.ChainLen, 2) << DescribeEntry(entry);
        EXPECT_EQ(entry.ProtocolChain.ChainEntries[0], otherId);
        EXPECT_FALSE(ChainHas(entry, ours)) << "the removed layer's id is taken out";
    }
    EXPECT_EQ(repaired, int(stacked.size()));
    EXPECT_EQ(Describe(ReadBoth().native), Describe(before.native)) << "the native catalog is as before";
}

// The file check on its own, on real images of both architectures and every cut of them.
TEST(LayerImage, TellsALayerOfTheRightArchitectureFromEverythingElse)
{
    EXPECT_EQ(LayerFileProblem("kestrixlayer.dll", IMAGE_FILE_MACHINE_AMD64), "");
    EXPECT_EQ(LayerFileProblem("kestrixlayer.dll", IMAGE_FILE_MACHINE_I386), "is not a 32-bit x86 DLL");
    EXPECT_EQ(LayerFileProblem("ws2_32.dll", IMAGE_FILE_MACHINE_AMD64), "does not export WSPStartup");
    EXPECT_EQ(LayerFileProblem("no such file.dll", IMAGE_FILE_MACHINE_AMD64), "is missing");
    if (GetFileAttributesA(Thirty2BitLayer) != INVALID_FILE_ATTRIBUTES) {
        EXPECT_EQ(LayerFileProblem(Thirty2BitLayer, IMAGE_FILE_MACHINE_I386), "");
    }

    // Every cut of the image is judged without reading past its end (the cuts run under Wine's
    // heap checks as any read would) and only the whole image passes.
    HANDLE file = CreateFileA("kestrixlayer.dll", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<BYTE> image(GetFileSize(file, nullptr));
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, image.data(), DWORD(image.size()), &read, nullptr));
    CloseHandle(file);
    for (size_t length = 0; length < image.size(); length += length < 4096 ? 1 : 509) {
        std::vector<BYTE> cut(image.begin(), image.begin() + length); // its own allocation, exactly as long
        const char* problem = LayerImageProblem(cut.data(), cut.size(), IMAGE_FILE_MACHINE_AMD64);
        if (!problem) {
            EXPECT_GT(length, size_t(0x400)) << "a cut to " << length << " bytes passed";
        }
    }
    EXPECT_EQ(LayerImageProblem(image.data(), image.size(), IMAGE_FILE_MACHINE_AMD64), nullptr);
}

} // namespace
