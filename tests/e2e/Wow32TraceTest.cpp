// The 64-bit viewer and kestrixrun with the 32-bit layer beside them: the layer in both catalogs
// for the capture's whole life and in neither after it, a killed viewer's entries replaced in
// both, and a 32-bit program traced as its 64-bit build is, where this machine runs 32-bit
// programs at all.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2spi.h>

#include <string>
#include <vector>

#include "Catalog.h"
#include "TraceHistories.h"
#include "ViewerSession.h"

namespace {

const char Layer32[] = "x86\\kestrixlayer.dll";
const char Programs32[] = "..\\x86\\bin\\";

// The Kestrix entries of the catalog of 32-bit processes.
int LayerEntries32()
{
    int count = 0, layer = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalogWith(WSCEnumProtocols32, &count);
    for (int i = 0; catalog && i < count; i++)
        if (wcsncmp(catalog[i].szProtocol, L"Kestrix", 7) == 0)
            layer++;
    FreeCatalog(catalog);
    return layer;
}

// Whether a 32-bit program of the 32-bit build runs here: the kernel must run 32-bit code and
// Wine its 32-bit half.
bool ThirtyTwoBitProgramsRun()
{
    Process probe;
    return probe.Start(std::string(Programs32) + "catalog_worker.exe") && probe.Wait() == 2;
}

class Wow32Trace : public testing::Test {
protected:
    void SetUp() override
    {
        if (GetFileAttributesA(Layer32) == INVALID_FILE_ATTRIBUTES)
            GTEST_SKIP() << "no 32-bit layer in bin\\x86 (scripts/build.sh puts it there with both builds)";
        ASSERT_EQ(0, LayerEntries());
        ASSERT_EQ(0, LayerEntries32());
    }
};

TEST_F(Wow32Trace, BothCatalogsHoldTheLayerWhileTheViewerRunsAndAKilledOnesAreReplaced)
{
    {
        Viewer doomed;
        ASSERT_TRUE(doomed.Ready() && doomed.Start());
        EXPECT_GT(LayerEntries(), 1);
        EXPECT_EQ(LayerEntries(), LayerEntries32()) << "the same chains in both catalogs";
        doomed.Kill();
    }
    EXPECT_GT(LayerEntries32(), 1) << "a killed viewer cannot take the layer out";
    {
        Viewer next;
        ASSERT_TRUE(next.Ready());
        ASSERT_TRUE(next.Start()) << "the entries of the killed viewer are replaced in both catalogs: "
                                  << next.driver.WaitForMessageBox(500);
        EXPECT_EQ(0u, RunToEnd("socketlife.exe"));
        EXPECT_TRUE(next.LogShows("process detached")) << next.Log();
    }
    EXPECT_EQ(0, LayerEntries()) << "exit takes the layer out of the native catalog";
    EXPECT_EQ(0, LayerEntries32()) << "and out of the catalog of 32-bit processes";
}

TEST_F(Wow32Trace, AThirtyTwoBitProgramIsTracedAsItsSixtyFourBitBuildIs)
{
    if (!ThirtyTwoBitProgramsRun())
        GTEST_SKIP() << "32-bit programs do not run on this machine: the traced 32-bit program is not tested";
    Viewer viewer("e2e-wow32.log");
    ASSERT_TRUE(viewer.Ready() && viewer.Start());
    // One capture, the 32-bit program first: the first to start after Start, whatever its bitness.
    EXPECT_EQ(0u, RunToEnd(std::string(Programs32) + "tcp_blocking.exe"));
    ASSERT_TRUE(viewer.LogShows("process detached")) << viewer.Log();
    EXPECT_EQ(0u, RunToEnd("tcp_blocking.exe"));
    ASSERT_TRUE(viewer.LogShows("process detached", 2)) << viewer.Log();
    ASSERT_TRUE(viewer.Stop());
    std::vector<std::vector<std::string>> processes = ProcessesOf(SplitLines(viewer.LogFile()));
    ASSERT_EQ(2u, processes.size()) << viewer.LogFile();
    EXPECT_EQ(Histories(processes[1], true), Histories(processes[0], true))
        << "the 32-bit program's sockets, as the 64-bit one's";

    Process run;
    ASSERT_TRUE(run.Start("kestrixrun.exe --output e2e-wow32-run.log " + std::string(Programs32) +
                          "tcp_blocking.exe"));
    EXPECT_EQ(0u, run.Wait(60000));
    std::vector<std::vector<std::string>> traced = ProcessesOf(SplitLines(ReadWholeFile("e2e-wow32-run.log")));
    ASSERT_EQ(1u, traced.size());
    EXPECT_EQ(Histories(processes[1], true), Histories(traced[0], true)) << "kestrixrun the same";
    EXPECT_EQ(0, LayerEntries32());
}

}  // namespace
