// TransmitFile, fetched with SIO_GET_EXTENSION_FUNCTION_POINTER, sends a small temporary file
// framed by a head and a tail buffer; the receiver checks every byte.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <mswsock.h>
#include <string.h>

namespace {

constexpr int kFileLength = 10000;
const char kHead[] = "HEAD:";
const char kTail[] = ":TAIL";

HANDLE MakeTemporaryFile(const char* data, int length, char* path) {
    char folder[MAX_PATH];
    Check(GetTempPathA(sizeof folder, folder) != 0, "GetTempPathA failed (error %lu)", GetLastError());
    Check(GetTempFileNameA(folder, "kxs", 0, path) != 0, "GetTempFileNameA failed (error %lu)",
          GetLastError());
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    Check(file != INVALID_HANDLE_VALUE, "CreateFileA(%s) failed (error %lu)", path, GetLastError());
    DWORD written = 0;
    Check(WriteFile(file, data, length, &written, nullptr) && written == DWORD(length),
          "WriteFile wrote %lu of %d bytes", written, length);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    return file;
}

}  // namespace

int main() {
    SampleStart("transmitfile");
    TcpPair pair = MakeTcpPair(AF_INET);
    auto transmitFile =
        reinterpret_cast<LPFN_TRANSMITFILE>(LoadExtension(pair.client, WSAID_TRANSMITFILE));
    if (!transmitFile) {
        Skip("Wine lacks TransmitFile");
        CloseTcpPair(pair);
        return SampleFinish();
    }
    Step("fetched TransmitFile");

    static char content[kFileLength];
    FillPattern(content, kFileLength, 5);
    char path[MAX_PATH];
    HANDLE file = MakeTemporaryFile(content, kFileLength, path);
    Step("wrote %d bytes to the temporary file %s", kFileLength, path);

    TRANSMIT_FILE_BUFFERS frame = {const_cast<char*>(kHead), sizeof kHead - 1,
                                   const_cast<char*>(kTail), sizeof kTail - 1};
    WSAOVERLAPPED sending = {};
    sending.hEvent = WSACreateEvent();
    BOOL done = transmitFile(pair.client, file, 0, 0, &sending, &frame, 0);
    if (!done && WSAGetLastError() != WSA_IO_PENDING)
        Fail("TransmitFile failed: %s", WinsockErrorText(WSAGetLastError()));

    // Receive while the file is on its way: a full socket buffer would stall the sender.
    constexpr int total = sizeof kHead - 1 + kFileLength + sizeof kTail - 1;
    static char received[total];
    ReceiveExactly(pair.server, received, total);
    DWORD waited = WSAWaitForMultipleEvents(1, &sending.hEvent, TRUE, kWaitMs, FALSE);
    Check(waited == WSA_WAIT_EVENT_0, "TransmitFile did not complete within %lu ms", kWaitMs);
    DWORD sent = 0xdeadbeef, flags = 0;
    Check(WSAGetOverlappedResult(pair.client, &sending, &sent, FALSE, &flags),
          "TransmitFile failed: %s", WinsockErrorText(WSAGetLastError()));
    Check(sent == DWORD(total), "TransmitFile reports %lu bytes, expected %d", sent, total);
    Step("TransmitFile sent head, file and tail: %lu bytes", sent);

    Check(memcmp(received, kHead, sizeof kHead - 1) == 0, "the head did not arrive first");
    Check(memcmp(received + sizeof kHead - 1, content, kFileLength) == 0,
          "the file bytes arrived changed");
    Check(memcmp(received + sizeof kHead - 1 + kFileLength, kTail, sizeof kTail - 1) == 0,
          "the tail did not arrive last");
    Step("the receiver got all %d bytes in order and unchanged", total);

    WSACloseEvent(sending.hEvent);
    CloseHandle(file);
    CloseTcpPair(pair);
    return SampleFinish();
}
