#include "TcpHeldItems.h"

#include "TcpConversation.h"
#include "TcpConversations.h"

namespace {

using ConversationPointer = std::shared_ptr<TcpConversation>;

// The handshake (or, without one in the trace, the fixing of the endpoints), held until the
// other end is known and the names the trace gives soon after a connect or accept have come.
class TcpOpenItem final : public HeldItem {
public:
    TcpOpenItem(TcpConversations& owner, ConversationPointer conversation, uint64_t microseconds)
        : owner(owner), conversation(std::move(conversation)), microseconds(microseconds)
    {
    }
    bool Settled() override
    {
        ConversationPointer c = Resolved(conversation);
        if (forced || c->opened)
            return true;
        if (c->pairing != Pairing::Settled)
            return false;
        return c->EndpointsComplete() || c->itemsAfterOpen > 0 || (!c->ends[0].reporting && !c->ends[1].reporting);
    }
    void Settle() override
    {
        owner.SettlePairing(Resolved(conversation));
        forced = true;
    }
    void Write(PacketOutput& output) override { Resolved(conversation)->Open(output, microseconds); }

private:
    TcpConversations& owner;
    ConversationPointer conversation;
    uint64_t microseconds;
    bool forced = false;
};

// One record's bytes of a direction, or a FIN, held until the other end is known and the
// bytes are carried or can no longer be.
class TcpStreamItem final : public HeldItem {
public:
    TcpStreamItem(TcpConversations& owner, ConversationPointer conversation, int direction, uint64_t end,
                  TcpFinCause fin, uint64_t microseconds)
        : owner(owner), conversation(std::move(conversation)), direction(direction), end(end), fin(fin),
          microseconds(microseconds)
    {
    }
    bool Settled() override
    {
        if (forced)
            return true;
        ConversationPointer c = Resolved(conversation);
        if (c->pairing != Pairing::Settled)
            return false;
        if (fin == TcpFinCause::BySender)
            return c->DeclaredFinSettled(direction) && c->RangeSettled(direction, c->DeclaredFinOffset(direction));
        return c->RangeSettled(direction, end);
    }
    void Settle() override
    {
        owner.SettlePairing(Resolved(conversation));
        forced = true;
    }
    void Write(PacketOutput& output) override
    {
        ConversationPointer c = Resolved(conversation);
        uint64_t to = fin == TcpFinCause::BySender ? c->DeclaredFinOffset(direction) : end;
        c->WriteStream(output, microseconds, direction, to, fin != TcpFinCause::None);
    }

private:
    TcpConversations& owner;
    ConversationPointer conversation;
    int direction;
    uint64_t end;
    TcpFinCause fin;
    uint64_t microseconds;
    bool forced = false;
};

}  // namespace

std::unique_ptr<HeldItem> NewTcpOpenItem(TcpConversations& owner, std::shared_ptr<TcpConversation> conversation,
                                         uint64_t microseconds)
{
    return std::make_unique<TcpOpenItem>(owner, std::move(conversation), microseconds);
}

std::unique_ptr<HeldItem> NewTcpStreamItem(TcpConversations& owner, std::shared_ptr<TcpConversation> conversation,
                                           int direction, uint64_t end, TcpFinCause fin, uint64_t microseconds)
{
    return std::make_unique<TcpStreamItem>(owner, std::move(conversation), direction, end, fin, microseconds);
}
