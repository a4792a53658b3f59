#include "ViewerSession.h"

#include "Catalog.h"

#include <fstream>
#include <sstream>

namespace {
const char SettingsKey[] = "Software\\Quenmoor\\Kestrix";
}

const char WaitingLine[] = "the next process to start and make a socket call will be spyed";
const char EndedLine[] = "the spied process ended without detaching";

bool Process::Start(std::string commandLine)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info);
}

DWORD Process::Wait(DWORD timeoutMs)
{
    DWORD code = 0xdeadbeef;
    if (info.hProcess && WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    return code;
}

Process::~Process()
{
    if (!info.hProcess)
        return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

DWORD RunToEnd(const std::string& commandLine)
{
    Process process;
    return process.Start(commandLine) ? process.Wait() : 0xdeadbeef;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

std::string ReadWholeFile(const char* name)
{
    std::ifstream file(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

Viewer::Viewer(const char* logFileName, DWORD detail, bool logFileOnly) : logFileName(logFileName)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExA(key, "Log File", 0, REG_SZ, reinterpret_cast<const BYTE*>(logFileName),
                       DWORD(strlen(logFileName) + 1));
        RegSetValueExA(key, "Detail", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&detail), sizeof detail);
        DWORD fileOnly = logFileOnly;
        RegSetValueExA(key, "Log File Only", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&fileOnly),
                       sizeof fileOnly);
        RegCloseKey(key);
    }
    DeleteFileA(logFileName);
    if (process.Start("kestrix.exe"))
        driver.Find(process.info.dwProcessId, Patience);
}

void Viewer::Kill()
{
    TerminateProcess(process.info.hProcess, 9);
    WaitForSingleObject(process.info.hProcess, Patience);
    killed = true;
}

Viewer::~Viewer()
{
    if (!killed && driver.Window() && IsWindow(driver.Window())) {
        EXPECT_TRUE(driver.CloseAnsweringYes(Patience)) << "the viewer did not close";
    }
    if (!killed) {
        EXPECT_EQ(0u, process.Wait());
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
}

bool Viewer::LogShows(const std::string& text, int times) const
{
    return WaitUntil(
        [&] {
            std::string log = Log();
            int found = 0;
            for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
                found++;
            return found >= times;
        },
        Patience);
}

bool Viewer::Start() const
{
    return driver.Click(Id::ButtonStart) &&
           WaitUntil([&] { return driver.StatusText(1) == "Started"; }, Patience) && LogShows(WaitingLine);
}

bool Viewer::Stop() const
{
    return driver.Click(Id::ButtonStop) && WaitUntil([&] { return driver.StatusText(1) == "Stopped"; }, Patience);
}

std::string Viewer::Counts() const
{
    return driver.Text(Id::LabelSCreated) + " " + driver.Text(Id::LabelSClosed) + " " +
           driver.Text(Id::LabelSCurrent);
}

std::string Viewer::Totals() const
{
    return driver.Text(Id::LabelTransRecvd) + " " + driver.Text(Id::LabelTransSent);
}

// The catalog as ids and names, to compare before and after a capture.
std::string CatalogSnapshot()
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalog(&count);
    if (!catalog)
        return "unreadable";
    std::ostringstream text;
    for (int i = 0; i < count; i++) {
        char name[256] = "";
        WideCharToMultiByte(CP_ACP, 0, catalog[i].szProtocol, -1, name, sizeof name, nullptr, nullptr);
        text << catalog[i].dwCatalogEntryId << " " << name << "\n";
    }
    FreeCatalog(catalog);
    return text.str();
}

int LayerEntries()
{
    int count = 0, layer = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalog(&count);
    for (int i = 0; catalog && i < count; i++)
        if (wcsncmp(catalog[i].szProtocol, L"Kestrix", 7) == 0)
            layer++;
    FreeCatalog(catalog);
    return layer;
}
