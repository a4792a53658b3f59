// The control block as a traced process meets it: the viewer's writes at Start, acceptance, detach,
// Stop and the next Start, with this process playing the claimer through the real shared objects.
#include "ViewerHarness.h"

#include "Architecture.h"
#include "ControlBlock.h"

#include <commctrl.h>
#include <string>

namespace {

const DWORD Self = GetCurrentProcessId();

// This process's own view of "Kestrix Shared Memory", as the provider opens it.
struct BlockView {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, KESTRIX_MAPPING_NAME);
    ControlBlock* block =
        mapping ? static_cast<ControlBlock*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ControlBlock)))
                : nullptr;
    ~BlockView()
    {
        if (block)
            UnmapViewOfFile(block);
        if (mapping)
            CloseHandle(mapping);
    }
    void Claim(DWORD processId)
    {
        block->claimed = 1;
        block->processId = processId;
        block->acknowledged = 0;
    }
};

ULONGLONG Ticks(const FILETIME& time) { return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

}  // namespace

TEST(Capture, ControlBlockThroughStartAcceptanceDetachStopAndRestart)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    form->Detail = 1;
    form->StartSpying();
    ASSERT_NE(nullptr, form->SemaphoreHandle);
    BlockView view;
    ASSERT_NE(nullptr, view.block);
    ControlBlock& block = *view.block;
    EXPECT_EQ(DWORD(UINT_PTR(form->Handle)), block.viewerWindow);
    EXPECT_EQ(0u, block.claimed);
    EXPECT_EQ(1u, block.detailLevel);
    FILETIME firstStart = block.startTime;

    // waiting: nobody claimed, or somebody else did: dropped with 0
    EXPECT_EQ(0, viewer.SendRecord(Self, TextRecord("unclaimed")));
    view.Claim(Self + 4);
    EXPECT_EQ(0, viewer.SendRecord(Self, TextRecord("claimed by another")));
    EXPECT_TRUE(form->WaitingForProcess);
    EXPECT_EQ(0u, block.acknowledged);

    // the claimer's first record is accepted and processed in the same call
    view.Claim(Self);
    EXPECT_EQ(0, viewer.SendRecord(Self, SocketRecord(1, 77, "socket (77) created")));
    EXPECT_FALSE(form->WaitingForProcess);
    EXPECT_EQ(Self, form->SpiedProcessId);
    EXPECT_EQ(1u, block.acknowledged);
    EXPECT_EQ("1", viewer.WindowText(form->LabelSCreated));
    EXPECT_EQ(1, viewer.SendRecord(Self + 4, TextRecord("intruder")));

    Sleep(20);   // a later start time must be visibly later
    EXPECT_EQ(0, viewer.SendRecord(Self, SocketRecord(5, 0, "process detached")));
    EXPECT_TRUE(form->WaitingForProcess);
    EXPECT_EQ(0u, block.claimed) << "open for the next process";
    EXPECT_GT(Ticks(block.startTime), Ticks(firstStart));
    EXPECT_EQ("1", viewer.WindowText(form->LabelSCreated)) << "counts stay until the next acceptance";

    view.Claim(Self);
    EXPECT_EQ(0, viewer.SendRecord(Self, TextRecord("next process")));
    EXPECT_EQ("0", viewer.WindowText(form->LabelSCreated)) << "a new process counts from zero";

    form->OnClick(Id::ButtonStop);
    EXPECT_EQ(1u, block.claimed) << "no process may claim while stopped";
    EXPECT_NE(nullptr, form->SemaphoreHandle) << "Stop keeps the shared objects";
    EXPECT_EQ(0, viewer.SendRecord(Self, TextRecord("late")));

    // the next Start re-arms the same block with the new detail level
    HANDLE semaphore = form->SemaphoreHandle;
    form->Detail = 2;
    FILETIME stoppedAt = block.startTime;
    Sleep(20);
    form->StartSpying();
    EXPECT_EQ(semaphore, form->SemaphoreHandle);
    EXPECT_EQ(0u, block.claimed);
    EXPECT_EQ(2u, block.detailLevel);
    EXPECT_GT(Ticks(block.startTime), Ticks(stoppedAt));
    viewer.ShowAll();
    std::string shown = viewer.MemoText();
    for (const char* dropped : {"unclaimed", "claimed by another", "intruder", "late"})
        EXPECT_EQ(std::string::npos, shown.find(dropped)) << dropped << " in\n" << shown;
}

