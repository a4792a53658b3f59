// The viewer's settings under HKEY_CURRENT_USER\Software\Quenmoor\Kestrix: read when the main
// window is created, written when it closes.
#include "Form1.h"

namespace {

const char SettingsKey[] = "Software\\Quenmoor\\Kestrix";

// The DWORD settings that live in a field, in the order they are read and written.
struct DwordSetting {
    const char* name;
    int32_t TForm1::*field;
    int32_t defaultValue;
};

const DwordSetting SizeSettings[] = {
    {"Buffer Size", &TForm1::BufferSize, 32768},
    {"Detail", &TForm1::Detail, 2},
};
const DwordSetting DisplaySettings[] = {
    {"Update Interval", &TForm1::UpdateInterval, 225},
};
const DwordSetting BacklogSettings[] = {
    {"Backlog Size", &TForm1::BacklogSize, 4194304},
};

bool QueryDword(HKEY key, const char* name, int32_t* value)
{
    DWORD data = 0, size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS)
        return false;
    *value = int32_t(data);
    return true;
}

void SetDword(HKEY key, const char* name, int32_t value)
{
    DWORD data = DWORD(value);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

}  // namespace

void TForm1::LoadSettings()
{
    HKEY key = nullptr;
    bool opened = RegCreateKeyA(HKEY_CURRENT_USER, SettingsKey, &key) == ERROR_SUCCESS;
    auto readDword = [&](const DwordSetting& setting) {
        int32_t value;
        this->*setting.field = opened && QueryDword(key, setting.name, &value) ? value : setting.defaultValue;
    };
    auto readFlag = [&](const char* name, bool defaultValue) {
        int32_t value;
        return opened && QueryDword(key, name, &value) ? value != 0 : defaultValue;
    };

    RECT frame;
    GetWindowRect(Handle, &frame);
    int32_t width = frame.right - frame.left, height = frame.bottom - frame.top;
    bool resized = false;
    int32_t value;
    if (opened && QueryDword(key, "Width", &value)) {
        width = value;
        resized = true;
    }
    if (opened && QueryDword(key, "Height", &value)) {
        height = value;
        resized = true;
    }
    if (resized)
        SetWindowPos(Handle, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    for (const DwordSetting& setting : SizeSettings)
        readDword(setting);
    if (opened) {
        char name[256];
        DWORD size = sizeof name;
        if (RegQueryValueExA(key, "Log File", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS) {
            name[sizeof name - 1] = 0;   // a stored string need not end in a NUL
            if (size < sizeof name)
                name[size] = 0;
            SetWindowTextA(EditLogFile, name);
        }
    }
    HexOnly = readFlag("Hex Only", false);
    for (const DwordSetting& setting : DisplaySettings)
        readDword(setting);
    Colors = readFlag("Colors", true);
    for (const DwordSetting& setting : BacklogSettings)
        readDword(setting);
    ShowBacklog = readFlag("Show Backlog", false);
    SendMessageA(CheckBoxLogFileOnly, BM_SETCHECK, readFlag("Log File Only", false) ? BST_CHECKED : BST_UNCHECKED, 0);
    if (opened)
        RegCloseKey(key);
}

void TForm1::SaveSettings()
{
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, SettingsKey, &key) != ERROR_SUCCESS)
        return;
    RECT frame;
    GetWindowRect(Handle, &frame);
    SetDword(key, "Width", frame.right - frame.left);
    SetDword(key, "Height", frame.bottom - frame.top);
    SetDword(key, "Buffer Size", BufferSize);
    SetDword(key, "Detail", Detail);
    std::string name = LogFileName();
    RegSetValueExA(key, "Log File", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()), DWORD(name.size() + 1));
    SetDword(key, "Hex Only", HexOnly);
    SetDword(key, "Update Interval", UpdateInterval);
    SetDword(key, "Colors", Colors);
    SetDword(key, "Backlog Size", BacklogSize);
    SetDword(key, "Show Backlog", ShowBacklog);
    SetDword(key, "Log File Only", LogFileOnly());
    RegCloseKey(key);
}
