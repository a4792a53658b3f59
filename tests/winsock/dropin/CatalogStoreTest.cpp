// The stored catalog: shared by the processes of the prefix, safe against concurrent changes,
// and a damaged value gives an error instead of a crash or a silent reset.
#include "CatalogSnapshot.h"
#include "ChildProcess.h"

#include <cstring>
#include <set>

namespace {

using CatalogStore = CatalogTest;

TEST_F(CatalogStore, ChangesAreSeenByOtherProcesses)
{
    DeleteStoredCatalog();
    GUID mine = TestGuid(50);
    WSAPROTOCOL_INFOW entry = EntryLike(BASE_PROTOCOL, L"mine");
    int error = 0xdeadbeef;
    ASSERT_EQ(WSCInstallProvider(&mine, L"C:\\mine.dll", &entry, 1, &error), 0) << error;
    EXPECT_EQ(RunProcess(L"catalog_worker.exe has 50"), 0);
    EXPECT_EQ(RunProcess(L"catalog_worker.exe has 51"), 2);
    ASSERT_EQ(RunProcess(L"catalog_worker.exe install 51 1"), 0);
    bool found = false;
    GUID theirs = TestGuid(51);
    for (const auto& listed : CatalogEntries())
        found = found || IsEqualGUID(listed.ProviderId, theirs);
    EXPECT_TRUE(found);
}

TEST_F(CatalogStore, ConcurrentInstallationsLoseNothing)
{
    DeleteStoredCatalog();
    const int workers = 4;
    const int perWorker = 8;
    HANDLE processes[workers];
    HANDLE threads[workers];
    for (int i = 0; i < workers; ++i) {
        std::wstring line = L"catalog_worker.exe install " + std::to_wstring(100 + i * perWorker) +
                            L" " + std::to_wstring(perWorker);
        processes[i] = StartProcess(line, true, &threads[i]);
        ASSERT_NE(processes[i], nullptr);
    }
    for (HANDLE thread : threads) // released together, so their changes overlap
        ResumeThread(thread);
    ASSERT_EQ(WaitForMultipleObjects(workers, processes, TRUE, 60000), WAIT_OBJECT_0);
    for (int i = 0; i < workers; ++i) {
        DWORD code = 0xdeadbeef;
        GetExitCodeProcess(processes[i], &code);
        EXPECT_EQ(code, 0u) << "worker " << i;
        CloseHandle(processes[i]);
        CloseHandle(threads[i]);
    }
    std::vector<WSAPROTOCOL_INFOW> entries = CatalogEntries();
    std::set<DWORD> ids;
    std::set<BYTE> guids;
    for (const auto& entry : entries) {
        ids.insert(entry.dwCatalogEntryId);
        if (entry.ProviderId.Data1 == TestGuid(0).Data1)
            guids.insert(entry.ProviderId.Data4[7]);
    }
    EXPECT_EQ(entries.size(), seededIds.size() + workers * perWorker);
    EXPECT_EQ(ids.size(), entries.size()) << "catalog ids are unique";
    EXPECT_EQ(guids.size(), static_cast<size_t>(workers * perWorker));
}

// Builds damaged copies of a sound stored value, one kind of damage per row.
struct Damage {
    const char* what;
    void (*apply)(std::vector<BYTE>& value);
};

constexpr size_t headerLength = 20;
constexpr size_t entryLength = sizeof(WSAPROTOCOL_INFOW) + MAX_PATH * sizeof(wchar_t);

WSAPROTOCOL_INFOW* FirstEntry(std::vector<BYTE>& value)
{
    return reinterpret_cast<WSAPROTOCOL_INFOW*>(value.data() + headerLength);
}

const Damage damages[] = {
    {"shorter than its header", [](std::vector<BYTE>& v) { v.resize(7); }},
    {"empty", [](std::vector<BYTE>& v) { v.clear(); }},
    {"wrong mark", [](std::vector<BYTE>& v) { v[0] ^= 0xff; }},
    {"unknown layout version", [](std::vector<BYTE>& v) { v[4] = 9; }},
    {"cut in the middle of an entry", [](std::vector<BYTE>& v) { v.resize(v.size() - 10); }},
    {"entry count too large", [](std::vector<BYTE>& v) { v[12] = 0x7f; }},
    {"chain length 9", [](std::vector<BYTE>& v) { FirstEntry(v)->ProtocolChain.ChainLen = 9; }},
    {"negative chain length",
     [](std::vector<BYTE>& v) { FirstEntry(v)->ProtocolChain.ChainLen = -1; }},
    {"catalog id 0", [](std::vector<BYTE>& v) { FirstEntry(v)->dwCatalogEntryId = 0; }},
    {"two entries share an id",
     [](std::vector<BYTE>& v) {
         auto* second = reinterpret_cast<WSAPROTOCOL_INFOW*>(v.data() + headerLength + entryLength);
         second->dwCatalogEntryId = FirstEntry(v)->dwCatalogEntryId;
     }},
    {"name not terminated",
     [](std::vector<BYTE>& v) { wmemset(FirstEntry(v)->szProtocol, L'x', WSAPROTOCOL_LEN + 1); }},
    {"path not terminated",
     [](std::vector<BYTE>& v) {
         auto* path = reinterpret_cast<wchar_t*>(v.data() + headerLength + sizeof(WSAPROTOCOL_INFOW));
         wmemset(path, L'p', MAX_PATH);
     }},
};

TEST_F(CatalogStore, DamagedValueGivesAnErrorAndIsLeftAlone)
{
    DeleteStoredCatalog();
    CatalogEntries(); // seeds
    const std::vector<BYTE> sound = ReadStoredCatalog();
    ASSERT_EQ(sound.size(), headerLength + seededIds.size() * entryLength);
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    for (const Damage& row : damages) {
        SCOPED_TRACE(row.what);
        std::vector<BYTE> damaged = sound;
        row.apply(damaged);
        WriteStoredCatalog(damaged);

        DWORD length = 0;
        int error = 0xdeadbeef;
        EXPECT_EQ(WSCEnumProtocols(nullptr, nullptr, &length, &error), SOCKET_ERROR);
        EXPECT_EQ(error, WSANO_RECOVERY);
        GUID guid = TestGuid(60);
        WSAPROTOCOL_INFOW entry{};
        entry.ProtocolChain.ChainLen = BASE_PROTOCOL;
        error = 0xdeadbeef;
        EXPECT_EQ(WSCInstallProvider(&guid, L"C:\\x.dll", &entry, 1, &error), SOCKET_ERROR);
        EXPECT_EQ(error, WSANO_RECOVERY);
        WSASetLastError(0xdeadbeef);
        EXPECT_EQ(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), INVALID_SOCKET);
        EXPECT_EQ(WSAGetLastError(), WSANO_RECOVERY);
        EXPECT_TRUE(ReadStoredCatalog() == damaged) << "a damaged catalog is not overwritten";
    }
    WriteStoredCatalog(sound, REG_SZ);
    DWORD length = 0;
    int error = 0xdeadbeef;
    EXPECT_EQ(WSCEnumProtocols(nullptr, nullptr, &length, &error), SOCKET_ERROR);
    EXPECT_EQ(error, WSANO_RECOVERY) << "a value of the wrong type";
    WSACleanup();
}

TEST_F(CatalogStore, UpdateExportCanBeHiddenForInstallerTests)
{
    EXPECT_EQ(RunProcess(L"catalog_worker.exe update-export"), 0);
    SetEnvironmentVariableW(L"WS2LAYER_NO_WSCUPDATEPROVIDER", L"1");
    int hidden = RunProcess(L"catalog_worker.exe update-export");
    SetEnvironmentVariableW(L"WS2LAYER_NO_WSCUPDATEPROVIDER", nullptr);
    EXPECT_EQ(hidden, 3);
}

} // namespace
