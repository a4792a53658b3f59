#include "CaptureChannel.h"

namespace {

const char CouldNotCreateSemaphore[] = "could not create a semaphore";
const char AnotherCopyRunning[] = "another copy of Kestrix is running";
const char CouldNotCreateSharedMemory[] = "could not create shared memory";
const char MapViewFailed[] = "MapViewOfFile() failed";

FILETIME Now()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME time;
    SystemTimeToFileTime(&now, &time);
    return time;
}

void Flush(CaptureChannel& channel) { FlushViewOfFile(channel.block, sizeof(ControlBlock)); }

struct BlockLock {
    explicit BlockLock(CaptureChannel& channel) : channel(channel) { WaitForSingleObject(channel.semaphore, INFINITE); }
    ~BlockLock()
    {
        Flush(channel);
        ReleaseSemaphore(channel.semaphore, 1, nullptr);
    }
    CaptureChannel& channel;
};

}  // namespace

const char* CreateCaptureChannel(CaptureChannel& channel)
{
    channel = {};
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, KESTRIX_SEMAPHORE_NAME);
    if (!semaphore)
        return CouldNotCreateSemaphore;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(semaphore);
        return AnotherCopyRunning;
    }
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0,
                                        sizeof(ControlBlock), KESTRIX_MAPPING_NAME);
    if (!mapping) {
        CloseHandle(semaphore);
        return CouldNotCreateSharedMemory;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ControlBlock));
    if (!view) {
        CloseHandle(mapping);
        CloseHandle(semaphore);
        return MapViewFailed;
    }
    // A new mapping reads as open to every process; it stays closed until it is published.
    channel = {semaphore, mapping, static_cast<ControlBlock*>(view)};
    channel.block->claimed = 1;
    return nullptr;
}

void PublishControlBlock(CaptureChannel& channel, HWND viewerWindow, DWORD detailLevel)
{
    ControlBlock& block = *channel.block;
    block.viewerWindow = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(viewerWindow));
    block.claimed = 0;
    block.detailLevel = detailLevel;
    block.startTime = Now();
    Flush(channel);
}

void RearmControlBlock(CaptureChannel& channel, DWORD detailLevel)
{
    BlockLock lock(channel);
    channel.block->claimed = 0;
    channel.block->detailLevel = detailLevel;
    channel.block->startTime = Now();
}

bool AcceptClaim(CaptureChannel& channel, DWORD processId)
{
    BlockLock lock(channel);
    if (!channel.block->claimed || channel.block->processId != processId)
        return false;
    channel.block->acknowledged = 1;
    return true;
}

void ReopenControlBlock(CaptureChannel& channel)
{
    BlockLock lock(channel);
    channel.block->claimed = 0;
    channel.block->startTime = Now();
}

void CloseControlBlock(CaptureChannel& channel)
{
    BlockLock lock(channel);
    channel.block->claimed = 1;
}

void DestroyCaptureChannel(CaptureChannel& channel)
{
    if (!channel.semaphore)
        return;
    CloseControlBlock(channel);
    UnmapViewOfFile(channel.block);
    CloseHandle(channel.mapping);
    CloseHandle(channel.semaphore);
    channel = {};
}
