#include "CatchUpPlan.h"

bool IsPlainText(const char* text, int32_t length)
{
    if (length < 2 || text[length - 2] != '\r' || text[length - 1] != '\n')
        return false;
    for (int32_t i = 0; i < length; i++) {
        char c = text[i];
        if (c == 0 || (c == '\r' && text[i + 1] != '\n') || (c == '\n' && (i == 0 || text[i - 1] != '\r')))
            return false;
    }
    return true;
}

namespace {

// A place in the chain's joined text that only moves forward.
struct ChainPlace {
    const ShownBatch* batch;
    int32_t offset;   // within batch
    int32_t joined;   // within the joined text
};

bool IsLineStart(const ShownBatch* batch, int32_t offset)
{
    return offset == 0 || (offset >= 2 && batch->Text[offset - 2] == '\r' && batch->Text[offset - 1] == '\n');
}

// Moves to the first line start at or after target, which is at most limit, where a batch ends.
void MoveToLineStart(ChainPlace& place, int32_t target, int32_t limit)
{
    if (target > limit)
        target = limit;
    while (place.joined < target || (place.batch && !IsLineStart(place.batch, place.offset))) {
        if (place.offset == place.batch->Length) {
            place.batch = place.batch->Next;
            place.offset = 0;
            continue;
        }
        place.offset++;
        place.joined++;
    }
    // a batch's end is the next one's start
    while (place.batch && place.offset == place.batch->Length) {
        place.batch = place.batch->Next;
        place.offset = 0;
    }
}

}  // namespace

CatchUpPlan PlanCatchUp(int32_t present, int32_t bufferSize, const ShownBatch* first)
{
    CatchUpPlan plan = {false, present, first, 0};
    if (bufferSize < 0)
        return plan;
    ChainPlace cut = {first, 0, 0};
    int64_t ahead = 0;   // the chain's text ahead of the batch
    for (const ShownBatch* batch = first; batch; batch = batch->Next) {
        // before the batch, the text ahead of it is trimmed to what leaves room for it
        int64_t excess = int64_t(present) + ahead - (int64_t(bufferSize) - batch->Length);
        if (excess > 0 && excess <= present) {
            if (present - excess < plan.presentRoom)
                plan.presentRoom = int32_t(present - excess);
        } else if (excess > present) {
            plan.clearsPresent = true;
            MoveToLineStart(cut, int32_t(excess - present), int32_t(ahead));
        }
        ahead += batch->Length;
    }
    plan.from = cut.batch;
    plan.fromOffset = cut.offset;
    return plan;
}
