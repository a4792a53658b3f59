// Batches taken off the backlog wait in a chain until the display tick brings them into the log
// buffer together. Under a flood most of them would be trimmed away again before anyone could see
// them; this works out what bringing the chain in at once must do so that the log buffer ends
// exactly as it would after showing each batch in turn: before each batch, whole lines go from
// the top while the buffer and the batch together pass the buffer's size.
#pragma once
#include <cstdint>

struct ShownBatch {
    ShownBatch* Next;
    uint32_t Colour;   // the COLORREF of its text
    int32_t Length;    // characters of Text, NUL excluded
    char Text[1];
};

// True when the text is whole lines, each ending in CR LF with no other CR, LF or NUL in it: the
// log buffer then counts it as long as it is, and its lines start after its CR LFs. Only in a
// single-byte code page is a character one byte.
bool IsPlainText(const char* text, int32_t length);

struct CatchUpPlan {
    bool clearsPresent;       // the buffer's present text goes entirely
    int32_t presentRoom;      // otherwise whole lines go from its top until at most this is left
    const ShownBatch* from;   // the first batch whose text reaches the buffer, null when none does
    int32_t fromOffset;       // and where in it that text starts (a line start)
};

// present: the buffer's length now, its text ending at a line start; bufferSize: its size, or
// negative for no limit; first: the chain, every batch plain.
CatchUpPlan PlanCatchUp(int32_t present, int32_t bufferSize, const ShownBatch* first);

// The characters that the chain puts into the buffer from the given batch and offset on.
int64_t TextFrom(const ShownBatch* from, int32_t offset);

// Where the chain's newest text of at most room characters starts: at a line start when lines
// may be cut (plain batches), else at a batch start. The last line or batch is the least it gives,
// however long.
struct ChainStart {
    const ShownBatch* batch;
    int32_t offset;
};
ChainStart NewestText(const ShownBatch* first, int64_t room, bool atLineStarts);
