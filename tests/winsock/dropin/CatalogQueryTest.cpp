// Reading the catalog: the seeded base entries, enumeration buffers and filters, hidden
// layered entries, and provider paths.
#include "CatalogSnapshot.h"
#include "WinsockLayerIds.h"

#include <string>

namespace {

using CatalogQuery = CatalogTest;

// Wine's own protocol list, read from its library beside the drop-in.
std::vector<WSAPROTOCOL_INFOW> WineProtocols()
{
    wchar_t path[MAX_PATH];
    GetSystemDirectoryW(path, MAX_PATH);
    lstrcatW(path, L"\\ws2_32.dll");
    HMODULE wine = LoadLibraryW(path);
    EXPECT_NE(wine, nullptr);
    using Enumerate = int(WSAAPI*)(LPINT, LPWSAPROTOCOL_INFOW, LPDWORD);
    auto enumerate = reinterpret_cast<Enumerate>(
        reinterpret_cast<void*>(GetProcAddress(wine, "WSAEnumProtocolsW")));
    std::vector<WSAPROTOCOL_INFOW> entries(32);
    DWORD length = entries.size() * sizeof entries[0];
    int count = enumerate ? enumerate(nullptr, entries.data(), &length) : 0;
    entries.resize(count > 0 ? count : 0);
    return entries;
}

TEST_F(CatalogQuery, FreshCatalogHoldsWineBaseEntriesServedByTheBaseProvider)
{
    DeleteStoredCatalog();
    std::vector<WSAPROTOCOL_INFOW> entries = CatalogEntries();
    std::vector<WSAPROTOCOL_INFOW> wine = WineProtocols();
    const wchar_t* names[] = {L"TCP/IP",   L"UDP/IP",   L"RAW/IP",
                              L"TCP/IPv6", L"UDP/IPv6", L"RAW/IPv6"};
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(CatalogIds(), seededIds);
    for (size_t i = 0; i < 6; ++i) {
        const WSAPROTOCOL_INFOW& entry = entries[i];
        SCOPED_TRACE(testing::Message() << "entry " << i);
        EXPECT_STREQ(entry.szProtocol, names[i]);
        EXPECT_TRUE(IsEqualGUID(entry.ProviderId, BaseProviderId));
        EXPECT_EQ(entry.ProtocolChain.ChainLen, 1);
        EXPECT_EQ(entry.ProtocolChain.ChainEntries[0], entry.dwCatalogEntryId);
        EXPECT_NE(entry.dwServiceFlags1 & XP1_IFS_HANDLES, 0u);
        // Wine's own lists no raw entry: these are shaped like Windows' (any protocol up to
        // 255, protocol 0 too) with the flags of the datagram entry of their family.
        if (entry.iSocketType == SOCK_RAW) {
            EXPECT_EQ(entry.iProtocol, 0);
            EXPECT_EQ(entry.iProtocolMaxOffset, 255);
            EXPECT_EQ(entry.dwProviderFlags, DWORD(PFL_MATCHES_PROTOCOL_ZERO));
            EXPECT_EQ(entry.dwServiceFlags1, entries[i - 1].dwServiceFlags1);
            EXPECT_EQ(entry.iAddressFamily, entries[i - 1].iAddressFamily);
            continue;
        }
        const WSAPROTOCOL_INFOW* own = nullptr;
        for (const auto& candidate : wine)
            if (lstrcmpW(candidate.szProtocol, entry.szProtocol) == 0)
                own = &candidate;
        ASSERT_NE(own, nullptr);
        EXPECT_EQ(entry.dwServiceFlags1, own->dwServiceFlags1);
        EXPECT_EQ(entry.dwProviderFlags, own->dwProviderFlags);
        EXPECT_EQ(entry.dwCatalogEntryId, own->dwCatalogEntryId);
        EXPECT_EQ(entry.iAddressFamily, own->iAddressFamily);
        EXPECT_EQ(entry.iSocketType, own->iSocketType);
        EXPECT_EQ(entry.iProtocol, own->iProtocol);
        EXPECT_EQ(entry.iMaxSockAddr, own->iMaxSockAddr);
        EXPECT_EQ(entry.iMinSockAddr, own->iMinSockAddr);
        EXPECT_EQ(entry.dwMessageSize, own->dwMessageSize);
        EXPECT_EQ(entry.iVersion, own->iVersion);
    }
    wchar_t path[MAX_PATH];
    int length = MAX_PATH;
    int error = 0xdeadbeef;
    GUID base = BaseProviderId;
    ASSERT_EQ(WSCGetProviderPath(&base, path, &length, &error), 0) << error;
    EXPECT_STREQ(path, L"%WS2LAYER_HOME%\\basewsp.dll");

    // The variable names the drop-in's own folder.
    wchar_t home[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"WS2LAYER_HOME", home, MAX_PATH);
    // The drop-in is the module that holds the function this program imports.
    HMODULE dropin = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&WSCEnumProtocols), &dropin);
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(dropin, module, MAX_PATH);
    *wcsrchr(module, L'\\') = L'\0';
    EXPECT_STREQ(home, module);
}

