// The real kestrix.exe driven from outside, as a person would: started at a detail level with a
// text log file, Start and Stop clicked around each traced program, its Sent and Received
// counters and its log file read afterwards.
#pragma once
#include <windows.h>

#include <string>

#include "ChildProcess.h"
#include "ViewerDriver.h"

// Lines of a log file that a send or receive call made.
long DataCallLinesIn(const char* logFileName);

class TracedSession {
public:
    ~TracedSession() { Close(); }
    // Starts the viewer, once per session; detail: 0 Low, 1 Medium, 2 High.
    bool Open(DWORD detail);
    bool StartCapture();
    bool StopCapture();
    // The byte counters as the viewer shows them.
    double BytesSent() const;
    double BytesReceived() const;
    // Lines of the log file that a send or receive call made; read after StopCapture, which
    // closes the file.
    long DataCallLines() const;
    void Close();

private:
    ChildProcess process;
    ViewerDriver driver;
    bool open = false;
};
