// The extension functions handed out by WSPIoctl, driven on real loopback sockets.
#include "BaseProviderHarness.h"

#include <mswsock.h>

#include <cstring>
#include <string>

namespace {

template <typename Function>
Function Extension(BaseProviderTest& t, SOCKET s, GUID id)
{
    Function function = nullptr;
    DWORD returned = 0xdeadbeef;
    int error = 0xdeadbeef;
    int result = t.table.lpWSPIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id,
                                    &function, sizeof function, &returned, nullptr, nullptr,
                                    nullptr, &error);
    EXPECT_EQ(result, 0) << "error " << error;
    EXPECT_EQ(returned, sizeof function);
    return function;
}

// A temporary file holding text, deleted when closed.
HANDLE TextFile(const char* text, DWORD flags = 0)
{
    wchar_t directory[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, directory);
    GetTempFileNameW(directory, L"bwp", 0, path);
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_DELETE_ON_CLOSE | flags, nullptr);
    DWORD written = 0;
    OVERLAPPED at{};
    at.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!WriteFile(file, text, strlen(text), &written, &at))
        GetOverlappedResult(file, &at, &written, TRUE);
    CloseHandle(at.hEvent);
    return file;
}

} // namespace

TEST_F(BaseProviderTest, AcceptExAndConnectExMakeAConnectionWithItsAddresses)
{
    sockaddr_storage address;
    SOCKET listener = Listener(tcp4, &address);
    SOCKET accepted = Socket(tcp4);
    auto acceptEx = Extension<LPFN_ACCEPTEX>(*this, listener, WSAID_ACCEPTEX);
    auto addresses =
        Extension<LPFN_GETACCEPTEXSOCKADDRS>(*this, listener, WSAID_GETACCEPTEXSOCKADDRS);
    ASSERT_TRUE(acceptEx && addresses);

    const DWORD addressSpace = sizeof(sockaddr_in) + 16;
    char buffer[4 + 2 * addressSpace];
    WSAOVERLAPPED accepting{};
    accepting.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD count = 0xdeadbeef;
    ASSERT_FALSE(acceptEx(listener, accepted, buffer, 4, addressSpace, addressSpace, &count,
                          &accepting));
    ASSERT_EQ(WSAGetLastError(), WSA_IO_PENDING);

    // ConnectEx needs a bound socket; it sends its first bytes with the connection.
    SOCKET client = Socket(tcp4);
    sockaddr_storage any = Loopback(AF_INET);
    int error = 0xdeadbeef;
    ASSERT_EQ(table.lpWSPBind(client, reinterpret_cast<sockaddr*>(&any), sizeof(sockaddr_in),
                              &error), 0) << "error " << error;
    auto connectEx = Extension<LPFN_CONNECTEX>(*this, client, WSAID_CONNECTEX);
    ASSERT_NE(connectEx, nullptr);
    WSAOVERLAPPED connecting{};
    connecting.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    char first[] = "abcd";
    BOOL done = connectEx(client, reinterpret_cast<sockaddr*>(&address), sizeof(sockaddr_in),
                          first, 4, &count, &connecting);
    ASSERT_TRUE(done || WSAGetLastError() == WSA_IO_PENDING) << WSAGetLastError();
    DWORD flags = 0;
    ASSERT_TRUE(table.lpWSPGetOverlappedResult(client, &connecting, &count, TRUE, &flags, &error))
        << "error " << error;
    EXPECT_EQ(count, 4u);

    ASSERT_EQ(WaitForSingleObject(accepting.hEvent, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(table.lpWSPGetOverlappedResult(listener, &accepting, &count, TRUE, &flags,
                                               &error)) << "error " << error;
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    sockaddr *local = nullptr, *remote = nullptr;
    int localLength = 0, remoteLength = 0;
    addresses(buffer, 4, addressSpace, addressSpace, &local, &localLength, &remote,
              &remoteLength);
    ASSERT_TRUE(local && remote);
    EXPECT_EQ(localLength, int(sizeof(sockaddr_in)));
    EXPECT_EQ(reinterpret_cast<sockaddr_in*>(local)->sin_port,
              reinterpret_cast<sockaddr_in*>(&address)->sin_port);

    SOCKET listenerValue = listener;
    ASSERT_EQ(table.lpWSPSetSockOpt(accepted, SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT,
                                    reinterpret_cast<char*>(&listenerValue), sizeof listenerValue,
                                    &error), 0) << "error " << error;
    SendText(accepted, "ok");
    EXPECT_EQ(ReceiveText(client, 2), "ok");

    auto disconnectEx = Extension<LPFN_DISCONNECTEX>(*this, client, WSAID_DISCONNECTEX);
    ASSERT_NE(disconnectEx, nullptr);
    EXPECT_TRUE(disconnectEx(client, nullptr, 0, 0)) << WSAGetLastError();
    EXPECT_EQ(ReceiveText(accepted, 1), "");
    CloseHandle(accepting.hEvent);
    CloseHandle(connecting.hEvent);
    Close(client);
    Close(accepted);
    Close(listener);
}

TEST_F(BaseProviderTest, TransmitFileSendsHeadFileAndTail)
{
    SOCKET client, server;
    ConnectedPair(tcp4, &client, &server);
    auto transmitFile = Extension<LPFN_TRANSMITFILE>(*this, client, WSAID_TRANSMITFILE);
    ASSERT_NE(transmitFile, nullptr);
    HANDLE file = TextFile("-body-");
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char head[] = "<h>", tail[] = "<t>";
    TRANSMIT_FILE_BUFFERS parts{head, 3, tail, 3};
    EXPECT_TRUE(transmitFile(client, file, 0, 0, nullptr, &parts, 0)) << WSAGetLastError();
    EXPECT_EQ(ReceiveText(server, 12), "<h>-body-<t>");
    CloseHandle(file);
    Close(client);
    Close(server);
}

TEST_F(BaseProviderTest, TransmitPacketsSendsMemoryAndFileElements)
{
    SOCKET client, server;
    ConnectedPair(tcp4, &client, &server);
    auto transmitPackets = Extension<LPFN_TRANSMITPACKETS>(*this, client, WSAID_TRANSMITPACKETS);
    ASSERT_NE(transmitPackets, nullptr);
    HANDLE file = TextFile("0123456789");
    HANDLE overlappedFile = TextFile("abcdef", FILE_FLAG_OVERLAPPED);
    char memory[] = "mem";

    TRANSMIT_PACKETS_ELEMENT memoryPart{};
    memoryPart.dwElFlags = TP_ELEMENT_MEMORY;
    memoryPart.cLength = 3;
    memoryPart.pBuffer = memory;
    TRANSMIT_PACKETS_ELEMENT middleOfFile{};
    middleOfFile.dwElFlags = TP_ELEMENT_FILE;
    middleOfFile.cLength = 4;
    middleOfFile.nFileOffset.QuadPart = 3;
    middleOfFile.hFile = file;
    TRANSMIT_PACKETS_ELEMENT restOfFile = middleOfFile;
    restOfFile.cLength = 0;
    restOfFile.nFileOffset.QuadPart = 8;
    TRANSMIT_PACKETS_ELEMENT wholeOverlappedFile{};
    wholeOverlappedFile.dwElFlags = TP_ELEMENT_FILE;
    wholeOverlappedFile.hFile = overlappedFile;
    TRANSMIT_PACKETS_ELEMENT both = memoryPart;
    both.dwElFlags = TP_ELEMENT_MEMORY | TP_ELEMENT_FILE;
    TRANSMIT_PACKETS_ELEMENT pastTheEnd = middleOfFile;
    pastTheEnd.nFileOffset.QuadPart = 9;

    struct Row {
        const char* name;
        std::vector<TRANSMIT_PACKETS_ELEMENT> elements;
        bool overlapped;
        const char* expected; // nullptr: fails with WSAEINVAL
    } rows[] = {
        {"memory, synchronous", {memoryPart, memoryPart}, false, "memmem"},
        {"memory, overlapped", {memoryPart}, true, "mem"},
        {"file ranges, synchronous", {middleOfFile, memoryPart, restOfFile}, false, "3456mem89"},
        {"file ranges, overlapped", {restOfFile, wholeOverlappedFile}, true, "89abcdef"},
        {"memory and file flags at once", {both}, false, nullptr},
        {"file shorter than the element", {pastTheEnd}, false, nullptr},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.name);
        WSAOVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        WSASetLastError(0xdeadbeef);
        BOOL result = transmitPackets(client, row.elements.data(), row.elements.size(), 0,
                                      row.overlapped ? &overlapped : nullptr, 0);
        if (!row.expected) {
            EXPECT_FALSE(result);
            EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
        } else {
            size_t length = strlen(row.expected);
            if (row.overlapped) {
                ASSERT_TRUE(result || WSAGetLastError() == WSA_IO_PENDING) << WSAGetLastError();
                DWORD sent = 0xdeadbeef, flags = 0;
                int error = 0xdeadbeef;
                ASSERT_TRUE(table.lpWSPGetOverlappedResult(client, &overlapped, &sent, TRUE,
                                                           &flags, &error)) << "error " << error;
                EXPECT_EQ(sent, length);
            } else {
                EXPECT_TRUE(result) << WSAGetLastError();
            }
            EXPECT_EQ(ReceiveText(server, length), row.expected);
        }
        CloseHandle(overlapped.hEvent);
    }

    // A disconnect after the packets ends the stream.
    EXPECT_TRUE(transmitPackets(client, &memoryPart, 1, 0, nullptr, TF_DISCONNECT));
    EXPECT_EQ(ReceiveText(server, 4), "mem");
    CloseHandle(file);
    CloseHandle(overlappedFile);
    Close(client);
    Close(server);
}

TEST_F(BaseProviderTest, RecvMsgReceivesADatagramWithItsSender)
{
    sockaddr_storage address;
    SOCKET receiver = Listener(udp4, &address);
    auto recvMsg = Extension<LPFN_WSARECVMSG>(*this, receiver, WSAID_WSARECVMSG);
    ASSERT_NE(recvMsg, nullptr);
    SOCKET sender = Socket(udp4);
    char text[] = "msg";
    WSABUF out{3, text};
    DWORD count = 0xdeadbeef;
    int error = 0xdeadbeef;
    ASSERT_EQ(table.lpWSPSendTo(sender, &out, 1, &count, 0, reinterpret_cast<sockaddr*>(&address),
                                sizeof(sockaddr_in), nullptr, nullptr, nullptr, &error), 0)
        << "error " << error;

    char received[8] = {};
    WSABUF in{sizeof received, received};
    sockaddr_in from{};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&from);
    message.namelen = sizeof from;
    message.lpBuffers = &in;
    message.dwBufferCount = 1;
    count = 0xdeadbeef;
    ASSERT_EQ(recvMsg(receiver, &message, &count, nullptr, nullptr), 0) << WSAGetLastError();
    EXPECT_EQ(std::string(received, count), "msg");
    EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    Close(sender);
    Close(receiver);
}

TEST_F(BaseProviderTest, UnknownExtensionIsRefused)
{
    SOCKET s = Socket(tcp4);
    GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* function = reinterpret_cast<void*>(0xdeadbeef);
    DWORD returned = 0;
    int error = 0xdeadbeef;
    EXPECT_EQ(table.lpWSPIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &unknown, sizeof unknown,
                               &function, sizeof function, &returned, nullptr, nullptr, nullptr,
                               &error), SOCKET_ERROR);
    EXPECT_NE(error, static_cast<int>(0xdeadbeef));
    EXPECT_NE(error, 0);
    Close(s);
}
