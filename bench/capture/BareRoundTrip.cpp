#include "BareRoundTrip.h"

#include <windows.h>

#include "ChildProcess.h"
#include "Clock.h"
#include "ViewerDriver.h"

namespace {

const char ReceiverClass[] = "KestrixBenchReceiver";
const DWORD RecordBytes = 96;   // about a Medium text record

LRESULT CALLBACK ReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA)
        return 0;
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int RunReceiver()
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

double BareRoundTripMicroseconds(int rounds)
{
    ChildProcess receiverProcess;
    if (!receiverProcess.Start("capture_bench.exe receiver"))
        return 0;
    HWND receiver = nullptr;
    WaitUntil([&] { return (receiver = FindWindowExA(HWND_MESSAGE, nullptr, ReceiverClass, nullptr)) != nullptr; },
              20000);
    double microseconds = 0;
    if (receiver) {
        char record[RecordBytes] = {};
        COPYDATASTRUCT data = {GetCurrentProcessId(), sizeof record, record};
        double start = Now();
        for (int i = 0; i < rounds; i++)
            SendMessageA(receiver, WM_COPYDATA, 0, LPARAM(&data));
        microseconds = (Now() - start) * 1e6 / rounds;
        PostMessageA(receiver, WM_CLOSE, 0, 0);
    }
    receiverProcess.Wait(20000);
    return microseconds;
}
