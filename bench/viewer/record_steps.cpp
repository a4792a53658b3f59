// Where the time of one record goes in the viewer: each step of its handling timed on its own,
// in a real main window of this process, and what a display tick costs under a flood.
//   record_steps [repeats]
#include "Architecture.h"
#include <windows.h>
#include <richedit.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "Application.h"
#include "Form1.h"

namespace {

double Now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

std::string Word(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

const char LogName[] = "record-steps.log";
const char Line[] = "socket (1234) sending data synchronously [len=512] on a connected stream socket";

void Step(const char* name, int repeats, const std::function<void()>& step, const std::function<void()>& after = nullptr)
{
    double start = Now();
    for (int i = 0; i < repeats; i++)
        step();
    double microseconds = (Now() - start) * 1e6 / repeats;
    if (after)
        after();
    printf("%-52s %9.1f us\n", name, microseconds);
    fflush(stdout);
}

LRESULT Send(TForm1* form, const std::string& record)
{
    COPYDATASTRUCT data = {GetCurrentProcessId(), DWORD(record.size()), const_cast<char*>(record.data())};
    return SendMessageA(form->Handle, WM_COPYDATA, 0, LPARAM(&data));
}

// Fills the log buffer to its size with lines, through the display itself.
void FillLogBuffer(TForm1* form)
{
    while (form->LogBufferLength() + 100 < form->BufferSize) {
        for (int i = 0; i < 13; i++)
            form->AddLine(Line, MessageLine, false);
        form->ShowNextBatch();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int repeats = argc > 1 ? atoi(argv[1]) : 2000;
    printf("build: %s\n", KESTRIX_BITNESS);  // which of the two builds these figures are from
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quenmoor\\Kestrix");
    TForm1* form = TForm1::Create(GetModuleHandleA(nullptr));
    form->FixedTickBudget = TForm1::NoBudget;   // the steps bring in all they show, all but the ticks
    ShowWindow(form->Handle, SW_SHOW);
    UpdateWindow(form->Handle);
    SetWindowTextA(form->EditLogFile, LogName);
    form->StartSpying();
    form->WaitingForProcess = false;
    form->SpiedProcessId = GetCurrentProcessId();
    ProcessMessages(form);
    printf("record steps: %d repeats each, Buffer Size %d\n", repeats, form->BufferSize);

    int32_t count = 0;
    Step("counter label (FormatCount)", repeats, [&] { form->FormatCount(form->LabelSCreated, ++count); });
    Step("log file line and line end, flushed (WriteLogLine)", repeats,
         [&] { form->WriteLogLine(Line, MessageLine, int32_t(strlen(Line))); });
    Step("backlog entry (AddLine without the log file)", repeats,
         [&] {
             LogWriter* file = form->LogFile;
             form->LogFile = nullptr;
             form->AddLine(Line, MessageLine, false);
             form->LogFile = file;
         },
         [&] { form->DiscardEntries(); });
    std::string text = Word(0) + Line + '\0';
    Step("text record, whole (WM_COPYDATA in this process)", repeats, [&] { Send(form, text); },
         [&] { form->DiscardEntries(); });
    std::string created = Word(8) + Word(1) + Word(77) + "socket (77) created" + '\0';
    Step("socket-created record, whole", repeats, [&] { Send(form, created); }, [&] { form->DiscardEntries(); });
    std::string data = Word(24) + Word(3) + Word(77) + Word(12) + std::string("\x01\x08\x0f\x16\x1d\x24\x2b\x32\x39\x40\x47\x4e", 12) +
                       "socket (77) sent 12 bytes of data" + '\0';
    Step("12-byte data record, whole", repeats, [&] { Send(form, data); }, [&] { form->DiscardEntries(); });

    // a full backlog: every few records show a batch to make room
    while (!form->ShownHead)
        Send(form, text);
    Step("text record, whole, with the backlog full", repeats, [&] { Send(form, text); }, [&] {
        form->DiscardEntries();
        form->DiscardShownBatches();
    });

    // the display, with the log buffer at its size so that every batch trims
    FillLogBuffer(form);
    int batches = repeats / 20 > 20 ? repeats / 20 : 20;
    Step("log buffer length (EM_GETTEXTLENGTHEX)", repeats, [&] { form->LogBufferLength(); });
    Step("13 lines and their batch, shown to wait for the tick", batches, [&] {
        for (int i = 0; i < 13; i++)
            form->AddLine(Line, MessageLine, false);
        form->ShowNextBatch();
    });
    {
        // the display tick as a whole, and what bringing the batch in takes of it
        double whole = 0, caughtUp = 0;
        for (int b = 0; b < 2 * batches; b++) {
            for (int i = 0; i < 13; i++)
                form->AddLine(Line, MessageLine, false);
            form->ShowNextBatch();
            double start = Now();
            if (b % 2)
                form->CatchUpLogBuffer();
            else
                form->RefreshDisplay();
            (b % 2 ? caughtUp : whole) += Now() - start;
            form->RefreshDisplay();
        }
        printf("%-52s %9.1f us\n", "the same, brought into a full buffer and repainted", whole * 1e6 / batches);
        printf("%-52s %9.1f us\n", "  of which bringing in", caughtUp * 1e6 / batches);
    }
    // a flood: more batches than the buffer holds wait for the tick
    auto showBufferful = [&] {
        for (int i = 0; i < 13 * 40; i++)
            form->AddLine(Line, MessageLine, false);
        while (form->ShowNextBatch()) {
        }
    };
    Step("a buffer's worth of batches brought in at once", 10, [&] {
        showBufferful();
        form->CatchUpLogBuffer();
    }, [&] { form->RefreshDisplay(); });
    Step("  the same, and repainted", 10, [&] {
        showBufferful();
        form->RefreshDisplay();
    });
    {
        // a traced exchange's flood: a message line and a data line in turn, each its own batch
        // of its own colour, all shown at one tick
        const int lines = 20000;
        auto addExchanges = [&] {
            for (int i = 0; i < lines; i += 2) {
                form->AddLine(Line, MessageLine, false);
                form->AddLine(Line + 20, DataLine, false);
            }
        };
        addExchanges();
        double start = Now();
        while (form->ShowNextBatch()) {
        }
        double shown = Now() - start;
        form->CatchUpLogBuffer();
        double caughtUp = Now() - start - shown;
        form->RefreshDisplay();
        printf("a flood of %d lines of two colours in turn\n", lines);
        printf("%-52s %9.2f us\n", "  each shown batch by batch to wait for the tick", shown * 1e6 / lines);
        printf("%-52s %9.0f us\n", "  a buffer's worth of them brought in, in all", caughtUp * 1e6);
        form->FixedTickBudget = 0;   // a tick as the viewer has it: its budget learned as it goes
        for (int tick = 0; tick < 5; tick++) {
            addExchanges();
            start = Now();
            form->ShowEverythingWaiting();
            printf("  %-50s %9.0f us (then a budget of %lld characters at %.2f us each)\n",
                   "a display tick with all of them waiting", (Now() - start) * 1e6,
                   (long long)form->TickBudget(), form->CatchUpPace.MicrosecondsPerCharacter());
        }
        form->FixedTickBudget = TForm1::NoBudget;
    }
    {
        // the rich edit's own costs, frozen as the display leaves it between ticks
        HWND memo = form->Memo1;
        std::string batch;
        for (int i = 0; i < 13; i++)
            batch += std::string(Line) + "\r\n";
        auto time = [&](const char* name, const std::function<void()>& f) {
            double s = Now();
            for (int b = 0; b < 50; b++) f();
            printf("  %-50s %9.1f us\n", name, (Now() - s) * 1e6 / 50);
        };
        SendMessageA(memo, WM_SETREDRAW, FALSE, 0);
        SetWindowTextA(memo, "");
        time("insert 1 KB at the end, buffer growing from empty", [&] {
            SendMessageA(memo, EM_SETSEL, WPARAM(-1), LPARAM(-1));
            SendMessageA(memo, EM_REPLACESEL, FALSE, LPARAM(batch.c_str()));
        });
        time("insert 1 char at the end", [&] {
            SendMessageA(memo, EM_SETSEL, WPARAM(-1), LPARAM(-1));
            SendMessageA(memo, EM_REPLACESEL, FALSE, LPARAM("x"));
        });
        time("delete 1 char at the end", [&] {
            SendMessageA(memo, EM_SETSEL, form->LogBufferLength() - 1, -1);
            SendMessageA(memo, EM_REPLACESEL, FALSE, LPARAM(""));
        });
        time("delete 13 lines at the top, then insert them at the end", [&] {
            LRESULT end = SendMessageA(memo, EM_LINEINDEX, 13, 0);
            SendMessageA(memo, EM_SETSEL, 0, end);
            SendMessageA(memo, EM_REPLACESEL, FALSE, LPARAM(""));
            SendMessageA(memo, EM_SETSEL, WPARAM(-1), LPARAM(-1));
            SendMessageA(memo, EM_REPLACESEL, FALSE, LPARAM(batch.c_str()));
        });
        time("EM_SETSEL to the end", [&] { SendMessageA(memo, EM_SETSEL, WPARAM(-1), LPARAM(-1)); });
        time("EM_SETSEL to the top and back (two scrolls)", [&] {
            SendMessageA(memo, EM_SETSEL, 0, 0);
            SendMessageA(memo, EM_SETSEL, WPARAM(-1), LPARAM(-1));
        });
        time("EM_SCROLLCARET", [&] { SendMessageA(memo, EM_SCROLLCARET, 0, 0); });
        form->LogBufferFrozen = true;
        form->RefreshDisplay();
    }
    Step("the edit commands' update after a posted message", batches, [&] { form->UpdateEditCommands(); });
    Step("a full window's repaint", batches, [&] {
        InvalidateRect(form->Handle, nullptr, TRUE);
        RedrawWindow(form->Handle, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    });

    form->DiscardEntries();
    form->StopSpying(false);
    delete form;
    DeleteFileA(LogName);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quenmoor\\Kestrix");
    return 0;
}
