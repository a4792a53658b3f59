// What the end-to-end tests share: programs run as processes of their own, and one kestrix.exe
// with its settings and a text log file, driven as a person would drive it.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "ControlIds.h"
#include "ViewerDriver.h"

extern const char WaitingLine[];
extern const char EndedLine[];
const DWORD Patience = 20000;

struct Process {
    PROCESS_INFORMATION info = {};
    bool Start(std::string commandLine);
    // The exit code, or 0xdeadbeef when the process did not end in time.
    DWORD Wait(DWORD timeoutMs = Patience);
    ~Process();
};

// Runs the command line to its end; its exit code, or 0xdeadbeef.
DWORD RunToEnd(const std::string& commandLine);

std::vector<std::string> SplitLines(const std::string& text);
std::string Joined(const std::vector<std::string>& lines);
std::string ReadWholeFile(const char* name);

// The catalog as ids and names, to compare before and after a capture.
std::string CatalogSnapshot();
// The catalog entries of the Kestrix layer: its layered entry and its chains.
int LayerEntries();

// One kestrix.exe writing the text log file logFileName at the given detail level (0 Low,
// 1 Medium, 2 High), with or without Log File Only, closed (answering Yes) at the end of the
// test.
class Viewer {
public:
    explicit Viewer(const char* logFileName = "e2e-capture.log", DWORD detail = 2,
                    bool logFileOnly = false);
    ~Viewer();
    bool Ready() const { return driver.Window() != nullptr; }
    std::string Log() const { return driver.Text(Id::Memo1); }
    // True once text appears in the log buffer at least times times.
    bool LogShows(const std::string& text, int times = 1) const;
    bool Start() const;
    bool Stop() const;
    // Created, closed and current sockets, as the labels show them.
    std::string Counts() const;
    // Bytes received and sent, as the labels show them.
    std::string Totals() const;
    std::string LogFile() const { return ReadWholeFile(logFileName.c_str()); }
    // Ends the viewer as a crash or the task manager would, with nothing cleaned up.
    void Kill();

    Process process;
    ViewerDriver driver;

private:
    std::string logFileName;
    bool killed = false;
};
