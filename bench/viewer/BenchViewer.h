// The real kestrix.exe as a traced program meets it: started with fixed settings, driven through
// Start and Stop, claimed through its control block, and sent records as WM_COPYDATA messages.
#pragma once
#include <windows.h>

#include <string>

#include "ChildProcess.h"
#include "ViewerDriver.h"

struct BenchSettings {
    DWORD detail;          // 0 Low, 1 Medium, 2 High
    DWORD backlogSize;     // bytes
    DWORD updateInterval;  // milliseconds
    const char* logFile;   // a text log file
};

class BenchViewer {
public:
    ~BenchViewer() { Close(); }
    bool Open(const BenchSettings& settings);
    // Start with Log File Only as asked, then claim the block as the traced process; false when
    // any step did not happen.
    bool StartCapture(bool logFileOnly);
    bool StopCapture();
    // The Clear command: an empty log buffer and backlog.
    void Clear() const;
    // One record, synchronously, as the layer sends it.
    void Send(const std::string& record) const;
    void Close();

private:
    bool Claim();
    ChildProcess process;
    ViewerDriver driver;
    HWND viewer = nullptr;   // the window the control block names
    std::string logFile;
    bool open = false;
};

std::string Word(DWORD value);
std::string TextRecord(const std::string& text);
std::string SocketRecord(DWORD kind, DWORD socket, const std::string& text);
// A data record of count binary bytes, which the viewer shows as a hex dump.
std::string DataRecord(DWORD kind, DWORD socket, DWORD count, const std::string& text);
