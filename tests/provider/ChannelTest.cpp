// Records byte for byte, the viewer's refusal, the out-of-memory notice, and the claim of the
// control block from inside this process.
#include "LayerHarness.h"
#include <vector>
#include "Channel.h"
#include <cstring>

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(viewer.Open(Medium, FILETIME{}, false));
        viewer.SetPolicy(ReplyPolicy::AcceptAll);
    }
    void TearDown() override
    {
        StopTracing();
        viewer.Close();
    }
    ViewerStandIn viewer;
};

TEST_F(ChannelTest, HighDataRecordCarriesTheBytesOfEveryBufferInOrder)
{
    BYTE bytes[100];
    for (int i = 0; i < 100; i++)
        bytes[i] = static_cast<BYTE>(i * 7);
    WSABUF buffers[2] = {{60, reinterpret_cast<char*>(bytes)},
                         {40, reinterpret_cast<char*>(bytes + 60)}};
    TraceTo(viewer, High);
    SendDataEvent(0x104, buffers, 2, 100, RecordDataSent, "socket (%s) sent %s bytes of data",
                  "260", "100", nullptr);
    auto records = viewer.Records();
    ASSERT_EQ(1u, records.size());
    const Record& record = records[0];
    ASSERT_EQ(112u, record.PayloadLength());
    EXPECT_EQ(RecordDataSent, record.Kind());
    EXPECT_EQ(0x104u, record.Word(1));
    EXPECT_EQ(100u, record.Word(2));
    EXPECT_EQ(0, memcmp(bytes, record.bytes.data() + 16, 100));
    EXPECT_EQ("socket (260) sent 100 bytes of data", record.Text());
    EXPECT_EQ(GetCurrentProcessId(), record.processId);
}

TEST_F(ChannelTest, LowDataRecordIsTheHeaderAloneAndMediumAddsText)
{
    char bytes[100] = {};
    WSABUF buffer = {100, bytes};
    TraceTo(viewer, Low);
    SendDataEvent(7, &buffer, 1, 100, RecordDataReceived, "socket (%s) received %s bytes of data",
                  "7", "100", nullptr);
    detailLevel = Medium;
    SendDataEvent(7, &buffer, 1, 100, RecordDataReceived, "socket (%s) received %s bytes of data",
                  "7", "100", nullptr);
    auto records = viewer.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(12u, records[0].PayloadLength());
    EXPECT_EQ(16u, records[0].bytes.size()) << "cbData of a record without text";
    EXPECT_FALSE(records[0].HasText());
    EXPECT_EQ(RecordDataReceived, records[0].Kind());
    EXPECT_EQ(100u, records[0].Word(2));
    EXPECT_EQ(12u, records[1].PayloadLength());
    EXPECT_EQ("socket (7) received 100 bytes of data", records[1].Text());
}

TEST_F(ChannelTest, CopyStopsAtTheLimitAndAShortBufferNeverShowsStrangeBytes)
{
    BYTE source[100];
    memset(source, 'a', 60);
    memset(source + 60, 'b', 40);
    WSABUF buffers[3] = {{60, reinterpret_cast<char*>(source)},
                         {40, reinterpret_cast<char*>(source + 60)},
                         {0, nullptr}};
    BYTE destination[100];
    memset(destination, 0xEE, sizeof(destination));
    EXPECT_EQ(70u, CopyBufferData(buffers, 3, 70, destination));
    EXPECT_EQ('a', destination[59]);
    EXPECT_EQ('b', destination[60]);
    EXPECT_EQ('b', destination[69]);
    EXPECT_EQ(0xEE, destination[70]);

    // A count larger than the buffers hold: the record carries only what is there.
    TraceTo(viewer, High);
    DWORD length = 0;
    BYTE* payload = BuildDataPayload(&length, 5, buffers, 2, 150, RecordDataReceived);
    ASSERT_NE(nullptr, payload);
    EXPECT_EQ(112u, length);
    DWORD count;
    memcpy(&count, payload + 8, 4);
    EXPECT_EQ(150u, count);
    HeapFree(channelHeap, 0, payload);

    // A count no buffer could hold costs neither the memory nor the trace.
    payload = BuildDataPayload(&length, 5, buffers, 2, 0xFFFFFFF0, RecordDataReceived);
    ASSERT_NE(nullptr, payload);
    EXPECT_EQ(112u, length);
    memcpy(&count, payload + 8, 4);
    EXPECT_EQ(0xFFFFFFF0u, count);
    HeapFree(channelHeap, 0, payload);
    EXPECT_NE(nullptr, viewerWindow) << "tracing goes on";

    // A transfer of megabytes: the first megabyte travels, the count tells the whole.
    std::vector<BYTE> large(3 * DataRecordByteLimit, 'z');
    WSABUF one = {static_cast<ULONG>(large.size()), reinterpret_cast<char*>(large.data())};
    payload = BuildDataPayload(&length, 5, &one, 1, static_cast<DWORD>(large.size()), RecordDataSent);
    ASSERT_NE(nullptr, payload);
    EXPECT_EQ(12 + DataRecordByteLimit, length);
    memcpy(&count, payload + 8, 4);
    EXPECT_EQ(large.size(), count);
    HeapFree(channelHeap, 0, payload);
}

