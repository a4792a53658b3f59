// The two catalogs of a 64-bit prefix, as 64-bit Windows has them: the native one, which 64-bit
// processes read, and the one 32-bit processes read, reached from a 64-bit process through the
// *32 and *64_32 calls. Each has its own entries, ids and order.
#include "CatalogSnapshot.h"
#include "ChildProcess.h"

#include <algorithm>

namespace {

class Wow32Catalog : public CatalogTest {
protected:
    void SetUp() override
    {
        CatalogTest::SetUp();
        DeleteStoredCatalog();
        DeleteStoredCatalog(KEY_WOW64_32KEY);
    }
};

std::vector<WSAPROTOCOL_INFOW> Entries32()
{
    DWORD length = 0;
    int error = 0xdeadbeef;
    EXPECT_EQ(WSCEnumProtocols32(nullptr, nullptr, &length, &error), SOCKET_ERROR);
    EXPECT_EQ(error, WSAENOBUFS);
    std::vector<WSAPROTOCOL_INFOW> entries(length / sizeof(WSAPROTOCOL_INFOW));
    int count = WSCEnumProtocols32(nullptr, entries.data(), &length, &error);
    EXPECT_EQ(count, static_cast<int>(entries.size())) << "error " << error;
    entries.resize(count > 0 ? count : 0);
    return entries;
}

std::vector<DWORD> IdsOf(const std::vector<WSAPROTOCOL_INFOW>& entries)
{
    std::vector<DWORD> ids;
    for (const auto& entry : entries)
        ids.push_back(entry.dwCatalogEntryId);
    return ids;
}

const WSAPROTOCOL_INFOW* WithGuid(const std::vector<WSAPROTOCOL_INFOW>& entries, const GUID& id)
{
    for (const auto& entry : entries)
        if (IsEqualGUID(entry.ProviderId, id))
            return &entry;
    return nullptr;
}

std::wstring PathIn(bool wow32, GUID guid)
{
    wchar_t path[MAX_PATH] = L"";
    int length = MAX_PATH;
    int error = 0;
    int result = wow32 ? WSCGetProviderPath32(&guid, path, &length, &error)
                       : WSCGetProviderPath(&guid, path, &length, &error);
    return result == 0 ? path : L"(error " + std::to_wstring(error) + L")";
}

TEST_F(Wow32Catalog, EachCatalogKeepsItsOwnEntriesIdsAndOrder)
{
    // Both are seeded alike; an installation in the native catalog alone sets their ids apart.
    EXPECT_EQ(IdsOf(Entries32()), seededIds);
    GUID nativeOnly = TestGuid(60);
    WSAPROTOCOL_INFOW base = EntryLike(BASE_PROTOCOL, L"native only");
    int error = 0xdeadbeef;
    ASSERT_EQ(WSCInstallProvider(&nativeOnly, L"C:\\native.dll", &base, 1, &error), 0) << error;
    EXPECT_EQ(WithGuid(Entries32(), nativeOnly), nullptr);

    GUID both = TestGuid(61);
    WSAPROTOCOL_INFOW entry = EntryLike(BASE_PROTOCOL, L"in both");
    ASSERT_EQ(WSCInstallProvider64_32(&both, L"C:\\both.dll", &entry, 1, &error), 0) << error;
    std::vector<WSAPROTOCOL_INFOW> entries = CatalogEntries();
    std::vector<WSAPROTOCOL_INFOW> entries32 = Entries32();
    const WSAPROTOCOL_INFOW* native = WithGuid(entries, both);
    const WSAPROTOCOL_INFOW* wow = WithGuid(entries32, both);
    ASSERT_TRUE(native && wow);
    EXPECT_EQ(native->dwCatalogEntryId, firstInstalledId + 1);
    EXPECT_EQ(wow->dwCatalogEntryId, firstInstalledId) << "the 32-bit catalog counts its own ids";
    EXPECT_STREQ(wow->szProtocol, L"in both");

    // The path and the entries of one catalog change without the other's.
    WSAPROTOCOL_INFOW renamed = *wow;
    lstrcpyW(renamed.szProtocol, L"renamed in the 32-bit catalog");
    ASSERT_EQ(WSCUpdateProvider32(&both, L"C:\\x86\\both.dll", &renamed, 1, &error), 0) << error;
    EXPECT_EQ(PathIn(true, both), L"C:\\x86\\both.dll");
    EXPECT_EQ(PathIn(false, both), L"C:\\both.dll");
    EXPECT_STREQ(WithGuid(Entries32(), both)->szProtocol, L"renamed in the 32-bit catalog");
    EXPECT_STREQ(WithGuid(CatalogEntries(), both)->szProtocol, L"in both");

    // A new order for the 32-bit catalog leaves the native order alone.
    std::vector<DWORD> nativeOrder = CatalogIds();
    std::vector<DWORD> order32 = IdsOf(Entries32());
    std::reverse(order32.begin(), order32.end());
    EXPECT_EQ(WSCWriteProviderOrder32(order32.data(), static_cast<DWORD>(order32.size())), 0);
    EXPECT_EQ(IdsOf(Entries32()), order32);
    EXPECT_EQ(CatalogIds(), nativeOrder);

    // Removal from one catalog leaves the other.
    ASSERT_EQ(WSCDeinstallProvider32(&both, &error), 0) << error;
    EXPECT_EQ(WithGuid(Entries32(), both), nullptr);
    EXPECT_NE(WithGuid(CatalogEntries(), both), nullptr);
    ASSERT_EQ(WSCInstallProvider64_32(&nativeOnly, L"C:\\again.dll", &entry, 1, &error),
              SOCKET_ERROR) << "the GUID is in the native catalog: neither catalog changes";
    EXPECT_EQ(error, WSAEINVAL);
    EXPECT_EQ(WithGuid(Entries32(), nativeOnly), nullptr);

    // Each catalog is its own stored value; the 32-bit one where 32-bit processes read it.
    EXPECT_NE(ReadStoredCatalog(nullptr, 0), ReadStoredCatalog(nullptr, KEY_WOW64_32KEY));
}

TEST_F(Wow32Catalog, LayerAndChainsGoInBothCatalogsWithTheirOwnDlls)
{
    GUID layer = TestGuid(62);
    WSAPROTOCOL_INFOW protocols[2] = {CatalogEntries()[0], CatalogEntries()[3]}; // TCP/IPv4, TCP/IPv6
    wchar_t path64[] = L"C:\\kx\\layer.dll";
    wchar_t path32[] = L"C:\\kx\\x86\\layer.dll";
    wchar_t name[] = L"Layer";
    DWORD layeredId = 0;
    int error = 0xdeadbeef;
    ASSERT_EQ(WSCInstallProviderAndChains64_32(&layer, path64, path32, name, 0,
                                               reinterpret_cast<LPWSAPROTOCOL_INFO>(protocols), 2,
                                               &layeredId, &error),
              0) << error;
    struct {
        const char* catalog;
        std::vector<WSAPROTOCOL_INFOW> entries;
        bool wow32;
        std::wstring path;
    } catalogs[] = {{"native", CatalogEntries(), false, path64}, {"32-bit", Entries32(), true, path32}};
    for (auto& c : catalogs) {
        SCOPED_TRACE(c.catalog);
        ASSERT_EQ(c.entries.size(), seededIds.size() + 3);
        const WSAPROTOCOL_INFOW* layered = WithGuid(c.entries, layer);
        ASSERT_TRUE(layered);
        EXPECT_EQ(layered->ProtocolChain.ChainLen, LAYERED_PROTOCOL);
        EXPECT_STREQ(layered->szProtocol, L"Layer");
        EXPECT_TRUE(layered->dwProviderFlags & PFL_HIDDEN);
        EXPECT_EQ(layered->dwServiceFlags1 & XP1_IFS_HANDLES, 0u);
        EXPECT_EQ(PathIn(c.wow32, layer), c.path);
        // The two chains lead the order, over the TCP bases in their catalog order.
        const wchar_t* names[] = {L"Layer over [TCP/IP]", L"Layer over [TCP/IPv6]"};
        const DWORD bases[] = {1001, 1004};
        for (int i = 0; i < 2; ++i) {
            const WSAPROTOCOL_INFOW& chain = c.entries[i];
            EXPECT_EQ(chain.ProtocolChain.ChainLen, 2);
            EXPECT_EQ(chain.ProtocolChain.ChainEntries[0], layered->dwCatalogEntryId);
            EXPECT_EQ(chain.ProtocolChain.ChainEntries[1], bases[i]);
            EXPECT_STREQ(chain.szProtocol, names[i]);
            EXPECT_FALSE(IsEqualGUID(chain.ProviderId, layer)) << "the layer's GUID is its own entry's";
            EXPECT_EQ(PathIn(c.wow32, chain.ProviderId), c.path);
        }
    }
    EXPECT_EQ(layeredId, WithGuid(catalogs[0].entries, layer)->dwCatalogEntryId);
    EXPECT_TRUE(IsEqualGUID(catalogs[0].entries[0].ProviderId, catalogs[1].entries[0].ProviderId));

    // Installed already: refused, and neither catalog changes.
    std::vector<BYTE> native = ReadStoredCatalog(nullptr, 0);
    std::vector<BYTE> wow = ReadStoredCatalog(nullptr, KEY_WOW64_32KEY);
    EXPECT_EQ(WSCInstallProviderAndChains64_32(&layer, path64, path32, name, 0,
                                               reinterpret_cast<LPWSAPROTOCOL_INFO>(protocols), 2,
                                               nullptr, &error),
              SOCKET_ERROR);
    EXPECT_EQ(error, WSAEINVAL);
    EXPECT_EQ(ReadStoredCatalog(nullptr, 0), native);
    EXPECT_EQ(ReadStoredCatalog(nullptr, KEY_WOW64_32KEY), wow);
}

TEST_F(Wow32Catalog, BadArgumentsAnswerAsDocumented)
{
    wchar_t path[] = L"C:\\x.dll";
    wchar_t name[] = L"x";
    struct Call {
        const char* call;
        int (*run)(int* error);
        int expected;
    } calls[] = {
        {"enumerate without a length", [](int* e) { return WSCEnumProtocols32(nullptr, nullptr, nullptr, e); }, WSAEFAULT},
        {"path of an unknown GUID", [](int* e) { GUID g = TestGuid(63); wchar_t b[MAX_PATH]; int l = MAX_PATH; return WSCGetProviderPath32(&g, b, &l, e); }, WSAEINVAL},
        {"deinstall an unknown GUID", [](int* e) { GUID g = TestGuid(63); return WSCDeinstallProvider32(&g, e); }, WSAEINVAL},
        {"deinstall without a GUID", [](int* e) { return WSCDeinstallProvider32(nullptr, e); }, WSAEFAULT},
        {"update an unknown GUID", [](int* e) { GUID g = TestGuid(63); WSAPROTOCOL_INFOW x = EntryLike(BASE_PROTOCOL, L"x"); return WSCUpdateProvider32(&g, L"C:\\x.dll", &x, 1, e); }, WSAEINVAL},
        {"install no entries in both", [](int* e) { GUID g = TestGuid(63); WSAPROTOCOL_INFOW x = EntryLike(BASE_PROTOCOL, L"x"); return WSCInstallProvider64_32(&g, L"C:\\x.dll", &x, 0, e); }, WSAEINVAL},
        {"install without a path in both", [](int* e) { GUID g = TestGuid(63); WSAPROTOCOL_INFOW x = EntryLike(BASE_PROTOCOL, L"x"); return WSCInstallProvider64_32(&g, nullptr, &x, 1, e); }, WSAEFAULT},
        {"layer and chains over no protocol any catalog has", [](int* e) {
             GUID g = TestGuid(63); WSAPROTOCOL_INFOW x = EntryLike(BASE_PROTOCOL, L"x"); x.iAddressFamily = AF_APPLETALK;
             wchar_t p[] = L"C:\\x.dll", n[] = L"x";
             return WSCInstallProviderAndChains64_32(&g, p, p, n, 0, reinterpret_cast<LPWSAPROTOCOL_INFO>(&x), 1, nullptr, e); }, WSAEINVAL},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.call);
        int cell = 0xdeadbeef;
        EXPECT_EQ(call.run(&cell), SOCKET_ERROR);
        EXPECT_EQ(cell, call.expected);
    }
    DWORD order[] = {1001, 1001, 1003, 1004, 1005, 1006};
    EXPECT_EQ(WSCWriteProviderOrder32(nullptr, 6), WSAEFAULT);
    EXPECT_EQ(WSCWriteProviderOrder32(order, 6), WSAEINVAL) << "an id named twice";
    EXPECT_EQ(WSCWriteProviderOrder32(order, 5), WSAEINVAL) << "not every entry named";
    WSAPROTOCOL_INFOW entry = EntryLike(BASE_PROTOCOL, L"x");
    GUID any = TestGuid(63);
    int error = 0;
    EXPECT_EQ(WSCInstallProviderAndChains64_32(&any, path, nullptr, name, 0,
                                               reinterpret_cast<LPWSAPROTOCOL_INFO>(&entry), 1,
                                               nullptr, &error),
              SOCKET_ERROR);
    EXPECT_EQ(error, WSAEFAULT) << "no 32-bit path";
    EXPECT_EQ(IdsOf(Entries32()), seededIds) << "nothing refused changed the 32-bit catalog";
    EXPECT_EQ(CatalogIds(), seededIds) << "nor the native one";
}

