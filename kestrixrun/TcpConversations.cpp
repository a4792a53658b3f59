#include "TcpConversations.h"

#include <algorithm>
#include <cstring>

#include "TcpHeldItems.h"

namespace {

using ConversationPointer = std::shared_ptr<TcpConversation>;

// Overlapping bytes of two streams' carried pieces: -1 when some differ, 1 when some overlap
// and all agree, 0 when none overlap.
int Agreement(const std::map<uint64_t, std::string>& a, const std::map<uint64_t, std::string>& b)
{
    int result = 0;
    auto x = a.begin();
    auto y = b.begin();
    while (x != a.end() && y != b.end()) {
        uint64_t xEnd = x->first + x->second.size(), yEnd = y->first + y->second.size();
        uint64_t from = std::max(x->first, y->first), to = std::min(xEnd, yEnd);
        if (from < to) {
            if (memcmp(x->second.data() + (from - x->first), y->second.data() + (from - y->first),
                       size_t(to - from)) != 0)
                return -1;
            result = 1;
        }
        if (xEnd < yEnd)
            ++x;
        else
            ++y;
    }
    return result;
}

}  // namespace

ConversationPointer TcpConversations::NewConversation(uint32_t socket, int end)
{
    auto conversation = std::make_shared<TcpConversation>(++conversationCount);
    const TracedSocket* info = sockets.Find(socket);
    TcpEnd& own = conversation->ends[end];
    TcpEnd& peer = conversation->ends[1 - end];
    own.who = {true, socket};
    own.reporting = true;
    peer.who = {false, socket};
    if (info) {
        conversation->version = info->version;
        own.named = info->local;
        own.versionGuessed = info->versionGuessed;
        own.typeGuessed = info->typeGuessed;
        peer.named = info->peer;
    }
    sides[socket] = {conversation, end};
    return conversation;
}

TcpConversations::Side* TcpConversations::SideOf(uint32_t socket)
{
    auto found = sides.find(socket);
    return found == sides.end() ? nullptr : &found->second;
}

TcpConversations::Side& TcpConversations::SideForData(uint32_t socket)
{
    if (Side* side = SideOf(socket))
        return *side;
    // no connect or accept of it in the trace: a conversation without a handshake
    NewConversation(socket, 0);
    return sides[socket];
}

bool TcpConversations::ListenerTakes(uint32_t listener, const TcpConversation& client) const
{
    const TracedSocket* info = sockets.Find(listener);
    if (!info || !info->listening || !info->local.port)
        return false;
    const Endpoint& target = client.ends[1].named;
    if (!target.port || !MayBeSameEndpoint(info->local, target))
        return false;
    // a listener on every address takes connects to this host's loopback, not to the same
    // port of another host
    return info->local.hasAddress || IsLoopbackAddress(target);
}

void TcpConversations::Connecting(uint32_t socket)
{
    if (Side* side = SideOf(socket)) {
        // a connect repeated while the first goes on
        ConversationPointer c = Resolved(side->conversation);
        const TracedSocket* info = sockets.Find(socket);
        if (info && !c->established && !c->opened)
            MergeEndpoint(c->ends[1 - side->end].named, info->peer);
        return;
    }
    if (!sockets.Find(socket))
        return;
    ConversationPointer conversation = NewConversation(socket, 0);
    conversation->initiated = true;
    for (const auto& [number, info] : sockets.All())
        if (ListenerTakes(number, *conversation)) {
            conversation->pairing = Pairing::AwaitingAcceptor;
            conversation->listener = number;
            awaiting.push_back(conversation);
            return;
        }
}

void TcpConversations::Connected(uint32_t socket, uint64_t microseconds)
{
    Side* side = SideOf(socket);
    if (!side) {
        Connecting(socket);
        side = SideOf(socket);
        if (!side)
            return;
    }
    ConversationPointer c = Resolved(side->conversation);
    c->established = true;
    held.Add(NewTcpOpenItem(*this, c, microseconds), 0);
}

void TcpConversations::ConnectFailed(uint32_t socket)
{
    Side* side = SideOf(socket);
    if (side && !Resolved(side->conversation)->established)
        sides.erase(socket);   // nothing to write; the lists let go of it too
}

