// A window program whose window procedure makes socket calls. The viewer stand-in sends it
// ReentryMessage while one of its records is being handled, so the calls run on the traced
// thread inside the layer's own record send. Exit code 0 when every call gave what it gives
// without the layer.
#include <winsock2.h>
#include <cstdio>

const char ReentryClass[] = "KestrixReentryProbe";
const UINT ReentryMessage = WM_APP + 1;

static SOCKET first, second;
static bool reentered, reentryRight;

static LRESULT CALLBACK ProbeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != ReentryMessage)
        return DefWindowProcA(window, message, wParam, lParam);
    reentered = true;
    // A new socket first: the provider below may give it the number of the one being closed.
    SOCKET third = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    bool firstGone = closesocket(first) == SOCKET_ERROR && WSAGetLastError() == WSAENOTSOCK;
    bool secondClosed = closesocket(second) == 0;
    bool thirdClosed = third != INVALID_SOCKET && closesocket(third) == 0;
    reentryRight = firstGone && secondClosed && thirdClosed;
    printf("reentryprobe: inside: first %s, second %s, third %s\n", firstGone ? "gone" : "WRONG",
           secondClosed ? "closed" : "WRONG", thirdClosed ? "made and closed" : "WRONG");
    return 0;
}

int main()
{
    WNDCLASSA probeClass = {};
    probeClass.lpfnWndProc = ProbeProcedure;
    probeClass.hInstance = GetModuleHandleA(nullptr);
    probeClass.lpszClassName = ReentryClass;
    RegisterClassA(&probeClass);
    if (!CreateWindowA(ReentryClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr))
        return 1;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    first = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    second = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    // The stand-in answers the record of this close with a call into our window.
    bool firstClosed = closesocket(first) == 0;
    WSACleanup();
    printf("reentryprobe: first close %s, window procedure %s\n", firstClosed ? "ok" : "WRONG",
           reentered ? "ran" : "never ran");
    return firstClosed && reentered && reentryRight ? 0 : 1;
}
