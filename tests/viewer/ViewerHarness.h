// A real main window for the tests: created in this process with the registry key removed, so
// every test starts from the default settings, and helpers that read the window back.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "Application.h"
#include "Form1.h"

const char TestSettingsKey[] = "Software\\Quenmoor\\Kestrix";

void DeleteSettings();

class ViewerHarness {
public:
    // prepare runs after the settings key was removed and before the window reads it
    explicit ViewerHarness(const std::function<void()>& prepare = nullptr);
    ~ViewerHarness();

    TForm1* form;

    // The log buffer's text, line breaks as CR LF.
    std::string MemoText() const;
    // The colour of the log buffer's characters [start, start + length) in its own positions (one
    // per line break), or 0xFFFFFFFF when they are not all of one colour.
    COLORREF ColorOf(int start, int length) const;
    // Shows batches until the backlog is empty; returns how many were shown.
    int ShowAll();
    std::string StatusText(int panel) const;
    std::string WindowText(HWND window) const;
    bool ItemEnabled(UINT id) const;
    // Sends a record from processId to the window as a traced process does; returns the reply.
    LRESULT SendRecord(DWORD processId, const std::string& record);
    // Accepts records from this process as the traced one.
    void AcceptThisProcess();
};

// Record builders in the layout of the copy-data messages; an empty text means none.
std::string TextRecord(const std::string& text);
std::string SocketRecord(DWORD kind, DWORD socket, const std::string& text);
std::string DataRecord(DWORD kind, DWORD socket, DWORD count, const std::string& data, const std::string& text);

std::string ReadFileBytes(const std::string& path);

// A window's pixels as it last painted them, frame and children included, as the rows of a
// 24-bit bottom-up DIB, each padded to four bytes; no rows when they could not be read.
struct WindowImage {
    BITMAPINFOHEADER header;
    std::vector<uint8_t> rows;
};
WindowImage CaptureWindow(HWND window);
