// kestrix.exe as its own process: it opens its window with the stored settings, closes on
// WM_CLOSE with exit code 0, and leaves its settings in the registry.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "ControlIds.h"

namespace {

const char SettingsKey[] = "Software\\Quenmoor\\Kestrix";

HWND WaitForViewerWindow(DWORD processId)
{
    for (int i = 0; i < 400; i++) {
        for (HWND window = FindWindowA("TForm1", nullptr); window;
             window = FindWindowExA(nullptr, window, "TForm1", nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == processId && IsWindowVisible(window))
                return window;
        }
        Sleep(50);
    }
    return nullptr;
}

std::string ChildText(HWND parent, int id)
{
    char text[256] = "junk";
    SendMessageTimeoutA(GetDlgItem(parent, id), WM_GETTEXT, sizeof text, LPARAM(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

}  // namespace

TEST(Program, StartsWithStoredSettingsAndSavesThemAtClose)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, SettingsKey, &key));
    const char logFile[] = "from-the-registry.htm";
    RegSetValueExA(key, "Log File", 0, REG_SZ, reinterpret_cast<const BYTE*>(logFile), sizeof logFile);
    DWORD width = 640;
    RegSetValueExA(key, "Width", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&width), sizeof width);
    RegCloseKey(key);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    char command[] = "kestrix.exe";
    ASSERT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        << GetLastError();
    HWND window = WaitForViewerWindow(process.dwProcessId);
    ASSERT_NE(nullptr, window) << "no main window within 20 seconds";
    char caption[64] = "";
    GetWindowTextA(window, caption, sizeof caption);
    EXPECT_STREQ("Kestrix", caption);
    EXPECT_EQ(logFile, ChildText(window, Id::EditLogFile));
    RECT frame;
    GetWindowRect(window, &frame);
    EXPECT_EQ(640, frame.right - frame.left);

    PostMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 20000));
    DWORD exitCode = 0xdeadbeef;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(0u, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, SettingsKey, &key));
    DWORD values = 0xdeadbeef;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    EXPECT_EQ(11u, values);
    DWORD saved = 0xdeadbeef, size = sizeof saved;
    RegQueryValueExA(key, "Width", nullptr, nullptr, reinterpret_cast<BYTE*>(&saved), &size);
    EXPECT_EQ(640u, saved);
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
}
