// The viewer's shared objects as a second viewer and a traced process meet them.
#include "CaptureChannel.h"
#include "SpiedProcessWatch.h"
#include <gtest/gtest.h>
#include <string>

namespace {

// What a traced process sees: the objects opened by name.
struct ProviderSide {
    HANDLE semaphore = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, KESTRIX_SEMAPHORE_NAME);
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, KESTRIX_MAPPING_NAME);
    ControlBlock* block = mapping ? static_cast<ControlBlock*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ControlBlock))) : nullptr;

    ~ProviderSide()
    {
        if (block)
            UnmapViewOfFile(block);
        if (mapping)
            CloseHandle(mapping);
        if (semaphore)
            CloseHandle(semaphore);
    }
    void Claim(DWORD processId)
    {
        WaitForSingleObject(semaphore, INFINITE);
        block->claimed = 1;
        block->processId = processId;
        block->acknowledged = 0;
        ReleaseSemaphore(semaphore, 1, nullptr);
    }
};

TEST(CaptureChannel, StartClaimAcceptStopAndExit)
{
    CaptureChannel channel;
    ASSERT_EQ(CreateCaptureChannel(channel), nullptr);
    HWND window = reinterpret_cast<HWND>(0x1234);
    PublishControlBlock(channel, window, 2);

    CaptureChannel second;
    const char* refused = CreateCaptureChannel(second);
    ASSERT_NE(refused, nullptr);
    EXPECT_STREQ(refused, "another copy of Kestrix is running");

    ProviderSide provider;
    ASSERT_TRUE(provider.block);
    EXPECT_EQ(provider.block->viewerWindow, 0x1234u) << "the first copy's block is intact";
    EXPECT_EQ(provider.block->claimed, 0u);
    EXPECT_EQ(provider.block->detailLevel, 2u);
    FILETIME firstStart = provider.block->startTime;
    EXPECT_NE(firstStart.dwHighDateTime, 0u);

    EXPECT_FALSE(AcceptClaim(channel, 42)) << "nobody has claimed yet";
    provider.Claim(42);
    EXPECT_FALSE(AcceptClaim(channel, 43)) << "another process";
    EXPECT_EQ(provider.block->acknowledged, 0u);
    EXPECT_TRUE(AcceptClaim(channel, 42));
    EXPECT_EQ(provider.block->acknowledged, 1u);

    Sleep(20);
    ReopenControlBlock(channel);
    EXPECT_EQ(provider.block->claimed, 0u);
    EXPECT_GT(CompareFileTime(&provider.block->startTime, &firstStart), 0);

    CloseControlBlock(channel);
    EXPECT_EQ(provider.block->claimed, 1u) << "no claim while stopped";
    RearmControlBlock(channel, 0);
    EXPECT_EQ(provider.block->claimed, 0u);
    EXPECT_EQ(provider.block->detailLevel, 0u);

    // A provider that holds the semaphore's handle at exit finds it free and the block closed.
    DestroyCaptureChannel(channel);
    EXPECT_EQ(channel.semaphore, nullptr);
    ASSERT_EQ(WaitForSingleObject(provider.semaphore, 2000), WAIT_OBJECT_0);
    EXPECT_EQ(provider.block->claimed, 1u);
    ReleaseSemaphore(provider.semaphore, 1, nullptr);
}

TEST(SpiedProcessWatch, NoticesAProcessThatEnds)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --gtest_filter=SpiedProcessWatch.SleepWhenAsked";
    SetEnvironmentVariableA("CAPTURE_TEST_SLEEP", "1");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child;
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    SetEnvironmentVariableA("CAPTURE_TEST_SLEEP", nullptr);

    SpiedProcessWatch watch = {};
    EXPECT_FALSE(SpiedProcessEnded(watch)) << "nothing watched";
    WatchSpiedProcess(watch, child.dwProcessId);
    ASSERT_NE(watch.process, nullptr);
    EXPECT_FALSE(SpiedProcessEnded(watch));
    TerminateProcess(child.hProcess, 9);
    WaitForSingleObject(child.hProcess, 5000);
    EXPECT_TRUE(SpiedProcessEnded(watch));
    EXPECT_FALSE(SpiedProcessEnded(watch)) << "reported once";
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
}

TEST(SpiedProcessWatch, SleepWhenAsked)
{
    if (GetEnvironmentVariableA("CAPTURE_TEST_SLEEP", nullptr, 0))
        Sleep(30000);
}

}  // namespace
