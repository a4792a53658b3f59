#include "TracedSession.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "ControlIds.h"

namespace {

const char SettingsKey[] = "Software\\Quenmoor\\Kestrix";
const char LogFileName[] = "capture-bench.log";
const DWORD Patience = 30000;

// What the layer writes for a send or receive on a stream socket: the call, then its result.
const char* const DataCallFragments[] = {") sending data ", ") receiving data ", " bytes of data"};

void WriteSettings(DWORD detail)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != 0)
        return;
    DWORD logFileOnly = 0;
    RegSetValueExA(key, "Detail", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&detail), sizeof detail);
    RegSetValueExA(key, "Log File Only", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&logFileOnly),
                   sizeof logFileOnly);
    RegSetValueExA(key, "Log File", 0, REG_SZ, reinterpret_cast<const BYTE*>(LogFileName), sizeof LogFileName);
    RegCloseKey(key);
}

bool IsDataCallLine(const std::string& line)
{
    if (line.rfind("socket (", 0) != 0)
        return false;
    for (const char* fragment : DataCallFragments)
        if (line.find(fragment) != std::string::npos)
            return true;
    return false;
}

// "1,234,567" as the viewer formats it.
double CountOf(const std::string& text)
{
    std::string digits;
    for (char c : text)
        if (c != ',')
            digits += c;
    return strtod(digits.c_str(), nullptr);
}

}  // namespace

bool TracedSession::Open(DWORD detail)
{
    WriteSettings(detail);
    open = process.Start("kestrix.exe") && driver.Find(process.Id(), Patience);
    return open;
}

bool TracedSession::StartCapture()
{
    return driver.Click(Id::ButtonStart) && WaitUntil([&] { return driver.StatusText(1) == "Started"; }, Patience);
}

bool TracedSession::StopCapture()
{
    return driver.Click(Id::ButtonStop) && WaitUntil([&] { return driver.StatusText(1) == "Stopped"; }, Patience);
}

double TracedSession::BytesSent() const { return CountOf(driver.Text(Id::LabelTransSent)); }

double TracedSession::BytesReceived() const { return CountOf(driver.Text(Id::LabelTransRecvd)); }

long TracedSession::DataCallLines() const
{
    return DataCallLinesIn(LogFileName);
}

long DataCallLinesIn(const char* logFileName)
{
    std::ifstream file(logFileName);
    long lines = 0;
    for (std::string line; std::getline(file, line);)
        if (IsDataCallLine(line))
            lines++;
    return lines;
}

void TracedSession::Close()
{
    if (!open)
        return;
    open = false;
    driver.CloseAnsweringYes(Patience);
    process.Wait(Patience);
    DeleteFileA(LogFileName);
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
}