// One row per way of asking for the entries; sizes are in bytes of the caller's record.
struct BufferCase {
    const char* what;
    int lengthDelta; // against the length needed; ignored when noBuffer
    bool noBuffer;
    int expectedError; // 0: success
};

const BufferCase bufferCases[] = {
    {"no buffer, length 0", 0, true, WSAENOBUFS},
    {"buffer one byte short", -1, false, WSAENOBUFS},
    {"exact buffer", 0, false, 0},
    {"larger buffer", 100, false, 0},
};

template <typename Record, typename Call>
void CheckBufferRules(const char* function, Call call, int expectedCount)
{
    for (const BufferCase& row : bufferCases) {
        SCOPED_TRACE(testing::Message() << function << ": " << row.what);
        DWORD needed = expectedCount * sizeof(Record);
        std::vector<Record> records(expectedCount + 2);
        DWORD length = row.noBuffer ? 0 : needed + row.lengthDelta;
        int error = 0xdeadbeef;
        int result = call(row.noBuffer ? nullptr : records.data(), &length, &error);
        if (row.expectedError) {
            EXPECT_EQ(result, SOCKET_ERROR);
            EXPECT_EQ(error, row.expectedError);
            EXPECT_EQ(length, needed);
        } else {
            EXPECT_EQ(result, expectedCount) << "error " << error;
        }
    }
}

TEST_F(CatalogQuery, ShortBuffersReportTheLengthNeeded)
{
    DeleteStoredCatalog();
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    CheckBufferRules<WSAPROTOCOL_INFOW>(
        "WSCEnumProtocols",
        [](WSAPROTOCOL_INFOW* buffer, DWORD* length, int* error) {
            return WSCEnumProtocols(nullptr, buffer, length, error);
        },
        6);
    CheckBufferRules<WSAPROTOCOL_INFOW>(
        "WSAEnumProtocolsW",
        [](WSAPROTOCOL_INFOW* buffer, DWORD* length, int* error) {
            WSASetLastError(0xdeadbeef);
            int result = WSAEnumProtocolsW(nullptr, buffer, length);
            *error = WSAGetLastError();
            return result;
        },
        6);
    CheckBufferRules<WSAPROTOCOL_INFOA>(
        "WSAEnumProtocolsA",
        [](WSAPROTOCOL_INFOA* buffer, DWORD* length, int* error) {
            WSASetLastError(0xdeadbeef);
            int result = WSAEnumProtocolsA(nullptr, buffer, length);
            *error = WSAGetLastError();
            return result;
        },
        6);
    int error = 0xdeadbeef;
    EXPECT_EQ(WSCEnumProtocols(nullptr, nullptr, nullptr, &error), SOCKET_ERROR);
    EXPECT_EQ(error, WSAEFAULT);

    WSAPROTOCOL_INFOA ansi[6];
    DWORD length = sizeof ansi;
    ASSERT_EQ(WSAEnumProtocolsA(nullptr, ansi, &length), 6);
    EXPECT_STREQ(ansi[3].szProtocol, "TCP/IPv6");
    EXPECT_EQ(ansi[3].iAddressFamily, AF_INET6);
    WSACleanup();
}

