// What tracing costs the traced program.
//   capture_bench [rounds]        run from the build's bin folder with WINEDLLOVERRIDES=ws2_32=n,b
// 1. A bare WM_COPYDATA round trip to a window of another process that only replies, the floor
//    under every record.
// 2. Socket work (socket + closesocket, and a UDP round trip over 127.0.0.1) in a child process:
//    without the layer, with the layer but no capture (the viewer stopped), then traced by the
//    real kestrix.exe at Low, Medium and High.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ControlIds.h"
#include "ViewerDriver.h"

namespace {

const char ReceiverClass[] = "KestrixBenchReceiver";
const char SettingsKey[] = "Software\\Quenmoor\\Kestrix";

double Now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

LRESULT CALLBACK ReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA)
        return 0;
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

int Receiver()
{
    WNDCLASSA type = {};
    type.lpfnWndProc = ReceiverProc;
    type.hInstance = GetModuleHandleA(nullptr);
    type.lpszClassName = ReceiverClass;
    RegisterClassA(&type);
    CreateWindowA(ReceiverClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, type.hInstance, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}

bool Launch(const std::string& commandLine, PROCESS_INFORMATION* process)
{
    std::string line = commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process);
}

void Finish(PROCESS_INFORMATION& process)
{
    if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

void BareRoundTrips(int rounds)
{
    PROCESS_INFORMATION process;
    if (!Launch("capture_bench.exe receiver", &process))
        return;
    HWND receiver = nullptr;
    WaitUntil([&] { return (receiver = FindWindowExA(HWND_MESSAGE, nullptr, ReceiverClass, nullptr)) != nullptr; },
              20000);
    if (receiver) {
        char record[96] = {};
        COPYDATASTRUCT data = {GetCurrentProcessId(), sizeof record, record};
        double start = Now();
        for (int i = 0; i < rounds; i++)
            SendMessageA(receiver, WM_COPYDATA, 0, LPARAM(&data));
        double elapsed = Now() - start;
        printf("bare WM_COPYDATA round trip (96 bytes): %8.1f us  (%d rounds)\n", elapsed * 1e6 / rounds, rounds);
        PostMessageA(receiver, WM_CLOSE, 0, 0);
    }
    Finish(process);
}

// The child: socket work timed from inside the traced program.
int Work(int rounds, const char* label)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    double start = Now();
    for (int i = 0; i < rounds; i++)
        closesocket(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    double lifetime = (Now() - start) * 1e6 / rounds;

    SOCKET a = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP), b = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bind(b, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(b, reinterpret_cast<sockaddr*>(&address), &length);
    char buffer[64] = "ping";
    start = Now();
    for (int i = 0; i < rounds; i++) {
        sendto(a, buffer, 32, 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
        recv(b, buffer, sizeof buffer, 0);
    }
    double roundTrip = (Now() - start) * 1e6 / rounds;
    closesocket(a);
    closesocket(b);
    WSACleanup();
    printf("%-10s socket+closesocket %8.1f us   UDP send+recv %8.1f us  (%d rounds)\n", label, lifetime, roundTrip,
           rounds);
    fflush(stdout);
    return 0;
}

void RunWork(int rounds, const char* label)
{
    PROCESS_INFORMATION process;
    if (Launch("capture_bench.exe work " + std::to_string(rounds) + " " + label, &process))
        Finish(process);
}

void SetSetting(const char* name, DWORD value)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) == 0) {
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        RegSetValueExA(key, "Log File", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
        RegCloseKey(key);
    }
}

// stopAfterStart: the layer stays in the catalog but the block is closed, so the layer passes
// every call on without reporting it.
void TracedWork(int rounds, DWORD detail, const char* label, bool stopAfterStart = false)
{
    SetSetting("Detail", detail);
    PROCESS_INFORMATION viewerProcess;
    if (!Launch("kestrix.exe", &viewerProcess))
        return;
    ViewerDriver viewer;
    if (viewer.Find(viewerProcess.dwProcessId, 30000) && viewer.Click(Id::ButtonStart) &&
        WaitUntil([&] { return viewer.StatusText(1) == "Started"; }, 20000)) {
        if (stopAfterStart) {
            viewer.Click(Id::ButtonStop);
            WaitUntil([&] { return viewer.StatusText(1) == "Stopped"; }, 20000);
        }
        RunWork(rounds, label);
        viewer.CloseAnsweringYes(30000);
    } else {
        printf("%-10s the viewer did not start\n", label);
    }
    Finish(viewerProcess);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "receiver") == 0)
        return Receiver();
    if (argc == 4 && strcmp(argv[1], "work") == 0)
        return Work(atoi(argv[2]), argv[3]);
    int rounds = argc > 1 ? atoi(argv[1]) : 2000;
    if (rounds <= 0)
        rounds = 2000;
    BareRoundTrips(rounds * 5);
    RunWork(rounds, "untraced");
    TracedWork(rounds, 0, "layered", true);
    TracedWork(rounds, 0, "Low");
    TracedWork(rounds, 1, "Medium");
    TracedWork(rounds, 2, "High");
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    return 0;
}
