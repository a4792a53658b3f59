// The log buffer keeps up with a traced program: a program that writes tens of thousands of
// lines in about a second, traced by the real viewer at its default settings.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "ViewerSession.h"

namespace {

const DWORD Tick = 225;   // the default Update Interval
// A machine shared with others may hold the viewer back for a while; what this test looks for
// is a display that lags the program by minutes, as it did when a tick showed one batch.
const DWORD LoadedMachineAllowance = 3000;

// The last count lines of a text, or fewer when it has fewer.
std::vector<std::string> LastLines(const std::string& text, size_t count)
{
    std::vector<std::string> lines = SplitLines(text);
    if (lines.size() > count)
        lines.erase(lines.begin(), lines.end() - long(count));
    return lines;
}

}  // namespace

TEST(LiveDisplay, TheLogBufferShowsTheLastLineOfAFastProgramWithinTwoTicksOfItsEnd)
{
    Viewer viewer("e2e-live.log", 2);   // High: every byte is shown as well
    ASSERT_TRUE(viewer.Ready());
    ASSERT_TRUE(viewer.Start());
    Process traced;
    DWORD started = GetTickCount();
    ASSERT_TRUE(traced.Start("iocp_server.exe"));
    ASSERT_EQ(0u, traced.Wait(120000));
    DWORD ended = GetTickCount();

    // The program's records were handled when its calls returned: the log file holds its lines,
    // and the viewer waits for the next process. The log buffer's last lines must soon be the
    // file's: the detach, then the waiting line.
    std::vector<std::string> fileEnd, bufferEnd;
    bool caughtUp = WaitUntil(
        [&] {
            fileEnd = LastLines(viewer.LogFile(), 3);
            bufferEnd = LastLines(viewer.Log(), 3);
            return fileEnd == bufferEnd;
        },
        Tick * 100);
    DWORD delay = GetTickCount() - ended;
    size_t lines = SplitLines(viewer.LogFile()).size();
    printf("%zu lines in %lu ms; the log buffer showed the last %lu ms (%.1f ticks) after the end\n", lines,
           ended - started, delay, double(delay) / Tick);
    ASSERT_TRUE(caughtUp) << "log file ends:\n" << Joined(fileEnd) << "log buffer ends:\n" << Joined(bufferEnd);
    EXPECT_EQ(WaitingLine, fileEnd.back());
    EXPECT_EQ("process detached", fileEnd[fileEnd.size() - 2]);
    EXPECT_GT(lines, 20000u) << "the program wrote a flood of lines";
    EXPECT_LE(delay, 2 * Tick + LoadedMachineAllowance);
    EXPECT_EQ("Started", viewer.driver.StatusText(1));
}
