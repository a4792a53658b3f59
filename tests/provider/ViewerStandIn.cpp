#include "ViewerStandIn.h"
#include "LogRecord.h"
#include <cstring>

DWORD Record::PayloadLength() const
{
    DWORD n = 0;
    if (bytes.size() >= 4)
        memcpy(&n, bytes.data(), 4);
    return n;
}

DWORD Record::Word(int index) const
{
    DWORD word = ~0u;
    size_t offset = 4 + 4 * index;
    if (PayloadLength() >= 4u * (index + 1) && bytes.size() >= offset + 4)
        memcpy(&word, bytes.data() + offset, 4);
    return word;
}

DWORD Record::Kind() const
{
    return Word(0);
}

bool Record::HasText() const
{
    return 4 + static_cast<size_t>(PayloadLength()) < bytes.size();
}

std::string Record::Text() const
{
    if (!HasText())
        return std::string();
    const char* start = reinterpret_cast<const char*>(bytes.data()) + 4 + PayloadLength();
    size_t room = bytes.size() - 4 - PayloadLength();
    return std::string(start, strnlen(start, room));
}

static const char* const WindowClassName = "KestrixViewerStandIn";

ViewerStandIn::~ViewerStandIn()
{
    Close();
}

FILETIME ViewerStandIn::Now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return now;
}

bool ViewerStandIn::Open(DWORD detailLevel, const FILETIME& startTime, bool publish)
{
    ClearRecords();
    windowReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread = CreateThread(nullptr, 0, WindowThread, this, 0, nullptr);
    if (!thread || WaitForSingleObject(windowReady, 10000) != WAIT_OBJECT_0 || !window)
        return false;
    if (!publish)
        return true;
    semaphore = CreateSemaphoreA(nullptr, 1, 1, KESTRIX_SEMAPHORE_NAME);
    mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                 sizeof(ControlBlock), KESTRIX_MAPPING_NAME);
    if (!semaphore || !mapping)
        return false;
    block = static_cast<ControlBlock*>(
        MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ControlBlock)));
    if (!block)
        return false;
    WaitForSingleObject(semaphore, INFINITE);
    block->viewerWindow = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(window));
    block->claimed = 0;
    block->processId = 0;
    block->detailLevel = detailLevel;
    block->startTime = startTime;
    block->acknowledged = 0;
    ReleaseSemaphore(semaphore, 1, nullptr);
    return true;
}

void ViewerStandIn::Close()
{
    if (window)
        PostMessageA(window, WM_CLOSE, 0, 0);
    if (thread) {
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
        thread = nullptr;
    }
    window = nullptr;
    if (block)
        UnmapViewOfFile(block);
    block = nullptr;
    if (mapping)
        CloseHandle(mapping);
    mapping = nullptr;
    if (semaphore)
        CloseHandle(semaphore);
    semaphore = nullptr;
    if (windowReady)
        CloseHandle(windowReady);
    windowReady = nullptr;
}

void ViewerStandIn::SetPolicy(ReplyPolicy newPolicy)
{
    std::lock_guard<std::mutex> lock(mutex);
    policy = newPolicy;
}

std::vector<Record> ViewerStandIn::Records()
{
    std::lock_guard<std::mutex> lock(mutex);
    return records;
}

void ViewerStandIn::ClearRecords()
{
    std::lock_guard<std::mutex> lock(mutex);
    records.clear();
}

bool ViewerStandIn::WaitForRecords(size_t count, DWORD timeoutMilliseconds)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMilliseconds) {
        if (Records().size() >= count)
            return true;
        Sleep(10);
    }
    return Records().size() >= count;
}

bool ViewerStandIn::WaitForDetach(DWORD processId, DWORD timeoutMilliseconds)
{
    DWORD start = GetTickCount();
    do {
        for (const Record& record : Records()) {
            if (record.processId == processId && record.Kind() == RecordProcessDetached)
                return true;
        }
        Sleep(10);
    } while (GetTickCount() - start < timeoutMilliseconds);
    return false;
}

LRESULT ViewerStandIn::OnCopyData(const COPYDATASTRUCT* data)
{
    Record record;
    record.processId = static_cast<DWORD>(data->dwData);
    const BYTE* bytes = static_cast<const BYTE*>(data->lpData);
    record.bytes.assign(bytes, bytes + data->cbData);
    if (recordHook)
        recordHook(record);
    std::lock_guard<std::mutex> lock(mutex);
    records.push_back(record);
    if (policy == ReplyPolicy::AcceptAll)
        return 0;
    if (policy == ReplyPolicy::RefuseAll || !block)
        return 1;
    // The viewer's rule: only the claiming process is heard; its first record acknowledges it.
    if (!block->claimed || block->processId != record.processId)
        return 1;
    block->acknowledged = 1;
    if (record.Kind() == RecordProcessDetached) {
        // Open again for the next process, as the viewer does.
        block->claimed = 0;
        block->startTime = Now();
    }
    return 0;
}

LRESULT CALLBACK ViewerStandIn::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam)
{
    auto* self = reinterpret_cast<ViewerStandIn*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_COPYDATA && self)
        return self->OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI ViewerStandIn::WindowThread(void* parameter)
{
    auto* self = static_cast<ViewerStandIn*>(parameter);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = WindowClassName;
    RegisterClassA(&windowClass);   // already present on a second open: fine
    HWND window = CreateWindowExA(0, WindowClassName, "Kestrix", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                                  100, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window)
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->window = window;
    SetEvent(self->windowReady);
    if (!window)
        return 1;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

void ViewerStandIn::SetRecordHook(std::function<void(const Record&)> hook)
{
    std::lock_guard<std::mutex> lock(mutex);
    recordHook = std::move(hook);
}
