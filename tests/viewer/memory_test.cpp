// Running out of memory while a record is handled: the capture ends with its error line and the
// window goes on. The allocation is made to fail by this program's own operator new.
#include "ViewerHarness.h"

#include <cstdlib>
#include <new>

namespace {

// When set, the next allocation of at least this many bytes fails.
size_t failNextOfAtLeast = 0;
int failuresMade = 0;

}  // namespace

void* operator new(size_t size)
{
    if (failNextOfAtLeast && size >= failNextOfAtLeast) {
        failNextOfAtLeast = 0;
        failuresMade++;
        throw std::bad_alloc();
    }
    if (void* block = malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    free(block);
}

void operator delete(void* block, size_t) noexcept
{
    free(block);
}

TEST(Memory, AFailedAllocationOnARecordsWayEndsTheCaptureWithItsLine)
{
    const char logFile[] = "memory-test.htm";
    DeleteFileA(logFile);
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    SetWindowTextA(form->EditLogFile, logFile);   // the HTML writer builds each line in memory
    form->StartSpying();
    viewer.AcceptThisProcess();
    ASSERT_EQ(0, viewer.SendRecord(GetCurrentProcessId(), TextRecord("before")));
    std::string record = TextRecord(std::string(200, 'x'));
    failNextOfAtLeast = 200;
    viewer.SendRecord(GetCurrentProcessId(), record);
    failNextOfAtLeast = 0;
    ASSERT_EQ(1, failuresMade) << "the record's way made no allocation of that size";
    EXPECT_FALSE(form->Started) << "the capture has ended";
    viewer.ShowAll();
    std::string shown = viewer.MemoText();
    EXPECT_NE(std::string::npos, shown.find(std::string(OutOfMemoryText) + "\r\n")) << shown;
    EXPECT_TRUE(IsWindow(form->Handle));
    // and the next Start works
    form->StartSpying();
    EXPECT_TRUE(form->Started);
    form->OnClick(Id::ButtonStop);
    DeleteFileA(logFile);
}
