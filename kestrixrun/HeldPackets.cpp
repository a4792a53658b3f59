#include "HeldPackets.h"

void HeldPackets::Add(std::unique_ptr<HeldItem> item, size_t itemBytes)
{
    items.push_back({std::move(item), itemBytes});
    heldBytes += itemBytes;
}

void HeldPackets::WriteFront(PacketOutput& output)
{
    Held front = std::move(items.front());
    items.pop_front();
    heldBytes -= front.bytes;
    front.item->Write(output);
}

void HeldPackets::WriteSettled(PacketOutput& output)
{
    while (!items.empty()) {
        if (!items.front().item->Settled()) {
            if (items.size() <= itemLimit && heldBytes <= byteLimit)
                return;
            items.front().item->Settle();
        }
        WriteFront(output);
    }
}

void HeldPackets::WriteAll(PacketOutput& output)
{
    while (!items.empty()) {
        if (!items.front().item->Settled())
            items.front().item->Settle();
        WriteFront(output);
    }
}
