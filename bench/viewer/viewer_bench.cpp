// How fast the viewer takes and shows lines and renders data, at Colors on and off, and that its
// memory stays within the Buffer Size and Backlog Size however much passes through.
//   viewer_bench [lines] [records]
#include "Architecture.h"
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Application.h"
#include "Form1.h"
#include "HexDump.h"

namespace {

double Now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

double MegabytesInUse()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return double(counters.PagefileUsage) / 1048576.0;
}

std::string Word(DWORD value)
{
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

LRESULT Send(TForm1* form, const std::string& record)
{
    COPYDATASTRUCT data = {GetCurrentProcessId(), DWORD(record.size()), const_cast<char*>(record.data())};
    return SendMessageA(form->Handle, WM_COPYDATA, 0, LPARAM(&data));
}

// Waits until every queued line is in the log buffer; the display timer does the work.
void DrainDisplay(TForm1* form)
{
    while (form->PendingHead) {
        ProcessMessages(form);
        if (form->PendingHead)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

struct Figures {
    double accepted;   // per second, until the last record was taken
    double shown;      // per second, until the last line was in the log buffer
    int32_t peakBacklog;
    int32_t bufferLength;
};

// Sends records as a traced process does, letting the window handle its timer between them.
Figures Feed(TForm1* form, const std::string* records, size_t kinds, int count)
{
    Figures figures = {};
    double start = Now();
    for (int i = 0; i < count; i++) {
        Send(form, records[size_t(i) % kinds]);
        if (form->BacklogUsed > figures.peakBacklog)
            figures.peakBacklog = form->BacklogUsed;
        if (i % 64 == 0)
            ProcessMessages(form);
    }
    figures.accepted = count / (Now() - start);
    DrainDisplay(form);
    figures.shown = count / (Now() - start);
    figures.bufferLength = form->LogBufferLength();
    return figures;
}

}  // namespace

int main(int argc, char** argv)
{
    int lines = argc > 1 ? atoi(argv[1]) : 5000;
    int records = argc > 2 ? atoi(argv[2]) : 100;
    printf("build: %s\n", KESTRIX_BITNESS);  // which of the two builds these figures are from
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quenmoor\\Kestrix");
    TForm1* form = TForm1::Create(GetModuleHandleA(nullptr));
    ShowWindow(form->Handle, SW_SHOW);
    UpdateWindow(form->Handle);
    form->UpdateInterval = 70;
    printf("viewer benchmark: %d text lines and %d data records of 4096 bytes per run; Buffer Size %d, "
           "Backlog Size %d\n", lines, records, form->BufferSize, form->BacklogSize);
    printf("memory in use at start: %.1f MB\n", MegabytesInUse());

    // message lines of two kinds, as a traced program's calls make them
    std::string textRecords[2] = {
        Word(0) + "socket (1234) sending data synchronously [len=512] on a connected stream socket" + '\0',
        Word(8) + Word(3) + Word(1234) + "socket (1234) sent 512 bytes of data" + '\0',
    };
    std::string binary(4096, '\0');
    for (size_t i = 0; i < binary.size(); i++)
        binary[i] = char(i * 7 + 3);
    std::string dataRecord = Word(12 + 4096) + Word(4) + Word(77) + Word(4096) + binary +
                             "socket (77) received 4096 bytes of data" + '\0';

    // the hex rows alone
    std::string dump(HexDumpLength(binary.size(), 0), ' ');
    double start = Now();
    int rounds = 2000;
    for (int i = 0; i < rounds; i++)
        FormatHexDump(reinterpret_cast<const uint8_t*>(binary.data()), binary.size(), 0, dump.data());
    printf("hex rows alone: %.1f MB/s of data\n", rounds * 4096.0 / 1048576.0 / (Now() - start));

    for (bool colors : {true, false}) {
        form->Colors = colors;
        form->StartSpying();
        form->WaitingForProcess = false;
        form->SpiedProcessId = GetCurrentProcessId();
        Figures text = Feed(form, textRecords, 2, lines);
        printf("Colors %-3s lines: %8.0f lines/s accepted, %8.0f lines/s shown; peak backlog %d bytes, "
               "log buffer %d characters, memory %.1f MB\n", colors ? "on" : "off", text.accepted, text.shown,
               text.peakBacklog, text.bufferLength, MegabytesInUse());
        form->HexOnly = true;
        Figures hex = Feed(form, &dataRecord, 1, records);
        printf("Colors %-3s hex:   %8.2f MB/s accepted, %8.2f MB/s shown; peak backlog %d bytes, "
               "log buffer %d characters, memory %.1f MB\n", colors ? "on" : "off",
               hex.accepted * 4096 / 1048576.0, hex.shown * 4096 / 1048576.0, hex.peakBacklog, hex.bufferLength,
               MegabytesInUse());
        form->HexOnly = false;
        form->DiscardEntries();
        form->StopSpying(false);
    }
    printf("memory in use at the end: %.1f MB\n", MegabytesInUse());
    delete form;
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quenmoor\\Kestrix");
    return 0;
}