TEST_F(CatalogQuery, ProtocolFilterAndHiddenLayeredEntries)
{
    DeleteStoredCatalog();
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    GUID layer = TestGuid(1);
    WSAPROTOCOL_INFOW layered = EntryLike(LAYERED_PROTOCOL, L"hidden layer");
    int error = 0xdeadbeef;
    ASSERT_EQ(WSCInstallProvider(&layer, L"C:\\layer.dll", &layered, 1, &error), 0) << error;

    WSAPROTOCOL_INFOW entries[8];
    DWORD length = sizeof entries;
    EXPECT_EQ(WSCEnumProtocols(nullptr, entries, &length, &error), 7);
    length = sizeof entries;
    EXPECT_EQ(WSAEnumProtocolsW(nullptr, entries, &length), 6) << "the layered entry is hidden";

    // A listed protocol picks the entries that name it, not those whose range holds it: the
    // raw entries (protocol 0 up to 255) stay out, and unknown protocols pick nothing.
    INT udpOnly[] = {IPPROTO_UDP, 0};
    length = sizeof entries;
    ASSERT_EQ(WSAEnumProtocolsW(udpOnly, entries, &length), 2);
    EXPECT_STREQ(entries[0].szProtocol, L"UDP/IP");
    EXPECT_STREQ(entries[1].szProtocol, L"UDP/IPv6");
    INT mixed[] = {0x7ead, IPPROTO_TCP, 0x7afe, IPPROTO_UDP, 0};
    length = sizeof entries;
    ASSERT_EQ(WSAEnumProtocolsW(mixed, entries, &length), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(entries[i].iProtocol == IPPROTO_TCP || entries[i].iProtocol == IPPROTO_UDP)
            << entries[i].szProtocol;
    INT icmpOnly[] = {IPPROTO_ICMP, 0};
    length = sizeof entries;
    EXPECT_EQ(WSAEnumProtocolsW(icmpOnly, entries, &length), 0);
    WSACleanup();

    length = sizeof entries;
    WSASetLastError(0xdeadbeef);
    EXPECT_EQ(WSAEnumProtocolsW(nullptr, entries, &length), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST_F(CatalogQuery, ProviderPathErrors)
{
    DeleteStoredCatalog();
    GUID base = BaseProviderId;
    GUID unknown = TestGuid(2);
    const int needed = lstrlenW(L"%WS2LAYER_HOME%\\basewsp.dll") + 1;
    struct PathCase {
        const char* what;
        GUID* guid;
        int length;
        bool withBuffer;
        int expectedError;
        int expectedLength;
    } cases[] = {
        {"unknown provider", &unknown, MAX_PATH, true, WSAEINVAL, MAX_PATH},
        {"no GUID", nullptr, MAX_PATH, true, WSAEFAULT, MAX_PATH},
        {"buffer one short", &base, needed - 1, true, WSAEFAULT, needed},
        {"no buffer", &base, MAX_PATH, false, WSAEFAULT, needed},
        {"exact buffer", &base, needed, true, 0, needed},
    };
    for (const PathCase& row : cases) {
        SCOPED_TRACE(row.what);
        wchar_t path[MAX_PATH] = L"";
        int length = row.length;
        int error = 0xdeadbeef;
        int result = WSCGetProviderPath(row.guid, row.withBuffer ? path : nullptr, &length, &error);
        if (row.expectedError) {
            EXPECT_EQ(result, SOCKET_ERROR);
            EXPECT_EQ(error, row.expectedError);
        } else {
            EXPECT_EQ(result, 0) << error;
            EXPECT_STREQ(path, L"%WS2LAYER_HOME%\\basewsp.dll");
        }
        EXPECT_EQ(length, row.expectedLength);
    }
}

} // namespace
