#include "BenchViewer.h"

#include "ControlBlock.h"
#include "ControlIds.h"

namespace {

const char SettingsKey[] = "Software\\Quenmoor\\Kestrix";
const DWORD Patience = 30000;

void SetDword(HKEY key, const char* name, DWORD value)
{
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

bool WriteSettings(const BenchSettings& settings)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != 0)
        return false;
    SetDword(key, "Detail", settings.detail);
    SetDword(key, "Backlog Size", settings.backlogSize);
    SetDword(key, "Update Interval", settings.updateInterval);
    SetDword(key, "Log File Only", 0);
    RegSetValueExA(key, "Log File", 0, REG_SZ, reinterpret_cast<const BYTE*>(settings.logFile),
                   DWORD(strlen(settings.logFile) + 1));
    RegCloseKey(key);
    return true;
}

}  // namespace

std::string Word(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

std::string TextRecord(const std::string& text) { return Word(0) + text + '\0'; }

std::string SocketRecord(DWORD kind, DWORD socket, const std::string& text)
{
    return Word(8) + Word(kind) + Word(socket) + text + '\0';
}

std::string DataRecord(DWORD kind, DWORD socket, DWORD count, const std::string& text)
{
    std::string record = Word(12 + count) + Word(kind) + Word(socket) + Word(count);
    for (DWORD i = 0; i < count; i++)
        record += char(i * 7 + 1);
    return record + text + '\0';
}

bool BenchViewer::Open(const BenchSettings& settings)
{
    logFile = settings.logFile;
    open = WriteSettings(settings) && process.Start("kestrix.exe") && driver.Find(process.Id(), Patience);
    return open;
}

bool BenchViewer::StartCapture(bool logFileOnly)
{
    HWND box = driver.Control(Id::CheckBoxLogFileOnly);
    auto checked = [&] { return (SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED) == logFileOnly; };
    if (!checked() && !(driver.Click(Id::CheckBoxLogFileOnly) && WaitUntil(checked, Patience)))
        return false;
    return driver.Click(Id::ButtonStart) &&
           WaitUntil([&] { return driver.StatusText(1) == "Started"; }, Patience) && Claim();
}

bool BenchViewer::StopCapture()
{
    return driver.Click(Id::ButtonStop) && WaitUntil([&] { return driver.StatusText(1) == "Stopped"; }, Patience);
}

// As the layer does at process attach.
bool BenchViewer::Claim()
{
    HANDLE semaphore = OpenSemaphoreA(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, KESTRIX_SEMAPHORE_NAME);
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, KESTRIX_MAPPING_NAME);
    auto* block = mapping ? static_cast<ControlBlock*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ControlBlock)))
                          : nullptr;
    bool claimed = false;
    if (semaphore && block) {
        WaitForSingleObject(semaphore, INFINITE);
        if (block->claimed == 0) {
            block->claimed = 1;
            block->processId = GetCurrentProcessId();
            block->acknowledged = 0;
            viewer = HWND(UINT_PTR(block->viewerWindow));
            claimed = true;
        }
        ReleaseSemaphore(semaphore, 1, nullptr);
    }
    if (block)
        UnmapViewOfFile(block);
    if (mapping)
        CloseHandle(mapping);
    if (semaphore)
        CloseHandle(semaphore);
    return claimed;
}

void BenchViewer::Clear() const
{
    SendMessageA(driver.Window(), WM_COMMAND, MAKEWPARAM(Id::MMenuItemClear, 0), 0);
}

void BenchViewer::Send(const std::string& record) const
{
    COPYDATASTRUCT data = {GetCurrentProcessId(), DWORD(record.size()), const_cast<char*>(record.data())};
    SendMessageA(viewer, WM_COPYDATA, 0, LPARAM(&data));
}

void BenchViewer::Close()
{
    if (!open)
        return;
    open = false;
    driver.CloseAnsweringYes(Patience);
    process.Wait(Patience);
    DeleteFileA(logFile.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
}
