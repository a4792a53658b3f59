// The claim as real processes make it when they load the layer.
#include "LayerHarness.h"
#include <string>

static const char* const GoEventName = "KestrixClaimTestGo";

struct Loader {
    PROCESS_INFORMATION process = {};
    bool Start(const std::string& arguments)
    {
        std::string commandLine = "layerloader.exe " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        return CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &process);
    }
    DWORD Finish()
    {
        DWORD code = 0xdeadbeef;
        if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return code;
    }
};

static std::vector<Record> FromProcess(const std::vector<Record>& records, DWORD processId)
{
    std::vector<Record> found;
    for (const Record& record : records) {
        if (record.processId == processId)
            found.push_back(record);
    }
    return found;
}

TEST(ClaimProcessTest, TwoRacingProcessesClaimExactlyOnce)
{
    ViewerStandIn viewer;
    ASSERT_TRUE(viewer.Open(Medium, ViewerStandIn::Now()));
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, GoEventName);
    Loader first, second;
    ASSERT_TRUE(first.Start(std::string("--wait ") + GoEventName));
    ASSERT_TRUE(second.Start(std::string("--wait ") + GoEventName));
    SetEvent(go);
    EXPECT_EQ(0u, first.Finish());
    EXPECT_EQ(0u, second.Finish());
    CloseHandle(go);
    auto records = viewer.Records();
    auto fromFirst = FromProcess(records, first.process.dwProcessId);
    auto fromSecond = FromProcess(records, second.process.dwProcessId);
    ASSERT_EQ(2u, fromFirst.size() + fromSecond.size()) << "one attach and one detach in all";
    const auto& winner = fromFirst.empty() ? fromSecond : fromFirst;
    ASSERT_EQ(2u, winner.size());
    EXPECT_EQ(RecordProcessAttached, winner[0].Kind());
    EXPECT_EQ(RecordProcessDetached, winner[1].Kind());
}

TEST(ClaimProcessTest, ProcessCreatedBeforeTheStartTimeIsNeverTraced)
{
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, GoEventName);
    Loader early;
    ASSERT_TRUE(early.Start(std::string("--wait ") + GoEventName));
    Sleep(100);
    ViewerStandIn viewer;
    ASSERT_TRUE(viewer.Open(Medium, ViewerStandIn::Now()));
    SetEvent(go);
    EXPECT_EQ(0u, early.Finish());
    CloseHandle(go);
    EXPECT_TRUE(viewer.Records().empty());
    EXPECT_EQ(0u, viewer.Block()->claimed);
}

TEST(ClaimProcessTest, CommandLineIsShownUnchangedAndARefusedClaimReopensTheBlock)
{
    ViewerStandIn viewer;
    ASSERT_TRUE(viewer.Open(Medium, ViewerStandIn::Now()));
    viewer.SetPolicy(ReplyPolicy::RefuseAll);
    Loader refused;
    ASSERT_TRUE(refused.Start("refused"));
    EXPECT_EQ(0u, refused.Finish());
    auto records = viewer.Records();
    ASSERT_EQ(1u, records.size()) << "the refused process says no goodbye";
    EXPECT_EQ(0u, viewer.Block()->claimed);

    viewer.SetPolicy(ReplyPolicy::Viewer);
    viewer.ClearRecords();
    Loader percent;
    ASSERT_TRUE(percent.Start("100%s %d%% %n"));
    EXPECT_EQ(0u, percent.Finish());
    records = viewer.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(percent.process.dwProcessId, records[0].processId);
    EXPECT_EQ("process attached, command line='layerloader.exe 100%s %d%% %n'", records[0].Text());
    EXPECT_EQ("process detached", records[1].Text());
}
