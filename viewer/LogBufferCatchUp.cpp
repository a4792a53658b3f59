// The log buffer catches up at the display tick. A shown batch waits in a chain, and the chain
// goes into Memo1 at once (CatchUpPlan.h), leaving it as showing each batch in turn would have.
// Whatever asks Memo1 anything first makes it catch up, so the control never answers from a
// text that lags behind. Nor does the chain ever hold more than a tick can bring in (TickBudget):
// past that, it keeps its newest lines after one that says lines were skipped.
#include "Form1.h"

#include <richedit.h>

#include <cstddef>
#include <cstring>

#include "RichTextFragment.h"

namespace {

// A tick brings text into the log buffer for at most this share of the update interval. Under a
// flood every tick has that much to do, and the traced program waits for it: with a sixteenth,
// a tick under Wine, whose rich edit takes 1 to 2 us a character, takes about a tenth of the
// interval with its repaint and still brings in a few screens of lines.
const double TickShareForLogBuffer = 1.0 / 16;
// Whatever the pace, a tick may bring in a window's worth of lines or two.
const int64_t SmallestTickBudget = 4096;

double Seconds()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

bool SingleByteCodePage()
{
    CPINFO info;
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
}

WNDPROC richEditWindowProc;   // the proc the log buffer had

// Under Wine a message through a comctl32 subclass costs as much as a record, and the display
// sends Memo1 several a batch: this is a plain window procedure.
LRESULT CALLBACK LogBufferProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TForm1* form = FormOfWindow(GetParent(window));
    if (form && form->ShownHead && !form->CatchingUp)
        form->CatchUpLogBuffer();
    return CallWindowProcA(richEditWindowProc, window, message, wParam, lParam);
}

}  // namespace

const char* const SkippedLinesText = "lines skipped here to keep up; the log file has them all";

void TForm1::SubclassLogBuffer()
{
    richEditWindowProc = WNDPROC(SetWindowLongPtrA(Memo1, GWLP_WNDPROC, LONG_PTR(LogBufferProc)));
}

ShownBatch* TForm1::NewShownBatch(int32_t length, int32_t kind)
{
    size_t size = offsetof(ShownBatch, Text) + size_t(length) + 1;
    ShownBatch* batch = static_cast<ShownBatch*>(HeapAlloc(GetProcessHeap(), 0, size));
    if (!batch)
        return nullptr;
    batch->Next = nullptr;
    batch->Colour = Colors ? COLORREF(kind) : 0;
    batch->Length = length;
    batch->Text[length] = 0;
    return batch;
}

void TForm1::QueueShownBatch(ShownBatch* batch)
{
    static const bool singleByte = SingleByteCodePage();
    if (ShownTail)
        ShownTail->Next = batch;
    else
        ShownHead = batch;
    ShownTail = batch;
    ShownLength += batch->Length;
    if (singleByte && IsPlainText(batch->Text, batch->Length)) {
        if (!PlainTailStart)
            PlainTailStart = batch;
        PlainTailLength += batch->Length;
    } else {
        PlainTailStart = nullptr;
        PlainTailLength = 0;
    }
    // Once the plain batches after a batch fill the buffer's size, showing them trims it away
    // entirely: it never needs to reach Memo1. This keeps a flood's chain to about the size.
    while (BufferSize >= 0 && ShownHead != ShownTail) {
        bool inPlainTail = ShownHead == PlainTailStart;
        int64_t after = PlainTailLength - (inPlainTail ? ShownHead->Length : 0);
        if (after < BufferSize)
            break;
        ShownBatch* gone = ShownHead;
        ShownHead = gone->Next;
        ShownLength -= gone->Length;
        if (inPlainTail) {
            PlainTailStart = ShownHead;
            PlainTailLength -= gone->Length;
        }
        HeapFree(GetProcessHeap(), 0, gone);
    }
    // Nor does more than a tick can bring in: the chain keeps its newest text. Only past twice
    // that, so that a long drain cuts it now and then, not at every batch.
    int64_t budget = TickBudget();
    if (ShownLength / 2 > budget)
        SkipToNewest(budget);
}

void TForm1::DiscardShownBatches()
{
    while (ShownHead) {
        ShownBatch* batch = ShownHead;
        ShownHead = batch->Next;
        HeapFree(GetProcessHeap(), 0, batch);
    }
    ShownTail = nullptr;
    ShownLength = 0;
    PlainTailStart = nullptr;
    PlainTailLength = 0;
}

void TForm1::CatchUpLogBuffer()
{
    if (!ShownHead || CatchingUp)
        return;
    CatchingUp = true;
    double start = Seconds();
    int64_t budget = TickBudget();
    if (ShownLength > budget)
        SkipToNewest(budget);
    FreezeLogBuffer();
    // The plan counts in characters of the text; Memo1 must end at a line start for the chain's
    // lines to be its own.
    int32_t lines = int32_t(SendMessageA(Memo1, EM_GETLINECOUNT, 0, 0));
    LRESULT lastLine = SendMessageA(Memo1, EM_LINEINDEX, lines - 1, 0);
    bool endsAtLineStart = SendMessageA(Memo1, EM_LINELENGTH, lastLine, 0) == 0;
    int64_t brought = 0;
    if (endsAtLineStart && PlainTailStart == ShownHead) {
        int32_t present = LogBufferLength();
        CatchUpPlan plan = PlanCatchUp(present, BufferSize, ShownHead);
        if (plan.clearsPresent)
            SetWindowTextA(Memo1, "");
        else if (plan.presentRoom < present)
            TrimLogBufferTo(plan.presentRoom);
        AppendShownBatches(plan.from, plan.fromOffset);
        brought = TextFrom(plan.from, plan.fromOffset);
    } else {
        for (const ShownBatch* batch = ShownHead; batch; batch = batch->Next)
            ShowInLogBuffer(batch->Text, batch->Length, COLORREF(batch->Colour));
        brought = ShownLength;
    }
    SendMessageA(Memo1, EM_SCROLLCARET, 0, 0);
    CatchUpPace.Learn(brought, (Seconds() - start) * 1e6);
    DiscardShownBatches();
    CatchingUp = false;
}

