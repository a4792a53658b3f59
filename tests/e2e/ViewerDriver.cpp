#include "ViewerDriver.h"

#include <commctrl.h>
#include <vector>

namespace {

struct Search {
    DWORD processId;
    const char* className;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if ((!search->processId || owner == search->processId) && strcmp(className, search->className) == 0 &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindTopWindow(DWORD processId, const char* className)
{
    Search search = {processId, className, nullptr};
    EnumWindows(MatchWindow, LPARAM(&search));
    return search.found;
}

// A click at the middle of the control, as the mouse would deliver it.
void PostClick(HWND control)
{
    RECT area;
    GetClientRect(control, &area);
    LPARAM at = MAKELPARAM((area.right - area.left) / 2, (area.bottom - area.top) / 2);
    PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(control, WM_LBUTTONUP, 0, at);
}

std::string TextOf(HWND window)
{
    if (!window)
        return "";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return "";
    std::vector<char> text(length + 1);
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, WPARAM(text.size()), LPARAM(text.data()), SMTO_ABORTIFHUNG, 5000,
                        &copied);
    return std::string(text.data(), copied);
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(50);
    }
}

bool ViewerDriver::Find(DWORD wantedProcess, DWORD timeoutMs)
{
    window = nullptr;
    WaitUntil([&] { return (window = FindTopWindow(wantedProcess, "TForm1")) != nullptr; }, timeoutMs);
    processId = 0;
    if (window)
        GetWindowThreadProcessId(window, &processId);
    return window != nullptr;
}

bool ViewerDriver::Click(UINT id) const
{
    HWND control = Control(id);
    if (!control || !IsWindowEnabled(control) || !IsWindowVisible(control))
        return false;
    PostClick(control);
    return true;
}

std::string ViewerDriver::Text(UINT id) const { return TextOf(Control(id)); }

bool ViewerDriver::SetText(UINT id, const std::string& text) const
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(Control(id), WM_SETTEXT, 0, LPARAM(text.c_str()), SMTO_ABORTIFHUNG, 5000,
                               &result) &&
           result;
}

std::string ViewerDriver::StatusText(int panel) const
{
    HWND bar = FindWindowExA(window, nullptr, STATUSCLASSNAMEA, nullptr);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!bar || !process)
        return "";
    std::string text;
    const SIZE_T size = 1024;
    // The status bar writes into the caller's buffer in its own process, so the buffer lives there.
    if (void* remote = VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) {
        DWORD_PTR result = 0;
        DWORD_PTR length = 0;
        SendMessageTimeoutA(bar, SB_GETTEXTLENGTHA, WPARAM(panel), 0, SMTO_ABORTIFHUNG, 5000, &length);
        if (LOWORD(length) < size &&
            SendMessageTimeoutA(bar, SB_GETTEXTA, WPARAM(panel), LPARAM(remote), SMTO_ABORTIFHUNG, 5000, &result)) {
            std::vector<char> local(size, 0);
            SIZE_T read = 0;
            if (ReadProcessMemory(process, remote, local.data(), size, &read))
                text.assign(local.data(), LOWORD(result) < size ? LOWORD(result) : 0);
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return text;
}

HWND ViewerDriver::FindMessageBox() const { return FindTopWindow(processId, "#32770"); }

std::string ViewerDriver::WaitForMessageBox(DWORD timeoutMs) const
{
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindMessageBox()) != nullptr; }, timeoutMs);
    // the message of a message box is its static control 0xFFFF
    return box ? TextOf(GetDlgItem(box, 0xFFFF)) : "";
}

bool ViewerDriver::AnswerMessageBox(int button) const
{
    HWND box = FindMessageBox();
    HWND control = box ? GetDlgItem(box, button) : nullptr;
    if (!control)
        return false;
    PostClick(control);
    return true;
}

bool ViewerDriver::CloseAnsweringYes(DWORD timeoutMs) const
{
    PostMessageA(window, WM_CLOSE, 0, 0);
    HWND main = window;
    return WaitUntil(
        [&] {
            if (!IsWindow(main))
                return true;
            if (FindMessageBox())
                AnswerMessageBox(IDYES);
            return false;
        },
        timeoutMs);
}
