// Drives a running kestrix.exe from another process as a person does: real clicks posted to the
// buttons' own windows, the status bar, labels and log buffer read across the process boundary,
// and the viewer's message boxes answered.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

class ViewerDriver {
public:
    // The main window (class "TForm1") of processId, or of any process when processId is 0.
    bool Find(DWORD processId, DWORD timeoutMs);
    HWND Window() const { return window; }
    DWORD ProcessId() const { return processId; }

    HWND Control(UINT id) const { return GetDlgItem(window, int(id)); }
    // A click on the control's own window; false when it is missing or disabled.
    bool Click(UINT id) const;
    std::string Text(UINT id) const;           // WM_GETTEXT: labels, the edit box, the rich edit
    std::string StatusText(int panel) const;   // SB_GETTEXTA through the viewer's own memory
    bool SetText(UINT id, const std::string& text) const;

    // The text of a message box the viewer shows, or "" when none appears in time.
    std::string WaitForMessageBox(DWORD timeoutMs) const;
    // Presses a message box button (IDYES, IDNO, IDOK) of the viewer's box.
    bool AnswerMessageBox(int button) const;
    // Asks the window to close and answers the close query with Yes when it comes.
    bool CloseAnsweringYes(DWORD timeoutMs) const;

private:
    HWND FindMessageBox() const;
    HWND window = nullptr;
    DWORD processId = 0;
};

// Polls the condition every 50 ms until it holds or the time runs out.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
