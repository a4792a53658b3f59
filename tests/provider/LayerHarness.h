// Runs the layer's code inside the test process: a fake upcall table standing in for the Winsock
// layer, a catalog of our own making, and the two fake lower provider DLLs.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>
#include <string>
#include <vector>
#include "FakeLower.h"
#include "SocketContext.h"
#include "ViewerStandIn.h"

// Catalog ids of the test catalog.
const DWORD BaseTcpId = 1001, BaseUdpId = 1002, BaseTcp6Id = 1003;
const DWORD LayerId = 2000, LayerTcpChainId = 2001, LayerUdpChainId = 2002,
            LayerTcp6ChainId = 2003;
const DWORD OtherLayerId = 3000, OtherTcpChainId = 3001, OtherUdpChainId = 3002;

extern const GUID FakeBaseProviderId;
extern const GUID FakeOtherProviderId;

WSAPROTOCOL_INFOW BaseEntry(DWORD id, int family, int type, int protocol);
WSAPROTOCOL_INFOW LayerEntry(DWORD id, const GUID& providerId);
WSAPROTOCOL_INFOW ChainEntry(DWORD id, std::vector<DWORD> chain, const WSAPROTOCOL_INFOW& like);

// Our layer over base TCP, UDP and TCP over IPv6.
std::vector<WSAPROTOCOL_INFOW> StandardCatalog();

// What the fake catalog answers.
struct FakeCatalogScript {
    std::vector<WSAPROTOCOL_INFOW> entries;
    bool enumerateFails = false;
    bool providerPathFails = false;
    bool wideExpansionFails = false;   // forces the ANSI route
    int enumerateCalls = 0;
    int providerPathCalls = 0;
};
extern FakeCatalogScript fakeCatalog;

// The fake Winsock layer's handle table.
struct FakeUpcalls {
    int createError = 0;   // non-zero: WPUCreateSocketHandle fails with it
    int closeError = 0;    // non-zero: WPUCloseSocketHandle fails with it
    int created = 0;
    int closed = 0;
    DWORD lastCatalogId = 0;
    void (*onClose)(SOCKET handle) = nullptr;   // runs as WPUCloseSocketHandle begins
    int apcCalls = 0;      // WPUQueueApc, which queues a real APC
    // WPUCompleteOverlappedRequest, which writes Internal and InternalHigh and signals the event
    volatile LONG completions = 0;
    SOCKET completedSocket = 0;
    LPWSAOVERLAPPED completedOverlapped = nullptr;
    DWORD completedError = 0, completedBytes = 0;
    // WPUOpenCurrentThread and WPUCloseThread, which open and close a real thread handle
    volatile LONG threadsOpened = 0, threadsClosed = 0;
};
extern FakeUpcalls fakeUpcalls;
WSPUPCALLTABLE FakeUpcallTable();
bool IsHandleOpen(SOCKET handle);
// A handle the fake layer never made.
const SOCKET UnknownHandle = 0x7777;

// Starts the layer over the fake catalog with the fake upcalls.
int StartLayer(WSPPROC_TABLE* table, WSPDATA* data = nullptr, WORD version = MAKEWORD(2, 2),
               WSAPROTOCOL_INFOW* protocolInfo = nullptr);

// Points the channel at a collecting window, as a successful claim would.
void TraceTo(ViewerStandIn& viewer, DWORD detailLevel);
void StopTracing();

std::string TextOf(const Record& record);
std::vector<std::string> TextsOf(const std::vector<Record>& records);

// Each test starts with no start-up, a fresh fake catalog and fresh fake providers, and leaves
// the layer torn down.
#include <gtest/gtest.h>
class LayerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void CleanUpLayer();

    FakeLowerControl* base = nullptr;    // fakelower.dll
    FakeLowerControl* other = nullptr;   // fakeother.dll
    CompleteFakeOperationFunction completeBase = nullptr;   // fakelower.dll's
    WSPPROC_TABLE table = {};
    int error = 0;
private:
    HMODULE baseModule = nullptr;
    HMODULE otherModule = nullptr;
};

// A LayerTest with a viewer stand-in window that accepts every record; tracing is started by
// the test itself (TraceTo), before or after the start-up as it needs.
class ViewerLayerTest : public LayerTest {
protected:
    void SetUp() override
    {
        LayerTest::SetUp();
        ASSERT_TRUE(viewer.Open(Medium, FILETIME{}, false));
        viewer.SetPolicy(ReplyPolicy::AcceptAll);
    }
    void TearDown() override
    {
        LayerTest::TearDown();
        viewer.Close();
    }
    // The socket's context, looked up and let go again: for reading its state.
    SocketContext* ContextOf(SOCKET s)
    {
        int lookupError = 0;
        SocketContext* context = FindContext(s, &lookupError);
        if (context)
            ReleaseContext(context, &lookupError);
        return context;
    }
    // A socket number as the texts write it.
    static std::string N(SOCKET s) { return std::to_string(static_cast<long>(s)); }
    ViewerStandIn viewer;
};
