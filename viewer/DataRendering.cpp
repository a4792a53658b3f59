// Data records shown as readable lines or hex dumps, chosen per socket by its first data.
#include "Form1.h"

#include <cstring>

#include "HexDump.h"
#include "TextLines.h"

using namespace Id;

namespace {

const char IncompleteSuffix[] = " (Incomplete last line)";

struct LineChain {
    TForm1* form;
    BacklogEntry* first;
    BacklogEntry* last;
};

bool AppendDataLine(void* context, const char* text, size_t length)
{
    auto* chain = static_cast<LineChain*>(context);
    BacklogEntry* entry = chain->form->NewBacklogEntry(int32_t(length) + 2, DataLine);
    if (!entry)
        return false;
    memcpy(entry->Text, text, length);
    memcpy(entry->Text + length, "\r\n", 3);
    if (chain->last)
        chain->last->Next = entry;
    else
        chain->first = entry;
    chain->last = entry;
    return true;
}

}  // namespace

int32_t TForm1::SplitTextLines(const uint8_t* data, int32_t count, BacklogEntry** first, BacklogEntry** last,
                               bool* incomplete)
{
    LineChain chain = {this, nullptr, nullptr};
    TextScan scan = ScanTextLines(data, size_t(count), AppendDataLine, &chain);
    if (scan.consumed < 0) {
        DiscardEntries(&chain.first);
        *first = *last = nullptr;
        *incomplete = false;
        return -1;
    }
    *first = chain.first;
    *last = chain.last;
    *incomplete = scan.incomplete;
    return scan.consumed;
}

bool TForm1::AddDataRecord(uint32_t socket, const uint8_t* data, int32_t count, const char* text)
{
    if (Detail == 0)
        return true;
    if (Detail == 1 || !data || count < 0)
        count = 0;

    BacklogEntry* first = nullptr;
    BacklogEntry* last = nullptr;
    int32_t consumed = 0;
    bool incomplete = false;
    TrackedSocket* tracked = count > 0 ? FindTrackedSocket(socket) : nullptr;
    if (tracked && tracked->Mode != ModeBinary) {
        consumed = SplitTextLines(data, count, &first, &last, &incomplete);
        if (consumed < 0)
            return false;
        bool keep;
        if (tracked->Mode == ModeUnknown) {
            if (consumed == 0) {
                tracked->Mode = ModeBinary;
                keep = false;
            } else {
                tracked->IsHttp = IsHttpRequestLine(first->Text, size_t(first->Length));
                keep = tracked->IsHttp || consumed == count;
                tracked->Mode = keep ? ModeText : ModeBinary;
            }
        } else {
            keep = consumed == count ||
                   (tracked->IsHttp && first && IsHttpStatusLine(first->Text, size_t(first->Length)));
        }
        if (!keep) {
            DiscardEntries(&first);
            last = nullptr;
            consumed = 0;
            incomplete = false;
        }
    }

    bool added;
    if (incomplete) {
        size_t textLength = strlen(text);
        size_t size = textLength + sizeof IncompleteSuffix;
        char* line = nullptr;
        HANDLE heap = BacklogHeap ? BacklogHeap : GetProcessHeap();
        while (!(line = static_cast<char*>(HeapAlloc(heap, HeapFlags(heap), size))))
            if (!ShowNextBatch())
                break;
        if (line) {
            memcpy(line, text, textLength);
            memcpy(line + textLength, IncompleteSuffix, sizeof IncompleteSuffix);
            added = AddMessageLine(line, false);
            HeapFree(heap, HeapFlags(heap), line);
        } else {
            added = false;
        }
    } else {
        added = AddMessageLine(text, false);
    }
    if (!added) {
        DiscardEntries(&first);
        return false;
    }

    if (first) {
        if (LogFile)
            for (BacklogEntry* entry = first; entry; entry = entry->Next)
                WriteLogText(entry->Text, DataLine, entry->Length);
        if (LogFileOnly())
            DiscardEntries(&first);
        else
            QueueEntries(first, last);
    }
    if (consumed < count)
        return AddHexDump(data, count, consumed);
    return true;
}

bool TForm1::AddHexDump(const uint8_t* data, int32_t count, int32_t from)
{
    if (from < 0 || from >= count)
        return true;
    size_t length = HexDumpLength(size_t(count), size_t(from));
    BacklogEntry* entry = length < 0x7FFFFFF0u ? NewBacklogEntry(int32_t(length), DataLine) : nullptr;
    if (entry) {
        FormatHexDump(data, size_t(count), size_t(from), entry->Text);
        entry->Text[length] = 0;
        if (LogFile)
            WriteLogText(entry->Text, DataLine, entry->Length);
        if (LogFileOnly()) {
            DiscardEntries(&entry);
        } else {
            QueueEntries(entry, entry);
            if (!Paused && DisplayTimer == 0)
                StartDisplayTimer();
        }
        return true;
    }
    // no room for the whole dump: row by row
    char row[96];
    for (int32_t offset = from; offset < count; offset += int32_t(HexRowBytes)) {
        size_t rowBytes = size_t(count - offset) < HexRowBytes ? size_t(count - offset) : HexRowBytes;
        size_t rowLength = FormatHexRow(data + offset, rowBytes, uint32_t(offset), row);
        row[rowLength] = 0;
        if (!AddLine(row, DataLine, false, int32_t(rowLength)))
            return false;
    }
    return true;
}

bool TForm1::TrackSocket(uint32_t socket)
{
    TrackedSocket* entry;
    while (!(entry = static_cast<TrackedSocket*>(HeapAlloc(GetProcessHeap(), 0, sizeof *entry))))
        if (!ShowNextBatch())
            return false;
    entry->Socket = socket;
    entry->Mode = ModeUnknown;
    entry->IsHttp = false;
    TrackedSocket* before = nullptr;
    TrackedSocket* after = TrackedSockets;
    while (after && after->Socket <= socket) {
        before = after;
        after = after->Next;
    }
    entry->Prev = before;
    entry->Next = after;
    if (before)
        before->Next = entry;
    else
        TrackedSockets = entry;
    if (after)
        after->Prev = entry;
    return true;
}

TrackedSocket* TForm1::FindTrackedSocket(uint32_t socket)
{
    for (TrackedSocket* entry = TrackedSockets; entry && entry->Socket <= socket; entry = entry->Next)
        if (entry->Socket == socket)
            return entry;
    return nullptr;
}

void TForm1::UntrackSocket(TrackedSocket* entry)
{
    if (entry->Prev)
        entry->Prev->Next = entry->Next;
    else
        TrackedSockets = entry->Next;
    if (entry->Next)
        entry->Next->Prev = entry->Prev;
    HeapFree(GetProcessHeap(), 0, entry);
}

void TForm1::FreeTrackedSockets()
{
    while (TrackedSockets)
        UntrackSocket(TrackedSockets);
}

void TForm1::SetShowData(UINT sender)
{
    Detail = TagOf(sender);
    CheckDetail();
}

void TForm1::CheckDetail()
{
    CheckItem(MMenuItemLow, Detail == 0);
    CheckItem(MMenuItemMedium, Detail == 1);
    CheckItem(MMenuItemHigh, Detail != 0 && Detail != 1);
}

void TForm1::ToggleHexOnly()
{
    HexOnly = !HexOnly;
    CheckItem(MenuItemHexOnly, HexOnly);
}
