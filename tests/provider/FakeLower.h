// A scriptable lower provider for the unit tests. The same code is built as two DLLs
// (fakelower.dll for base entries, fakeother.dll for a second layer), each with its own state,
// reached through the export GetFakeLowerControl.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>

const int FakeSocketLimit = 64;
const int FakeDataLimit = 256;
const int FakePendingLimit = 1024;

// One overlapped call as the fake provider keeps it until the test completes it.
struct FakePending {
    SOCKET socket;
    BOOL receive;
    LPWSABUF buffers;
    DWORD bufferCount;
    LPDWORD bytes;
    LPDWORD flags;
    LPWSAOVERLAPPED overlapped;
    LPWSAOVERLAPPED_COMPLETION_ROUTINE routine;
    WSATHREADID thread;
    DWORD error;                 // set when completed
    DWORD transferred;
    BOOL completed;
    BOOL extension;              // made by an extension function, which gets no buffer array:
    WSABUF extensionBuffer;      // its one buffer, if any, is kept here
};

struct FakeLowerControl {
    // Script
    int startupResult;         // what WSPStartup returns
    int nullEntry;             // procedure-table slot left null, or -1
    int socketError;           // non-zero: WSPSocket fails with it
    int closeError;            // non-zero: WSPCloseSocket fails with it
    SOCKET lingerFailSocket;   // setting SO_LINGER on this socket fails
    int readyCount;            // sockets WSPSelect reports readable (the first ones of the read set)
    int connectionError;       // non-zero: bind, listen, connect, the names, join, the two
                               // selects, duplication and the protocol record fail with it
    WSAPROTOCOL_INFOW description;   // every socket's protocol record (SO_PROTOCOL_INFO and
                                     // duplication)
    DWORD duplicateKey;        // what duplication leaves in dwProviderReserved
    BOOL joinMakesSocket;      // WSPJoinLeaf answers with a new socket, not the joining one
    int optionValue;           // what WSPGetSockOpt reads for every option
    int setOptionError;        // non-zero: WSPSetSockOpt fails with it
    DWORD lastControlCode;     // the last WSPIoctl code other than the extension request
    LPARAM notifyOnAccept;     // non-zero: WSPAccept posts this event for the new socket to the
                               // selected window, as a provider below may, and waits a while
                               // before it returns
    HWND selectWindow;         // what the last WSPAsyncSelect was given
    UINT selectMessage;
    LONG selectEvents;

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
    int lastOptionLength;
    int selectCalls;
    u_int selectReadCount;
    SOCKET selectRead[FakeSocketLimit];
    int sendCalls;
    SOCKET lastSocket;           // the socket the last socket-taking entry received

    // Data calls. A receive delivers data (as much as the buffers hold) with receiveFlags and,
    // for WSPRecvFrom, source as the sender; a send takes every byte offered.
    BYTE data[FakeDataLimit];
    DWORD dataLength;
    DWORD receiveFlags;
    sockaddr_in source;
    int transferError;           // non-zero: data calls fail at once with it
    BOOL completeAtOnce;         // overlapped calls finish at once instead of waiting
    int transferCalls;
    DWORD lastFlags;             // the flags value of the last send
    BYTE sent[FakeDataLimit];    // what the last send gathered
    DWORD sentLength;
    DWORD callThreads[FakeSocketLimit];   // the thread of each data call, in order
    DWORD callOrder[FakeSocketLimit];     // first byte offered by each send, in order
    FakePending pending[FakePendingLimit];
    volatile LONG pendingCount;  // overlapped calls seen, each one entry of pending, counted
                                 // once the entry is filled

    // Extension functions, handed out by WSPIoctl. An overlapped call goes pending (an entry of
    // pending, completed by the test) unless completeAtOnce; AcceptEx and WSARecvMsg receive
    // data, ConnectEx sends its buffer, the others move extensionBytes.
    int extensionFetches;        // SIO_GET_EXTENSION_FUNCTION_POINTER requests answered
    int extensionFetchError;     // non-zero: those requests fail with it
    int extensionError;          // non-zero: the extension functions fail at once with it
    int extensionCalls;
    SOCKET extensionSockets[2];  // what the last call got: its socket (AcceptEx: both)
    LPWSAOVERLAPPED extensionOverlapped;
    DWORD extensionBytes;
    sockaddr_in connectTarget;   // the address the last ConnectEx got
    int connectTargetLength;
    int sockaddrsCalls;          // GetAcceptExSockaddrs, which names source as the peer
};

typedef FakeLowerControl* (*GetFakeLowerControlFunction)();
// Finishes pending[index] with error: a receive then delivers data; the completion routine it
// was given is queued to the thread it was given. FALSE for an entry already completed.
typedef BOOL (*CompleteFakeOperationFunction)(int index, DWORD error);

// Fresh state: everything succeeds, sockets are numbered from firstSocket.
inline void ResetFakeLower(FakeLowerControl* control, SOCKET firstSocket)
{
    *control = FakeLowerControl{};
    control->nullEntry = -1;
    control->nextSocket = firstSocket;
}
