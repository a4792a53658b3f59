#include "Application.h"

#include <windowsx.h>

namespace {

// The hint of the window under the mouse: a control of the main window, or none. A disabled
// control gets no mouse messages; its parent finds it by the position.
const char* HintUnderMouse(TForm1* form, const MSG& message)
{
    HWND window = message.hwnd;
    if (window == form->Handle) {
        POINT at = {GET_X_LPARAM(message.lParam), GET_Y_LPARAM(message.lParam)};
        window = ChildWindowFromPointEx(form->Handle, at, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
    }
    if (!window || GetParent(window) != form->Handle)
        return "";
    return form->HintOf(UINT(GetDlgCtrlID(window)));
}

}  // namespace

bool DispatchApplicationMessage(TForm1* form, MSG& message)
{
    if (message.message == WM_QUIT)
        return false;
    if (form && form->Handle && IsWindow(form->Handle)) {
        if (message.message == WM_MOUSEMOVE)
            form->HintChanged(HintUnderMouse(form, message));
        HWND top = GetAncestor(message.hwnd, GA_ROOT);
        if (top == form->Handle) {
            if (TranslateAcceleratorA(form->Handle, form->Shortcuts, &message))
                return true;
            if (IsDialogMessageA(form->Handle, &message))
                return true;
        }
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return true;
}

void ProcessMessages(TForm1* form)
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!DispatchApplicationMessage(form, message)) {
            PostQuitMessage(int(message.wParam));
            return;
        }
    }
    if (form && form->Handle && IsWindow(form->Handle))
        form->UpdateEditCommands();
}

int RunApplication(TForm1* form)
{
    MSG message;
    if (form->Handle && IsWindow(form->Handle))
        form->UpdateEditCommands();
    for (;;) {
        // Records are sent messages: GetMessage runs them inside itself and returns only with a
        // posted message, so a record costs no more trips to the server than the reply. What a
        // record changes reaches the window at the display tick, a posted message; the edit
        // commands are updated once the posted messages are handled.
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == -1)
            return 1;
        if (!DispatchApplicationMessage(form, message))
            return int(message.wParam);
        if (!PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) && form->Handle && IsWindow(form->Handle))
            form->UpdateEditCommands();
    }
}
