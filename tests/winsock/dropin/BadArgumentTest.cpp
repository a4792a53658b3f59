// What a program gets for bad arguments to WSASocketW, WSADuplicateSocketW and the thread's
// SO_OPENTYPE under the drop-in, row by row against Wine's own library in the same process:
// alike, except where the drop-in's catalog decides as Windows does (winsock/README.md says why
// for each).
#include "CatalogSnapshot.h"

#include <mswsock.h>

namespace {

// The calls of one library: Wine's own, loaded by its full path, or the drop-in (this
// program's ws2_32 import).
struct Library {
    const char* name;
    decltype(&WSASocketW) socket;
    decltype(&WSADuplicateSocketW) duplicate;
    decltype(&closesocket) close;
    decltype(&getsockopt) getOption;
    decltype(&setsockopt) setOption;
};

template <typename Function>
Function Find(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class BadArguments : public CatalogTest {
protected:
    void SetUp() override
    {
        CatalogTest::SetUp();
        DeleteStoredCatalog(); // the seed alone, with no layer above it
        wchar_t path[MAX_PATH];
        GetSystemDirectoryW(path, MAX_PATH);
        lstrcatW(path, L"\\ws2_32.dll");
        wineModule = LoadLibraryW(path);
        ASSERT_NE(wineModule, nullptr);
        auto startup = Find<decltype(&WSAStartup)>(wineModule, "WSAStartup");
        wine = {"Wine's own", Find<decltype(&WSASocketW)>(wineModule, "WSASocketW"),
                Find<decltype(&WSADuplicateSocketW)>(wineModule, "WSADuplicateSocketW"),
                Find<decltype(&closesocket)>(wineModule, "closesocket"),
                Find<decltype(&getsockopt)>(wineModule, "getsockopt"),
                Find<decltype(&setsockopt)>(wineModule, "setsockopt")};
        WSADATA data;
        ASSERT_TRUE(startup && wine.socket && wine.duplicate && wine.close && wine.getOption &&
                    wine.setOption);
        ASSERT_EQ(startup(MAKEWORD(2, 2), &data), 0);
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override
    {
        WSACleanup();
        Find<decltype(&WSACleanup)>(wineModule, "WSACleanup")();
        FreeLibrary(wineModule);
        CatalogTest::TearDown();
    }
    // The error, which is 0 after a socket is made (and closed again at once).
    static int SocketError(const Library& library, int af, int type, int protocol,
                           LPWSAPROTOCOL_INFOW info)
    {
        WSASetLastError(0xdeadbeef);
        SOCKET s = library.socket(af, type, protocol, info, 0, WSA_FLAG_OVERLAPPED);
        int error = WSAGetLastError();
        if (s != INVALID_SOCKET)
            library.close(s);
        return error;
    }

    HMODULE wineModule = nullptr;
    Library wine{};
    Library dropin{"the drop-in", WSASocketW, WSADuplicateSocketW, closesocket, getsockopt,
                   setsockopt};
};

constexpr int alike = -1; // the drop-in gives what Wine's own gives

TEST_F(BadArguments, WSASocketGivesWinesErrorsButWhereTheCatalogDecides)
{
    WSAPROTOCOL_INFOW zeroed{};
    WSAPROTOCOL_INFOW unknownFamily = CatalogEntries().at(0);
    unknownFamily.iAddressFamily = 999;
    WSAPROTOCOL_INFOW unknownId = CatalogEntries().at(0);
    unknownId.dwCatalogEntryId = 999999;
    WSAPROTOCOL_INFOW noFamily = CatalogEntries().at(0);
    noFamily.iAddressFamily = noFamily.iSocketType = noFamily.iProtocol = 0;
    struct Row {
        const char* name;
        int af, type, protocol;
        LPWSAPROTOCOL_INFOW info;
        int wineError;   // alike: not checked apart
        int dropinError; // alike, or the drop-in's own answer
    } rows[] = {
        {"unknown family", 999, SOCK_STREAM, 0, nullptr, WSAEAFNOSUPPORT, alike},
        {"unknown type", AF_INET, 99, 0, nullptr, WSAESOCKTNOSUPPORT, alike},
        {"unknown protocol", AF_INET, SOCK_STREAM, 9999, nullptr, WSAEPROTONOSUPPORT, alike},
        {"stream over UDP", AF_INET, SOCK_STREAM, IPPROTO_UDP, nullptr, WSAEPROTONOSUPPORT, alike},
        {"datagram over TCP", AF_INET, SOCK_DGRAM, IPPROTO_TCP, nullptr, WSAEPROTONOSUPPORT, alike},
        {"nothing given", AF_UNSPEC, 0, 0, nullptr, WSAEINVAL, alike},
        {"type without family", AF_UNSPEC, SOCK_STREAM, 0, nullptr, WSAEINVAL, alike},
        {"protocol without family", AF_UNSPEC, 0, IPPROTO_TCP, nullptr, 0, alike},
        {"family alone", AF_INET, 0, 0, nullptr, 0, alike},
        {"sequenced packets", AF_INET, SOCK_SEQPACKET, 0, nullptr, WSAESOCKTNOSUPPORT, alike},
        {"IPX", AF_IPX, SOCK_DGRAM, 0, nullptr, WSAEAFNOSUPPORT, alike},
        {"zeroed information", FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
         &zeroed, WSAEINVAL, alike},
        {"information of no family", FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
         &unknownFamily, WSAEAFNOSUPPORT, alike},
        {"information with family, type and protocol zeroed", 0, 0, IPPROTO_UDP, &noFamily,
         WSAEAFNOSUPPORT, alike},
        // A type nothing has is named first, then the family.
        {"all three bad", -1, -1, -1, nullptr, WSAESOCKTNOSUPPORT, alike},
        {"family and type bad", 999, 99, 0, nullptr, WSAESOCKTNOSUPPORT, alike},
        {"family and type bad, protocol good", 999, 99, IPPROTO_TCP, nullptr,
         WSAESOCKTNOSUPPORT, alike},
        // Wine's own answers with its Unix socket call's error; the catalog names the family,
        // as Windows does.
        {"family and protocol bad", 999, SOCK_STREAM, 9999, nullptr, WSAEPROTONOSUPPORT,
         WSAEAFNOSUPPORT},
        // Windows looks the entry up by its id; Wine's own has no catalog to look in.
        {"unknown catalog id", FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
         &unknownId, 0, WSAEINVAL},
        // With no type, the catalog finds the raw entry whose range holds the protocol.
        {"IPv6 raw protocol without type", AF_INET6, 0, IPPROTO_RAW, nullptr, WSAESOCKTNOSUPPORT,
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        int wineError = SocketError(wine, row.af, row.type, row.protocol, row.info);
        int dropinError = SocketError(dropin, row.af, row.type, row.protocol, row.info);
        EXPECT_EQ(wineError, row.wineError) << "Wine's own";
        EXPECT_EQ(dropinError, row.dropinError == alike ? wineError : row.dropinError)
            << "the drop-in";
    }
    // Raw sockets come from the seeded raw entries and are made by Wine's own, so what a root
    // user gets (a socket, or for IPv6 protocol 0 and ICMPv6 an error) and what others get
    // (an error) is the same under both.
    struct Raw {
        int af, protocol;
    } raws[] = {{AF_INET, IPPROTO_ICMP}, {AF_INET, IPPROTO_RAW}, {AF_INET, 0},
                {AF_INET, 9999},         {AF_INET6, IPPROTO_ICMPV6}, {AF_INET6, 0},
                {AF_INET6, IPPROTO_RAW}};
    for (const Raw& raw : raws) {
        SCOPED_TRACE(testing::Message() << "raw, family " << raw.af << " protocol "
                                        << raw.protocol);
        EXPECT_EQ(SocketError(dropin, raw.af, SOCK_RAW, raw.protocol, nullptr),
                  SocketError(wine, raw.af, SOCK_RAW, raw.protocol, nullptr));
    }
}

TEST_F(BadArguments, WSADuplicateSocketGivesWinesErrors)
{
    for (const Library* library : {&wine, &dropin}) {
        SCOPED_TRACE(library->name);
        SOCKET s = library->socket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                   WSA_FLAG_OVERLAPPED);
        ASSERT_NE(s, INVALID_SOCKET) << WSAGetLastError();
        WSAPROTOCOL_INFOW info;
        struct Row {
            const char* name;
            SOCKET socket;
            DWORD process;
            LPWSAPROTOCOL_INFOW info;
            int expectedError;
        } rows[] = {
            {"no socket", 0x7ff0, GetCurrentProcessId(), &info, WSAENOTSOCK},
            {"INVALID_SOCKET", INVALID_SOCKET, GetCurrentProcessId(), &info, WSAENOTSOCK},
            {"null information", s, GetCurrentProcessId(), nullptr, WSAEFAULT},
            // The handle is checked first, then the process, then the structure.
            {"no socket, null information", 0, 0, nullptr, WSAENOTSOCK},
            {"process 0, null information", s, 0, nullptr, WSAEINVAL},
            {"process 0", s, 0, &info, WSAEINVAL},
            {"no such process", s, 0x7ffffff0, &info, WSAEINVAL},
            {"this process", s, GetCurrentProcessId(), &info, 0},
        };
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            WSASetLastError(0xdeadbeef);
            int result = library->duplicate(row.socket, row.process, row.info);
            EXPECT_EQ(result == 0 ? 0 : WSAGetLastError(), row.expectedError);
        }
        library->close(s);
    }
}

TEST_F(BadArguments, OpenTypeLengthsAndErrorsAreWines)
{
    // The option belongs to the thread, so no socket is needed; a negative length reads as a
    // large one, and success clears the thread's error.
    const int lengths[] = {-1, 0, 1, 3, 4, 8};
    for (int length : lengths) {
        SCOPED_TRACE(testing::Message() << "length " << length);
        int results[2], errors[2], lengthsAfter[2];
        const Library* libraries[] = {&wine, &dropin};
        for (int i = 0; i < 2; ++i) {
            UINT64 value = 0;
            WSASetLastError(0xdeadbeef);
            results[i] = libraries[i]->setOption(INVALID_SOCKET, SOL_SOCKET, SO_OPENTYPE,
                                                 reinterpret_cast<char*>(&value), length);
            errors[i] = WSAGetLastError();
        }
        EXPECT_EQ(results[1], results[0]) << "setsockopt";
        EXPECT_EQ(errors[1], errors[0]) << "setsockopt";
        for (int i = 0; i < 2; ++i) {
            UINT64 value = 0;
            lengthsAfter[i] = length;
            WSASetLastError(0xdeadbeef);
            results[i] = libraries[i]->getOption(INVALID_SOCKET, SOL_SOCKET, SO_OPENTYPE,
                                                 reinterpret_cast<char*>(&value), &lengthsAfter[i]);
            errors[i] = WSAGetLastError();
        }
        EXPECT_EQ(results[1], results[0]) << "getsockopt";
        EXPECT_EQ(errors[1], errors[0]) << "getsockopt";
        EXPECT_EQ(lengthsAfter[1], lengthsAfter[0]) << "getsockopt";
    }
}

} // namespace