void TcpConversations::Accepted(uint32_t listener, uint32_t socket, uint64_t microseconds)
{
    sides.erase(socket);   // an accepting socket (AcceptEx) takes its connection afresh
    ConversationPointer accepted = NewConversation(socket, 1);
    accepted->initiated = accepted->established = true;
    std::vector<std::weak_ptr<TcpConversation>> candidates;
    for (const auto& waiting : awaiting) {
        ConversationPointer client = waiting.lock();
        if (client && client->pairing == Pairing::AwaitingAcceptor && client->listener == listener &&
            MayBeSameEndpoint(client->ends[0].named, accepted->ends[0].named))
            candidates.push_back(client);
    }
    held.Add(NewTcpOpenItem(*this, accepted, microseconds), 0);
    if (candidates.size() == 1) {
        Join(candidates[0].lock(), accepted);
    } else if (candidates.size() > 1) {
        accepted->pairing = Pairing::ChoosingClient;
        accepted->candidates = std::move(candidates);
        choosing.push_back(accepted);
    }
}

void TcpConversations::Join(const ConversationPointer& client, const ConversationPointer& accepted)
{
    TcpConversation& c = *client;
    TcpConversation& a = *accepted;
    c.ends[1].who = a.ends[1].who;
    c.ends[1].reporting = a.ends[1].reporting;
    c.ends[1].versionGuessed = a.ends[1].versionGuessed;
    c.ends[1].typeGuessed = a.ends[1].typeGuessed;
    MergeEndpoint(c.ends[1].named, a.ends[1].named);
    MergeEndpoint(c.ends[0].named, a.ends[0].named);
    // the accepted end has received in direction 0 and sent in direction 1
    c.directions[0].received = a.directions[0].received;
    c.directions[0].endReceived = a.directions[0].endReceived;
    c.directions[1].sent = a.directions[1].sent;
    for (int d = 0; d < 2; d++)
        for (const auto& [offset, bytes] : a.directions[d].carried)
            c.AddCarried(d, offset, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    c.established = true;
    c.itemsAfterOpen += a.itemsAfterOpen;
    c.pairing = Pairing::Settled;
    a.pairing = Pairing::Settled;
    a.candidates.clear();
    a.directions[0].carried.clear();
    a.directions[1].carried.clear();
    a.mergedInto = client;
    if (a.ends[1].reporting)
        sides[a.ends[1].who.socket] = {client, 1};
    ChooseAll();
    ReviewAwaiting();
}

void TcpConversations::Choose(const ConversationPointer& chooser)
{
    if (chooser->pairing != Pairing::ChoosingClient)
        return;
    std::vector<std::weak_ptr<TcpConversation>> remaining;
    ConversationPointer agreeing;
    int agreeingCount = 0;
    for (const auto& weak : chooser->candidates) {
        ConversationPointer client = weak.lock();
        if (!client || client->pairing != Pairing::AwaitingAcceptor ||
            !MayBeSameEndpoint(client->ends[0].named, chooser->ends[0].named))
            continue;
        int agreement[2];
        for (int d = 0; d < 2; d++)
            agreement[d] = Agreement(client->directions[d].carried, chooser->directions[d].carried);
        if (agreement[0] < 0 || agreement[1] < 0)
            continue;
        remaining.push_back(client);
        if (agreement[0] > 0 || agreement[1] > 0) {
            agreeing = client;
            agreeingCount++;
        }
    }
    if (remaining.size() == 1) {
        Join(remaining[0].lock(), chooser);
    } else if (agreeingCount == 1) {
        Join(agreeing, chooser);
    } else {
        chooser->candidates = std::move(remaining);
        if (chooser->candidates.empty())
            chooser->pairing = Pairing::Settled;
    }
}

void TcpConversations::ChooseAll()
{
    // a choice narrows the others', and Join chooses again for them
    const std::vector<std::weak_ptr<TcpConversation>> current = choosing;
    for (const auto& weak : current)
        if (ConversationPointer chooser = weak.lock())
            Choose(chooser);
    choosing.erase(std::remove_if(choosing.begin(), choosing.end(),
                                  [](const auto& weak) {
                                      ConversationPointer chooser = weak.lock();
                                      return !chooser || chooser->pairing != Pairing::ChoosingClient;
                                  }),
                   choosing.end());
}

// A connect whose listener has closed, and that no accepted socket may still choose, has no
// traced other end.
void TcpConversations::ReviewAwaiting()
{
    std::vector<std::weak_ptr<TcpConversation>> still;
    for (const auto& weak : awaiting) {
        ConversationPointer client = weak.lock();
        if (!client || client->pairing != Pairing::AwaitingAcceptor)
            continue;
        const TracedSocket* listener = sockets.Find(client->listener);
        bool listenerOpen = listener && listener->listening;
        bool chosenAmong = false;
        for (const auto& chooserWeak : choosing)
            if (ConversationPointer chooser = chooserWeak.lock())
                for (const auto& candidate : chooser->candidates)
                    chosenAmong = chosenAmong || candidate.lock() == client;
        if (listenerOpen || chosenAmong)
            still.push_back(client);
        else
            client->pairing = Pairing::Settled;
    }
    awaiting.swap(still);
}

void TcpConversations::SettlePairing(const ConversationPointer& conversation)
{
    if (conversation->pairing == Pairing::AwaitingAcceptor) {
        conversation->pairing = Pairing::Settled;
        return;
    }
    if (conversation->pairing != Pairing::ChoosingClient)
        return;
    for (const auto& weak : conversation->candidates) {
        ConversationPointer client = weak.lock();
        if (client && client->pairing == Pairing::AwaitingAcceptor) {
            Join(client, conversation);
            return;
        }
    }
    conversation->pairing = Pairing::Settled;
}

void TcpConversations::NamesChanged(uint32_t socket)
{
    Side* side = SideOf(socket);
    const TracedSocket* info = sockets.Find(socket);
    if (!side || !info)
        return;
    ConversationPointer c = Resolved(side->conversation);
    if (c->opened)
        return;
    if (c->version == IpVersion::Unknown)
        c->version = info->version;
    Endpoint own = info->local;
    MergeEndpoint(own, c->ends[side->end].named);
    c->ends[side->end].named = own;
    MergeEndpoint(c->ends[1 - side->end].named, info->peer);
    if (!choosing.empty())
        ChooseAll();
}

void TcpConversations::HoldStream(const ConversationPointer& conversation, int direction, uint64_t end,
                                  TcpFinCause fin, uint64_t microseconds, size_t bytes)
{
    conversation->itemsAfterOpen++;
    held.Add(NewTcpStreamItem(*this, conversation, direction, end, fin, microseconds), bytes);
}

void TcpConversations::Data(uint32_t socket, bool sent, uint32_t count, const uint8_t* data, size_t length,
                            uint64_t microseconds)
{
    Side& side = SideForData(socket);
    ConversationPointer c = Resolved(side.conversation);
    int direction = sent ? side.end : 1 - side.end;
    TcpDirection& stream = c->directions[direction];
    uint64_t& reach = sent ? stream.sent : stream.received;
    uint64_t start = reach;
    reach += count;
    size_t carried = std::min(length, size_t(count));
    c->AddCarried(direction, start, data, carried);
    c->established = true;
    HoldStream(c, direction, reach, TcpFinCause::None, microseconds, carried);
    if (!choosing.empty())
        ChooseAll();
}

void TcpConversations::SendsDisabled(uint32_t socket, uint64_t microseconds)
{
    Side* side = SideOf(socket);
    if (!side)
        return;
    ConversationPointer c = Resolved(side->conversation);
    if (c->established)
        HoldStream(c, side->end, 0, TcpFinCause::BySender, microseconds, 0);
}

void TcpConversations::ClosedByPeer(uint32_t socket, uint64_t microseconds)
{
    Side* side = SideOf(socket);
    if (!side)
        return;
    ConversationPointer c = Resolved(side->conversation);
    int direction = 1 - side->end;
    TcpDirection& stream = c->directions[direction];
    stream.endReceived = true;
    c->established = true;
    HoldStream(c, direction, stream.received, TcpFinCause::ByReceiver, microseconds, 0);
}

void TcpConversations::Closed(uint32_t socket, uint64_t microseconds)
{
    if (Side* side = SideOf(socket)) {
        ConversationPointer c = Resolved(side->conversation);
        if (c->established)
            HoldStream(c, side->end, 0, TcpFinCause::BySender, microseconds, 0);
        c->ends[side->end].reporting = false;
        sides.erase(socket);
    }
    if (!awaiting.empty())
        ReviewAwaiting();   // it may have been their listener
}