TEST_F(ChannelTest, TextRecordSizeIsTheBoundAndArgumentsAreNeverFormats)
{
    TraceTo(viewer, Medium);
    const char* format = "process attached, command line='%s'";
    const char* argument = "app.exe 100%s %d%n";
    DWORD kind = RecordProcessAttached;
    SendKindRecord(4, &kind, format, argument, nullptr);
    SendTextRecord("socket (%s) closed", "12", nullptr);
    auto records = viewer.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ("process attached, command line='app.exe 100%s %d%n'", records[0].Text());
    EXPECT_EQ(4 + 4 + strlen(format) + strlen(argument) + 1, records[0].bytes.size());
    EXPECT_EQ(RecordProcessAttached, records[0].Kind());
    EXPECT_EQ(0u, records[1].PayloadLength());
    EXPECT_EQ("socket (12) closed", records[1].Text());
    EXPECT_EQ(4 + strlen("socket (%s) closed") + 2 + 1, records[1].bytes.size());
}

TEST_F(ChannelTest, AfterOneRefusalNothingMoreIsSentNotEvenTheGoodbye)
{
    TraceTo(viewer, Medium);
    viewer.SetPolicy(ReplyPolicy::RefuseAll);
    SendTextRecord("first", nullptr);
    EXPECT_EQ(nullptr, viewerWindow);
    viewer.SetPolicy(ReplyPolicy::AcceptAll);
    SendTextRecord("second", nullptr);
    DWORD payload[3] = {RecordDataSent, 1, 0};
    SendDataRecord(sizeof(payload), payload);
    DetachFromViewer();
    auto records = viewer.Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("first", records[0].Text());
}

// Presses OK on every message box this process shows, and counts them with their texts.
struct MessageBoxWatcher {
    HANDLE thread = nullptr;
    volatile LONG stop = 0;
    volatile LONG boxes = 0;
    char text[256] = "";

    static BOOL CALLBACK FindText(HWND child, LPARAM parameter)
    {
        auto* self = reinterpret_cast<MessageBoxWatcher*>(parameter);
        char childText[256];
        if (GetWindowTextA(child, childText, sizeof(childText)) > 20)
            strcpy(self->text, childText);
        return TRUE;
    }
    static BOOL CALLBACK CloseBox(HWND window, LPARAM parameter)
    {
        auto* self = reinterpret_cast<MessageBoxWatcher*>(parameter);
        DWORD processId = 0;
        char className[32];
        GetWindowThreadProcessId(window, &processId);
        if (processId != GetCurrentProcessId() || !IsWindowVisible(window))
            return TRUE;
        GetClassNameA(window, className, sizeof(className));
        if (strcmp(className, "#32770") != 0)
            return TRUE;
        EnumChildWindows(window, FindText, parameter);
        InterlockedIncrement(&self->boxes);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
        Sleep(300);   // let the box go before looking again
        return TRUE;
    }
    static DWORD WINAPI Run(void* parameter)
    {
        auto* self = static_cast<MessageBoxWatcher*>(parameter);
        while (!self->stop) {
            EnumWindows(CloseBox, reinterpret_cast<LPARAM>(self));
            Sleep(50);
        }
        return 0;
    }
    void Start() { thread = CreateThread(nullptr, 0, Run, this, 0, nullptr); }
    void Stop()
    {
        stop = 1;
        WaitForSingleObject(thread, 5000);
        CloseHandle(thread);
    }
};

