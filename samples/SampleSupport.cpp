#include "SampleSupport.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

const char* sampleName = "sample";
CRITICAL_SECTION outputLock;

struct ErrorName {
    int code;
    const char* name;
};

#define ERROR_ROW(code) {code, #code}
const ErrorName errorNames[] = {
    ERROR_ROW(WSAEINTR),         ERROR_ROW(WSAEBADF),          ERROR_ROW(WSAEACCES),
    ERROR_ROW(WSAEFAULT),        ERROR_ROW(WSAEINVAL),         ERROR_ROW(WSAEMFILE),
    ERROR_ROW(WSAEWOULDBLOCK),   ERROR_ROW(WSAEINPROGRESS),    ERROR_ROW(WSAEALREADY),
    ERROR_ROW(WSAENOTSOCK),      ERROR_ROW(WSAEDESTADDRREQ),   ERROR_ROW(WSAEMSGSIZE),
    ERROR_ROW(WSAEPROTOTYPE),    ERROR_ROW(WSAENOPROTOOPT),    ERROR_ROW(WSAEPROTONOSUPPORT),
    ERROR_ROW(WSAEOPNOTSUPP),    ERROR_ROW(WSAEAFNOSUPPORT),   ERROR_ROW(WSAEADDRINUSE),
    ERROR_ROW(WSAEADDRNOTAVAIL), ERROR_ROW(WSAENETDOWN),       ERROR_ROW(WSAENETUNREACH),
    ERROR_ROW(WSAECONNABORTED),  ERROR_ROW(WSAECONNRESET),     ERROR_ROW(WSAENOBUFS),
    ERROR_ROW(WSAEISCONN),       ERROR_ROW(WSAENOTCONN),       ERROR_ROW(WSAESHUTDOWN),
    ERROR_ROW(WSAETIMEDOUT),     ERROR_ROW(WSAECONNREFUSED),   ERROR_ROW(WSAEHOSTUNREACH),
    ERROR_ROW(WSANOTINITIALISED), ERROR_ROW(WSA_IO_PENDING),   ERROR_ROW(WSA_IO_INCOMPLETE),
    ERROR_ROW(WSA_INVALID_HANDLE), ERROR_ROW(WSA_INVALID_PARAMETER),
    ERROR_ROW(WSA_OPERATION_ABORTED),
};
#undef ERROR_ROW

void PrintLine(const char* prefix, const char* format, va_list args) {
    EnterCriticalSection(&outputLock);
    printf("%s: %s", sampleName, prefix);
    vprintf(format, args);
    printf("\n");
    fflush(stdout);
    LeaveCriticalSection(&outputLock);
}

DWORD WINAPI Watchdog(void* limit) {
    DWORD limitMs = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(limit));
    Sleep(limitMs);
    Fail("no result within %lu ms", limitMs);
}

}  // namespace

void SampleStart(const char* name, DWORD timeLimitMs) {
    sampleName = name;
    InitializeCriticalSection(&outputLock);
    HANDLE watchdog = CreateThread(nullptr, 0, Watchdog,
                                   reinterpret_cast<void*>(static_cast<UINT_PTR>(timeLimitMs)), 0,
                                   nullptr);
    if (!watchdog)
        Fail("could not start the watchdog thread (error %lu)", GetLastError());
    CloseHandle(watchdog);
    WSADATA data;
    int error = WSAStartup(MAKEWORD(2, 2), &data);
    if (error != 0)
        Fail("WSAStartup failed: %s", WinsockErrorText(error));
    Step("Winsock %d.%d started", LOBYTE(data.wVersion), HIBYTE(data.wVersion));
}

int SampleFinish() {
    if (WSACleanup() == SOCKET_ERROR)
        Fail("WSACleanup failed: %s", WinsockErrorText(WSAGetLastError()));
    Step("all checks passed");
    return 0;
}

void Step(const char* format, ...) {
    va_list args;
    va_start(args, format);
    PrintLine("", format, args);
    va_end(args);
}

void Skip(const char* format, ...) {
    va_list args;
    va_start(args, format);
    PrintLine("skipped: ", format, args);
    va_end(args);
}

void Fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    PrintLine("FAILED: ", format, args);
    va_end(args);
    // Other threads may sit in socket calls; the process ends here with them.
    ExitProcess(1);
}

void CheckSocketError(int result, int expected, const char* what) {
    int error = WSAGetLastError();
    if (result != SOCKET_ERROR)
        Fail("%s returned %d, expected SOCKET_ERROR with %s", what, result,
             WinsockErrorText(expected));
    if (error != expected)
        Fail("%s failed with %s, expected %s", what, WinsockErrorText(error),
             WinsockErrorText(expected));
}

int CheckSocketCall(int result, const char* what) {
    if (result == SOCKET_ERROR)
        Fail("%s failed: %s", what, WinsockErrorText(WSAGetLastError()));
    return result;
}

SOCKET CheckSocketHandle(SOCKET s, const char* what) {
    if (s == INVALID_SOCKET)
        Fail("%s failed: %s", what, WinsockErrorText(WSAGetLastError()));
    return s;
}

const char* WinsockErrorText(int error) {
    // A ring of buffers, so one message can name two errors. No thread-local storage: its
    // lookup resets the last error, and callers often pass WSAGetLastError() beside this text.
    static char texts[16][64];
    static LONG next;
    char* text = texts[static_cast<unsigned>(InterlockedIncrement(&next)) % 16];
    for (const ErrorName& row : errorNames) {
        if (row.code == error) {
            snprintf(text, sizeof texts[0], "%s (%d)", row.name, error);
            return text;
        }
    }
    snprintf(text, sizeof texts[0], "error %d", error);
    return text;
}