TEST_F(Wow32Catalog, DamagedThirtyTwoBitCatalogIsReportedNotFatal)
{
    EXPECT_EQ(IdsOf(Entries32()), seededIds); // seeds it
    std::vector<BYTE> damaged = ReadStoredCatalog(nullptr, KEY_WOW64_32KEY);
    ASSERT_GT(damaged.size(), 20u);
    damaged.resize(damaged.size() - 7);
    WriteStoredCatalog(damaged, REG_BINARY, KEY_WOW64_32KEY);
    DWORD length = 0;
    int error = 0;
    EXPECT_EQ(WSCEnumProtocols32(nullptr, nullptr, &length, &error), SOCKET_ERROR);
    EXPECT_EQ(error, WSANO_RECOVERY);
    GUID any = TestGuid(64);
    WSAPROTOCOL_INFOW entry = EntryLike(BASE_PROTOCOL, L"x");
    EXPECT_EQ(WSCInstallProvider64_32(&any, L"C:\\x.dll", &entry, 1, &error), SOCKET_ERROR);
    EXPECT_EQ(error, WSANO_RECOVERY);
    EXPECT_EQ(ReadStoredCatalog(nullptr, KEY_WOW64_32KEY), damaged) << "a damaged catalog is not overwritten";
    EXPECT_EQ(CatalogIds(), seededIds) << "the native catalog is untouched and still serves";
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
    closesocket(s);
    WSACleanup();
}

// A 32-bit process reads the 32-bit catalog (where this machine runs 32-bit programs at all).
TEST_F(Wow32Catalog, ThirtyTwoBitProcessSeesTheThirtyTwoBitCatalog)
{
    const wchar_t* worker = L"..\\x86\\bin\\catalog_worker.exe";
    if (GetFileAttributesW(worker) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no 32-bit build beside this one";
    GUID only32 = TestGuid(65);
    WSAPROTOCOL_INFOW entry = EntryLike(BASE_PROTOCOL, L"32-bit only");
    int error = 0;
    ASSERT_EQ(WSCInstallProvider64_32(&only32, L"C:\\x.dll", &entry, 1, &error), 0) << error;
    ASSERT_EQ(WSCDeinstallProvider(&only32, &error), 0) << error;
    int code = RunProcess(std::wstring(worker) + L" has 65");
    if (code == -1)
        GTEST_SKIP() << "32-bit programs do not run on this machine";
    EXPECT_EQ(code, 0) << "the 32-bit process does not see the entry of the 32-bit catalog";
    EXPECT_EQ(RunProcess(L"catalog_worker.exe has 65"), 2) << "the 64-bit process does";
}

} // namespace