TEST_F(ChannelTest, OutOfMemoryStopsTracingWithOneMessageBox)
{
    TraceTo(viewer, High);
    HANDLE roomy = channelHeap;
    channelHeap = HeapCreate(0, 0x1000, 0x10000);   // a heap that cannot grow far
    ASSERT_NE(nullptr, channelHeap);
    MessageBoxWatcher watcher;
    watcher.Start();
    static char bytes[0x20000];
    WSABUF buffer = {sizeof(bytes), bytes};
    SendDataEvent(9, &buffer, 1, sizeof(bytes), RecordDataSent, "socket (%s) sent %s bytes",
                  "9", "131072", nullptr);
    EXPECT_EQ(nullptr, viewerWindow);
    SendDataEvent(9, &buffer, 1, sizeof(bytes), RecordDataSent, "socket (%s) sent %s bytes",
                  "9", "131072", nullptr);
    Sleep(500);
    watcher.Stop();
    EXPECT_EQ(1, watcher.boxes);
    EXPECT_STREQ("The application that Kestrix is spying is out of memory", watcher.text);
    EXPECT_TRUE(viewer.Records().empty());
    HeapDestroy(channelHeap);
    channelHeap = roomy;
}

class ClaimTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        StopTracing();
        viewer.Close();
    }
    ViewerStandIn viewer;
};

TEST_F(ClaimTest, OpenBlockIsClaimedAcknowledgedAndReleasedByTheGoodbye)
{
    ASSERT_TRUE(viewer.Open(High, FILETIME{}));
    AttachToViewer();
    ASSERT_EQ(viewer.Window(), viewerWindow);
    EXPECT_EQ(static_cast<DWORD>(High), detailLevel);
    EXPECT_EQ(1u, viewer.Block()->claimed);
    EXPECT_EQ(GetCurrentProcessId(), viewer.Block()->processId);
    EXPECT_EQ(1u, viewer.Block()->acknowledged);
    DetachFromViewer();
    EXPECT_EQ(nullptr, viewerWindow);
    EXPECT_EQ(nullptr, channelHeap);
    auto records = viewer.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(RecordProcessAttached, records[0].Kind());
    EXPECT_EQ(4u, records[0].PayloadLength());
    EXPECT_EQ("process attached, command line='" + std::string(GetCommandLineA()) + "'",
              records[0].Text());
    EXPECT_EQ(RecordProcessDetached, records[1].Kind());
    EXPECT_EQ("process detached", records[1].Text());
}

struct ClaimCase {
    const char* name;
    bool published;
    bool startsLater;        // the start time is after this process was created
    bool alreadyClaimed;
    ReplyPolicy policy;
    size_t expectedRecords;
};

TEST_F(ClaimTest, ClaimsThatMustNotHappenOrMustBeUndone)
{
    const ClaimCase cases[] = {
        {"no viewer running", false, false, false, ReplyPolicy::Viewer, 0},
        {"process older than the capture", true, true, false, ReplyPolicy::Viewer, 0},
        {"block already claimed", true, false, true, ReplyPolicy::Viewer, 0},
        {"first record refused", true, false, false, ReplyPolicy::RefuseAll, 1},
        {"first record not acknowledged", true, false, false, ReplyPolicy::AcceptAll, 1},
    };
    for (const ClaimCase& row : cases) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(viewer.Open(Medium, row.startsLater ? ViewerStandIn::Now() : FILETIME{},
                                row.published));
        viewer.SetPolicy(row.policy);
        if (row.alreadyClaimed)
            viewer.Block()->claimed = 1;
        AttachToViewer();
        EXPECT_EQ(nullptr, viewerWindow);
        EXPECT_EQ(nullptr, channelHeap);
        EXPECT_EQ(row.expectedRecords, viewer.Records().size());
        if (row.published) {
            EXPECT_EQ(row.alreadyClaimed ? 1u : 0u, viewer.Block()->claimed)
                << "an undone claim leaves the block open";
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(viewer.Semaphore(), 0))
                << "the semaphore is released";
            ReleaseSemaphore(viewer.Semaphore(), 1, nullptr);
        }
        DetachFromViewer();
        EXPECT_EQ(row.expectedRecords, viewer.Records().size()) << "no goodbye either";
        viewer.Close();
    }
}
