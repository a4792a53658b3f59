// Stands in for the viewer: publishes the control block under its shared names and collects the
// records that arrive at a real window, answering them as the viewer does.
#pragma once
#include <windows.h>
#include <functional>
#include <mutex>
#include <string>
#include <vector>
#include "ControlBlock.h"
#include "LogRecord.h"

struct Record {
    DWORD processId = 0;
    std::vector<BYTE> bytes;   // cbData bytes as sent

    DWORD PayloadLength() const;
    DWORD Kind() const;             // first payload word, or ~0 when there is none
    DWORD Word(int index) const;    // payload word
    bool HasText() const;
    std::string Text() const;
};

enum class ReplyPolicy {
    Viewer,            // acknowledge the claiming process's first record; answer others with 1
    AcceptAll,         // answer every record with 0 and acknowledge nothing
    RefuseAll,         // answer every record with 1
};

class ViewerStandIn {
public:
    ~ViewerStandIn();

    // Creates the window; with publish, also the semaphore and mapping, the block filled in.
    bool Open(DWORD detailLevel, const FILETIME& startTime, bool publish = true);
    void Close();

    HWND Window() const { return window; }
    ControlBlock* Block() const { return block; }
    HANDLE Semaphore() const { return semaphore; }
    void SetPolicy(ReplyPolicy policy);
    // Runs on the window's thread for each record before it is answered, as a viewer's own work
    // would; the sender waits meanwhile.
    void SetRecordHook(std::function<void(const Record&)> hook);

    std::vector<Record> Records();
    void ClearRecords();
    // True once at least count records have arrived.
    bool WaitForRecords(size_t count, DWORD timeoutMilliseconds);
    // True once a "process detached" record has arrived from processId.
    bool WaitForDetach(DWORD processId, DWORD timeoutMilliseconds);

    // The current time, for a start time that only later processes meet.
    static FILETIME Now();

private:
    static DWORD WINAPI WindowThread(void* parameter);
    static LRESULT CALLBACK WindowProcedure(HWND, UINT, WPARAM, LPARAM);
    LRESULT OnCopyData(const COPYDATASTRUCT* data);

    HANDLE semaphore = nullptr;
    HANDLE mapping = nullptr;
    ControlBlock* block = nullptr;
    HWND window = nullptr;
    HANDLE thread = nullptr;
    HANDLE windowReady = nullptr;
    std::mutex mutex;
    std::vector<Record> records;
    ReplyPolicy policy = ReplyPolicy::Viewer;
    std::function<void(const Record&)> recordHook;
};
