#include "BareRoundTrip.h"

#include <string>
#include <vector>

#include "Clock.h"
#include "ViewerDriver.h"

namespace {

const char ReceiverClass[] = "KestrixBenchReceiver";

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

BareReceiver::~BareReceiver()
{
    if (window) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        process.Wait(20000);
    }
}

bool BareReceiver::Start(const char* program)
{
    if (!process.Start(std::string(program) + " receiver"))
        return false;
    WaitUntil([&] { return (window = FindWindowExA(HWND_MESSAGE, nullptr, ReceiverClass, nullptr)) != nullptr; },
              20000);
    return window != nullptr;
}

double BareReceiver::RoundTripMicroseconds(int rounds, DWORD recordBytes) const
{
    if (!window || rounds <= 0)
        return 0;
    std::vector<char> record(recordBytes, 0);
    COPYDATASTRUCT data = {GetCurrentProcessId(), recordBytes, record.data()};
    double start = Now();
    for (int i = 0; i < rounds; i++)
        SendMessageA(window, WM_COPYDATA, 0, LPARAM(&data));
    return (Now() - start) * 1e6 / rounds;
}

double BareRoundTripMicroseconds(int rounds)
{
    BareReceiver receiver;
    if (!receiver.Start("capture_bench.exe"))
        return 0;
    return receiver.RoundTripMicroseconds(rounds);   // about a Medium text record
}
