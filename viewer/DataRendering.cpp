// Data shown as hex dumps in the log buffer, and the detail settings that decide what data is
// shown; which bytes are text lines and which a dump is decided by the record rendering.
#include "Form1.h"

#include "HexDump.h"

using namespace Id;

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
