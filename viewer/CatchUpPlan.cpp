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

int64_t TextFrom(const ShownBatch* from, int32_t offset)
{
    int64_t length = 0;
    for (; from; from = from->Next, offset = 0)
        length += from->Length - offset;
    return length;
}

ChainStart NewestText(const ShownBatch* first, int64_t room, bool atLineStarts)
{
    int64_t target = TextFrom(first, 0) - room;   // the earliest place the newest text may start
    if (target <= 0)
        return {first, 0};
    // the batch the place falls in
    const ShownBatch* batch = first;
    const ShownBatch* last = first;
    int64_t start = 0;
    while (batch && start + batch->Length <= target) {
        start += batch->Length;
        last = batch;
        batch = batch->Next;
    }
    if (batch && start == target)
        return {batch, 0};
    if (batch && atLineStarts) {
        int32_t offset = int32_t(target - start);
        while (offset < batch->Length && !IsLineStart(batch, offset))
            offset++;
        if (offset < batch->Length)
            return {batch, offset};
    }
    if (batch && batch->Next)
        return {batch->Next, 0};
    // nothing after the place: the last line or batch alone, though longer than room
    if (batch)
        last = batch;
    int32_t offset = 0;
    if (atLineStarts) {
        offset = last->Length - 2;
        while (offset > 0 && !IsLineStart(last, offset))
            offset--;
    }
    return {last, offset};
}
