// A scriptable lower provider for the unit tests. The same code is built as two DLLs
// (fakelower.dll for base entries, fakeother.dll for a second layer), each with its own state,
// reached through the export GetFakeLowerControl.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>

const int FakeSocketLimit = 64;

struct FakeLowerControl {
    // Script
    int startupResult;         // what WSPStartup returns
    int nullEntry;             // procedure-table slot left null, or -1
    int socketError;           // non-zero: WSPSocket fails with it
    int closeError;            // non-zero: WSPCloseSocket fails with it
    SOCKET lingerFailSocket;   // setting SO_LINGER on this socket fails
    int readyCount;            // sockets WSPSelect reports readable (the first ones of the read set)

    // What was seen
    int startupCalls;
    int cleanupCalls;
    WORD startupVersion;
    BOOL startupInfoGiven;
    WSAPROTOCOL_INFOW startupInfo;
    int socketCalls;
    int socketFamily, socketType, socketProtocol;
    WSAPROTOCOL_INFOW socketInfo;
    SOCKET nextSocket;
    int closeCalls;
    SOCKET closed[FakeSocketLimit];
    int lingerCalls;
    linger lastLinger;
    int lastOptionName;
    SOCKET lastOptionValue;      // first word of the last option value set
    int selectCalls;
    u_int selectReadCount;
    SOCKET selectRead[FakeSocketLimit];
    int sendCalls;
    SOCKET lastSocket;           // the socket the last socket-taking entry received
};

typedef FakeLowerControl* (*GetFakeLowerControlFunction)();

// Fresh state: everything succeeds, sockets are numbered from firstSocket.
inline void ResetFakeLower(FakeLowerControl* control, SOCKET firstSocket)
{
    *control = FakeLowerControl{};
    control->nullEntry = -1;
    control->nextSocket = firstSocket;
}
