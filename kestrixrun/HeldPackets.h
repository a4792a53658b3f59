// The packets of a trace in the order of their records, each held back until what it needs to
// know has come: which traced socket is the other end of a loopback connection, whether the
// datagram a traced socket sent is the one another received, the bytes that a count-only record
// leaves out but the other end's record carries. A packet is written when it and every packet
// before it are settled, so the file keeps the records' order; when too much is held, or at the
// end, the oldest is settled with what is known. Pure code.
#pragma once
#include <cstddef>
#include <deque>
#include <memory>

class PacketOutput;

// One record's part of the file: zero or more packets.
class HeldItem {
public:
    virtual ~HeldItem() = default;
    // Whether everything the packets need is known.
    virtual bool Settled() = 0;
    // Settles with what is known now: the packets go out with stand-ins and gaps.
    virtual void Settle() = 0;
    virtual void Write(PacketOutput& output) = 0;
};

class HeldPackets {
public:
    HeldPackets(size_t itemLimit, size_t byteLimit) : itemLimit(itemLimit), byteLimit(byteLimit) {}

    // itemBytes: what the item keeps in memory, counted against the limit.
    void Add(std::unique_ptr<HeldItem> item, size_t itemBytes);
    // Writes the settled items at the front; then, while more is held than the limits allow,
    // settles and writes the oldest.
    void WriteSettled(PacketOutput& output);
    // Settles and writes everything.
    void WriteAll(PacketOutput& output);

    size_t Count() const { return items.size(); }

private:
    struct Held {
        std::unique_ptr<HeldItem> item;
        size_t bytes;
    };
    void WriteFront(PacketOutput& output);

    std::deque<Held> items;
    size_t itemLimit, byteLimit;
    size_t heldBytes = 0;
};
