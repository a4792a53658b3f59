// wscatalog as a user runs it: its exit codes, its one-line reasons and what it does to the
// catalog, read back through the drop-in.
#include "CatalogSnapshot.h"
#include "WinsockLayerIds.h"

#include <string>

namespace {

struct ToolRun {
    int exitCode;
    std::string output; // stdout and stderr together
};

ToolRun RunTool(const std::string& arguments)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    CreatePipe(&readEnd, &writeEnd, &inherit, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::string line = "wscatalog.exe " + arguments;
    ToolRun run{-1, ""};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return run;
    }
    CloseHandle(writeEnd);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got)
        for (DWORD i = 0; i < got; ++i)
            if (buffer[i] != '\r') // the tool writes text mode: lines end in CR LF
                run.output += buffer[i];
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    run.exitCode = static_cast<int>(code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(readEnd);
    return run;
}

using CatalogTool = CatalogTest;

TEST_F(CatalogTool, InstallsTheTestLayerFirstAndRemovesItCompletely)
{
    DeleteStoredCatalog();
    ToolRun listed = RunTool("list");
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_NE(listed.output.find("1001  chain 1 [1001]  flags 0x00020066  af 2 type 1 proto 6  "
                                 "TCP/IP  %WS2LAYER_HOME%\\basewsp.dll"),
              std::string::npos)
        << listed.output;

    ASSERT_EQ(RunTool("install-test-layer").exitCode, 0);
    std::vector<WSAPROTOCOL_INFOW> entries = CatalogEntries();
    const int seeded = static_cast<int>(seededIds.size());
    ASSERT_EQ(entries.size(), 2u * seeded + 1);
    const wchar_t* bases[] = {L"TCP/IP", L"UDP/IP", L"RAW/IP", L"TCP/IPv6", L"UDP/IPv6",
                              L"RAW/IPv6"};
    DWORD layerId = entries.back().dwCatalogEntryId;
    EXPECT_EQ(entries.back().ProtocolChain.ChainLen, LAYERED_PROTOCOL);
    EXPECT_TRUE(IsEqualGUID(entries.back().ProviderId, PassLayerProviderId));
    for (int i = 0; i < seeded; ++i) {
        SCOPED_TRACE(testing::Message() << "chain " << i);
        EXPECT_EQ(entries[i].ProtocolChain.ChainLen, 2);
        EXPECT_EQ(entries[i].ProtocolChain.ChainEntries[0], layerId);
        EXPECT_EQ(entries[i].ProtocolChain.ChainEntries[1],
                  entries[seeded + i].dwCatalogEntryId);
        EXPECT_EQ(std::wstring(entries[i].szProtocol),
                  std::wstring(L"Pass-through layer over [") + bases[i] + L"]");
    }
    GUID chainGuid = entries[0].ProviderId;
    wchar_t path[MAX_PATH];
    int length = MAX_PATH, error = 0;
    ASSERT_EQ(WSCGetProviderPath(&chainGuid, path, &length, &error), 0);
    EXPECT_STREQ(path, L"%WS2LAYER_HOME%\\passlayer.dll");

    ToolRun twice = RunTool("install-test-layer");
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_EQ(twice.output, "wscatalog install-test-layer: the provider is already installed\n");
    EXPECT_EQ(CatalogEntries().size(), 2u * seeded + 1);

    EXPECT_EQ(RunTool("remove-test-layer").exitCode, 0);
    EXPECT_EQ(CatalogIds(), seededIds);
    ToolRun again = RunTool("remove-test-layer");
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.output,
              "wscatalog remove-test-layer: no layered provider with that GUID is installed\n");
}

TEST_F(CatalogTool, InstallsAnyLayerByGuidAndRefusesBadInput)
{
    DeleteStoredCatalog();
    const std::string guid = "{F388AA6E-39C9-4C31-9AF1-41866B21EF03}";
    ASSERT_EQ(RunTool("install C:\\layers\\kestrixlayer.dll " + guid + " Kestrix").exitCode, 0);
    std::vector<WSAPROTOCOL_INFOW> entries = CatalogEntries();
    const size_t withLayer = 2 * seededIds.size() + 1;
    ASSERT_EQ(entries.size(), withLayer);
    EXPECT_STREQ(entries[1].szProtocol, L"Kestrix over [UDP/IP]");
    EXPECT_STREQ(entries[2].szProtocol, L"Kestrix over [RAW/IP]");
    EXPECT_EQ(entries[1].dwServiceFlags1 & XP1_IFS_HANDLES, 0u) << "an unknown layer is not IFS";
    EXPECT_NE(entries.back().dwProviderFlags & PFL_HIDDEN, 0u);

    struct BadRun {
        std::string arguments;
        int exitCode;
        std::string output;
    } cases[] = {
        {"install C:\\x.dll {F388AA6E-39C9-4C31-9AF1-41866B21EF0} X", 1,
         "wscatalog install: not a GUID: {F388AA6E-39C9-4C31-9AF1-41866B21EF0}\n"},
        {"install C:\\x.dll " + guid + " Again", 1,
         "wscatalog install: the provider is already installed\n"},
        {"remove {00000000-0000-0000-0000-000000000001}", 1,
         "wscatalog remove: no layered provider with that GUID is installed\n"},
        {"remove nonsense", 1, "wscatalog remove: not a GUID: nonsense\n"},
        {"install C:\\x.dll", 2, ""},
        {"frobnicate", 2, ""},
    };
    for (const BadRun& row : cases) {
        SCOPED_TRACE(row.arguments);
        ToolRun run = RunTool(row.arguments);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.output;
        if (row.exitCode == 2)
            EXPECT_EQ(run.output.rfind("usage: wscatalog", 0), 0u) << run.output;
        else
            EXPECT_EQ(run.output, row.output);
    }
    EXPECT_EQ(CatalogEntries().size(), withLayer);
    EXPECT_EQ(RunTool("remove " + guid.substr(1, 36)).exitCode, 0) << "braces are optional";
    EXPECT_EQ(CatalogIds(), seededIds);
}

TEST_F(CatalogTool, DamagedCatalogIsReportedAndCanBeReset)
{
    WriteStoredCatalog(std::vector<BYTE>{1, 2, 3});
    ToolRun listed = RunTool("list");
    EXPECT_EQ(listed.exitCode, 1);
    EXPECT_EQ(listed.output,
              "wscatalog list: the stored catalog is damaged (wscatalog reset seeds a new one)\n");
    EXPECT_EQ(RunTool("reset").exitCode, 0);
    EXPECT_EQ(CatalogIds(), seededIds);
}

} // namespace
