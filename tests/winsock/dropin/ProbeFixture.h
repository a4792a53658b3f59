// Test support: the drop-in with the probe provider installed for a family of its own, and the
// helpers the probe tests share.
#pragma once
#include "CatalogSnapshot.h"
#include "ProbeProvider.h"

inline GUID ProbeGuid()
{
    return TestGuid(0x70);
}

class ProbeRouting : public CatalogTest {
protected:
    void SetUp() override
    {
        CatalogTest::SetUp();
        DeleteStoredCatalog();
        // Two entries of one DLL: a stream and a datagram one.
        WSAPROTOCOL_INFOW entries[2] = {EntryLike(BASE_PROTOCOL, L"probe stream"),
                                        EntryLike(BASE_PROTOCOL, L"probe datagram")};
        for (auto& entry : entries) {
            entry.iAddressFamily = probeFamily;
            entry.dwServiceFlags1 &= ~XP1_IFS_HANDLES;
        }
        entries[1].iSocketType = SOCK_DGRAM;
        entries[1].iProtocol = IPPROTO_UDP;
        GUID guid = ProbeGuid();
        int error = 0xdeadbeef;
        ASSERT_EQ(WSCInstallProvider(&guid, L"%WS2LAYER_HOME%\\probewsp.dll", entries, 2, &error),
                  0)
            << error;
        probeId = CatalogEntries().at(seededIds.size()).dwCatalogEntryId;
        // The test keeps its own reference, so the counters outlive the layer's cleanups.
        probe = LoadLibraryW(L"probewsp.dll");
        ASSERT_NE(probe, nullptr);
        state = reinterpret_cast<ProbeStateFunction>(
            reinterpret_cast<void*>(GetProcAddress(probe, "ProbeGetState")))();
        state->startups = state->cleanups = 0;
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override
    {
        WSACleanup();
        FreeLibrary(probe);
        CatalogTest::TearDown();
    }
    SOCKET ProbeSocket()
    {
        SOCKET s = socket(probeFamily, SOCK_STREAM, 0);
        EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
        return s;
    }
    DWORD_PTR ContextOf(SOCKET s, int* error)
    {
        DWORD_PTR context = 0xdeadbeef;
        DWORD returned = 0;
        WSASetLastError(0xdeadbeef);
        int result = WSAIoctl(s, probeQueryContext, nullptr, 0, &context, sizeof context,
                              &returned, nullptr, nullptr);
        *error = result == 0 ? 0 : WSAGetLastError();
        return context;
    }

    HMODULE probe = nullptr;
    ProbeState* state = nullptr;
    DWORD probeId = 0;
};
