// How live the log buffer is: a program that writes tens of thousands of lines in a second or
// two, traced by the real kestrix.exe at High with its default settings otherwise (225 ms
// updates, 4 MB backlog, 32 KB log buffer, colours on) and a text log file.
//   live_bench [--rounds N] [--patience SECONDS] [program [arguments]]   (default: iocp_server.exe)
//   run from the build's bin folder with WINEDLLOVERRIDES=ws2_32=n,b
// Each round runs the program untraced (the viewer stopped, its layer in the catalog, as after
// any capture), then traced, and after the traced run polls the viewer until the log buffer's
// last lines are the log file's: the program's own run time both ways, the lines it wrote, and
// the time from its end until the log buffer shows its last line. Medians over the rounds.
#include "Architecture.h"
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "Clock.h"
#include "ControlIds.h"
#include "ViewerDriver.h"

namespace {

const char SettingsKey[] = "Software\\Quenmoor\\Kestrix";
const char LogFileName[] = "live-bench.log";
const char ProgramOutput[] = "live-bench-program.txt";   // the program's own report, kept apart
const DWORD Detail = 2;   // High
const DWORD Patience = 30000;
const DWORD ProgramPatience = 300000;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool WriteSettings()
{
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != 0)
        return false;
    RegSetValueExA(key, "Detail", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&Detail), sizeof Detail);
    RegSetValueExA(key, "Log File", 0, REG_SZ, reinterpret_cast<const BYTE*>(LogFileName), sizeof LogFileName);
    RegCloseKey(key);
    return true;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> LastLines(const std::string& text, size_t count)
{
    std::vector<std::string> lines = Lines(text);
    if (lines.size() > count)
        lines.erase(lines.begin(), lines.end() - long(count));
    return lines;
}

std::string ReadLogFile()
{
    std::ifstream file(LogFileName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Seconds the program ran, or a negative number when it failed or outlived its patience.
double RunProgram(const std::string& commandLine)
{
    ChildProcess program;
    double start = Now();
    DWORD code = 1;
    if (!program.Start(commandLine, ProgramOutput) || !program.Wait(ProgramPatience, &code) || code != 0)
        return -1;
    return Now() - start;
}

bool Fail(const char* what)
{
    printf("live_bench: FAILED: %s\n", what);
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = 5;
    double patience = 600;
    std::string program;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--rounds") == 0 && i + 1 < argc && atoi(argv[i + 1]) > 0) {
            rounds = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--patience") == 0 && i + 1 < argc && atof(argv[i + 1]) > 0) {
            patience = atof(argv[++i]);
        } else if (argv[i][0] == '-') {
            printf("usage: live_bench [--rounds N] [--patience SECONDS] [program [arguments]]\n");
            return 2;
        } else {
            for (; i < argc; i++)
                program += std::string(program.empty() ? "" : " ") + argv[i];
        }
    }
    if (program.empty())
        program = "iocp_server.exe";
    if (GetFileAttributesA("kestrixlayer.dll") == INVALID_FILE_ATTRIBUTES) {
        printf("live_bench: run it in the build's bin folder, where kestrixlayer.dll is\n");
        return 2;
    }
    printf("build: %s\n", KESTRIX_BITNESS);   // which of the two builds these figures are from
    printf("live bench: %d rounds of %s; viewer at High, text log file, default settings\n", rounds,
           program.c_str());
    if (!WriteSettings())
        return Fail("the settings could not be written"), 1;
    ChildProcess viewerProcess;
    ViewerDriver viewer;
    if (!viewerProcess.Start("kestrix.exe") || !viewer.Find(viewerProcess.Id(), Patience))
        return Fail("the viewer did not come up"), 1;
    auto clickAndWait = [&](UINT button, const char* status) {
        return viewer.Click(button) && WaitUntil([&] { return viewer.StatusText(1) == status; }, Patience);
    };
    // the first capture puts the layer in the catalog, where it stays for the untraced runs
    if (!clickAndWait(Id::ButtonStart, "Started") || !clickAndWait(Id::ButtonStop, "Stopped"))
        return Fail("the capture did not start and stop"), 1;

    std::vector<double> untraced, traced, delays, lineCounts;
    bool ok = true;
    for (int round = 0; round < rounds && ok; round++) {
        double bare = RunProgram(program);
        if (bare < 0 || !clickAndWait(Id::ButtonStart, "Started")) {
            ok = Fail("the untraced run or the Start failed");
            break;
        }
        double run = RunProgram(program);
        double ended = Now();
        if (run < 0) {
            ok = Fail("the traced run failed");
            break;
        }
        // the log file holds every line when the program ends: its records are synchronous
        std::vector<std::string> fileEnd = LastLines(ReadLogFile(), 3);
        double delay = -1;
        while (Now() - ended < patience) {
            if (LastLines(viewer.Text(Id::Memo1), 3) == fileEnd) {
                delay = Now() - ended;
                break;
            }
            Sleep(10);
        }
        double lines = double(Lines(ReadLogFile()).size());
        if (!clickAndWait(Id::ButtonStop, "Stopped")) {
            ok = Fail("the capture did not stop");
            break;
        }
        untraced.push_back(bare);
        traced.push_back(run);
        delays.push_back(delay < 0 ? patience : delay);
        lineCounts.push_back(lines);
        printf("round %d: untraced %.2f s, traced %.2f s, %.0f lines; the log buffer showed the last line %s%.2f s "
               "after the end\n",
               round + 1, bare, run, lines, delay < 0 ? "more than " : "", delay < 0 ? patience : delay);
        fflush(stdout);
    }
    viewer.CloseAnsweringYes(Patience);
    viewerProcess.Wait(Patience);
    DeleteFileA(LogFileName);
    DeleteFileA(ProgramOutput);
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    if (!ok)
        return 1;

    printf("\nmedians of %d rounds\n", rounds);
    printf("%-52s %9.2f s\n", "program run time, untraced", Median(untraced));
    printf("%-52s %9.2f s\n", "program run time, traced at High", Median(traced));
    printf("%-52s %9.0f\n", "lines in the log file", Median(lineCounts));
    printf("%-52s %9.2f s\n", "from its end until the log buffer shows its last line", Median(delays));
    return 0;
}