TEST(Capture, SecondWindowCannotStartWhileTheFirstHoldsTheObjects)
{
    ViewerHarness first;
    first.form->StartSpying();
    ASSERT_NE(nullptr, first.form->SemaphoreHandle);
    {
        ViewerHarness second;
        std::string message = "no error";
        try {
            second.form->StartSpying();
        } catch (const ViewerError& error) {
            message = error.what();
        }
        EXPECT_EQ("another copy of Kestrix is running", message);
        EXPECT_EQ(nullptr, second.form->SemaphoreHandle);
        EXPECT_FALSE(second.form->Started);
    }
    // the first copy's block is untouched
    BlockView view;
    ASSERT_NE(nullptr, view.block);
    EXPECT_EQ(DWORD(UINT_PTR(first.form->Handle)), view.block->viewerWindow);
    view.Claim(Self);
    EXPECT_EQ(0, first.SendRecord(Self, TextRecord("still working")));
    EXPECT_FALSE(first.form->WaitingForProcess);
}

// The 64-bit viewer with the 32-bit layer beside it, missing, or not a layer: Start says in the
// status bar's last part what it could not do, once, and a file that is no layer stops it.
TEST(Capture, TheStatusBarTellsWhatTheThirtyTwoBitLayerBesideTheViewerAllows)
{
    if (std::string(KESTRIX_ARCHITECTURE) != "x64")
        GTEST_SKIP() << "a 32-bit viewer serves its own catalog alone";
    const char layer32[] = "x86\\kestrixlayer.dll";
    const char aside[] = "x86\\kestrixlayer.dll.aside";
    CreateDirectoryA("x86", nullptr);
    bool present = MoveFileExA(layer32, aside, MOVEFILE_REPLACE_EXISTING);
    auto statusNote = [](ViewerHarness& viewer) {
        char text[512] = "";
        SendMessageA(viewer.form->StatusBar1, SB_GETTEXTA, 2, LPARAM(text));
        return std::string(text);
    };
    {   // missing: the native catalog alone, and the user is told
        ViewerHarness viewer;
        viewer.form->StartSpying();
        EXPECT_NE(nullptr, viewer.form->SemaphoreHandle);
        EXPECT_EQ("32-bit programs are not traced: x86\\KESTRIXLAYER.DLL is missing", statusNote(viewer));
        viewer.form->StopSpying(false);
        viewer.form->StartSpying();
        EXPECT_EQ("32-bit programs are not traced: x86\\KESTRIXLAYER.DLL is missing", statusNote(viewer))
            << "said once: the next Start does not install again";
        viewer.form->StopSpying(true);
    }
    {   // not a 32-bit layer: could not initialize, with the reason beside it
        ASSERT_TRUE(CopyFileA("kestrixlayer.dll", layer32, FALSE));
        ViewerHarness viewer;
        std::string message = "no error";
        try {
            viewer.form->StartSpying();
        } catch (const ViewerError& error) {
            message = error.what();
        }
        EXPECT_EQ("could not initialize", message);
        EXPECT_EQ("x86\\KESTRIXLAYER.DLL is not a 32-bit x86 DLL", statusNote(viewer));
        EXPECT_EQ(nullptr, viewer.form->SemaphoreHandle);
        DeleteFileA(layer32);
    }
    if (present)
        MoveFileExA(aside, layer32, MOVEFILE_REPLACE_EXISTING);
}