void TForm1::SkipToNewest(int64_t budget)
{
    // The chain becomes a line that says lines were skipped, then its newest text: Memo1 ends as
    // if that line had come in place of the rest, by the usual rules. Its text stays, and nothing
    // in it looks as if it came right before the newest.
    int32_t markerLength = int32_t(strlen(SkippedLinesText)) + 2;
    ShownBatch* marker = NewShownBatch(markerLength, StatusLine);
    if (!marker)
        return;   // without the line that says so, nothing is left out
    int64_t room = budget - markerLength;
    if (BufferSize >= 0 && room > BufferSize - markerLength)
        room = BufferSize - markerLength;   // the marker is not trimmed away by what follows it
    // a chain of plain batches may be cut at any line start, others only between batches
    bool plain = PlainTailStart == ShownHead;
    ChainStart newest = NewestText(ShownHead, room > 0 ? room : 0, plain);
    bool allPlainAfter = PlainTailStart == newest.batch;
    while (ShownHead != newest.batch) {
        ShownBatch* skipped = ShownHead;
        ShownHead = skipped->Next;
        allPlainAfter = allPlainAfter || skipped == PlainTailStart;
        HeapFree(GetProcessHeap(), 0, skipped);
    }
    if (newest.offset > 0) {
        ShownHead->Length -= newest.offset;
        memmove(ShownHead->Text, ShownHead->Text + newest.offset, size_t(ShownHead->Length) + 1);
    }
    memcpy(marker->Text, SkippedLinesText, size_t(markerLength - 2));
    memcpy(marker->Text + markerLength - 2, "\r\n", 2);
    marker->Next = ShownHead;
    ShownHead = marker;
    ShownLength = TextFrom(ShownHead, 0);
    // the plain tail now starts at the marker, which is plain too, or after the cut as before
    if (allPlainAfter) {
        PlainTailStart = ShownHead;
        PlainTailLength = ShownLength;
    }
}

int64_t TForm1::TickBudget() const
{
    if (FixedTickBudget > 0)
        return FixedTickBudget;
    int64_t characters = CatchUpPace.CharactersWithin(UpdateInterval * 1000.0 * TickShareForLogBuffer);
    return characters > SmallestTickBudget ? characters : SmallestTickBudget;
}

void TForm1::AppendShownBatches(const ShownBatch* from, int32_t offset)
{
    // The rich edit takes one long text much faster than the same text in pieces: batches of
    // several colours go in as one rich text, and where that cannot be, those of one colour
    // go in together.
    if (AppendAsRichText(from, offset))
        return;
    while (from) {
        const ShownBatch* end = from->Next;
        size_t length = size_t(from->Length - offset);
        for (; end && end->Colour == from->Colour; end = end->Next)
            length += size_t(end->Length);
        char* joined = end != from->Next ? static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length + 1)) : nullptr;
        if (joined) {
            size_t at = 0;
            for (const ShownBatch* batch = from; batch != end; batch = batch->Next, offset = 0) {
                memcpy(joined + at, batch->Text + offset, size_t(batch->Length - offset));
                at += size_t(batch->Length - offset);
            }
            joined[at] = 0;
            AppendToLogBuffer(joined, COLORREF(from->Colour));
            HeapFree(GetProcessHeap(), 0, joined);
        } else {
            for (const ShownBatch* batch = from; batch != end; batch = batch->Next, offset = 0)
                AppendToLogBuffer(batch->Text + offset, COLORREF(batch->Colour));
        }
        from = end;
        offset = 0;
    }
}

namespace {

struct RichTextSource {
    const char* text;
    size_t length;
    size_t read;
};

DWORD CALLBACK ReadRichText(DWORD_PTR cookie, LPBYTE buffer, LONG room, LONG* count)
{
    RichTextSource* source = reinterpret_cast<RichTextSource*>(cookie);
    size_t left = source->length - source->read;
    size_t taken = left < size_t(room) ? left : size_t(room);
    memcpy(buffer, source->text + source->read, taken);
    source->read += taken;
    *count = LONG(taken);
    return 0;
}

}  // namespace

bool TForm1::AppendAsRichText(const ShownBatch* from, int32_t offset)
{
    bool coloursChange = false;
    for (const ShownBatch* batch = from; batch && batch->Next && !coloursChange; batch = batch->Next)
        coloursChange = batch->Next->Colour != batch->Colour;
    if (!coloursChange)
        return false;   // one text in one colour is the plain insertion's
    size_t capacity = RichTextCapacity(from, offset);
    char* rtf = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, capacity));
    if (!rtf)
        return false;
    size_t length = WriteRichText(from, offset, GetACP(), rtf, capacity);
    if (length > 0) {
        RichTextSource source = {rtf, length, 0};
        EDITSTREAM stream = {DWORD_PTR(&source), 0, ReadRichText};
        SendMessageA(Memo1, EM_SETSEL, WPARAM(-1), LPARAM(-1));
        SendMessageA(Memo1, EM_STREAMIN, SF_RTF | SFF_SELECTION, LPARAM(&stream));
    }
    HeapFree(GetProcessHeap(), 0, rtf);
    return length > 0;
}
