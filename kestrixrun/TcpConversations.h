// The TCP conversations of a trace, from the records of its stream sockets: a connect or an
// accept begins one, data records feed its two directions, shutdown, the peer's close and the
// socket's close end them. A connect to a listening socket of the same process waits for that
// socket's accept, so that both ends make one conversation: where several connects wait at
// once, the accepted socket takes the one whose named port, or else whose bytes, agree with its
// own, or else the oldest. Every record's packets go through the held packets. Pure code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "HeldPackets.h"
#include "TcpConversation.h"
#include "TcpHeldItems.h"
#include "TracedSockets.h"

class TcpConversations {
public:
    TcpConversations(const TracedSockets& sockets, HeldPackets& held) : sockets(sockets), held(held) {}

    // The socket's table entry has its target as its peer by now.
    void Connecting(uint32_t socket);
    void Connected(uint32_t socket, uint64_t microseconds);
    void ConnectFailed(uint32_t socket);
    // The accepted socket's table entry has its listener's address and its peer by now.
    void Accepted(uint32_t listener, uint32_t socket, uint64_t microseconds);
    // The socket's own or peer's address became known.
    void NamesChanged(uint32_t socket);
    void Data(uint32_t socket, bool sent, uint32_t count, const uint8_t* data, size_t length,
              uint64_t microseconds);
    void SendsDisabled(uint32_t socket, uint64_t microseconds);
    void ClosedByPeer(uint32_t socket, uint64_t microseconds);
    // Call once the socket has left the table.
    void Closed(uint32_t socket, uint64_t microseconds);

    // For a held packet that must go out: a connect waiting for its acceptor has none; an
    // accepted socket choosing among connects takes the oldest that is left.
    void SettlePairing(const std::shared_ptr<TcpConversation>& conversation);

private:
    struct Side {
        std::shared_ptr<TcpConversation> conversation;
        int end;
    };
    using ConversationPointer = std::shared_ptr<TcpConversation>;

    ConversationPointer NewConversation(uint32_t socket, int end);
    Side* SideOf(uint32_t socket);
    Side& SideForData(uint32_t socket);
    bool ListenerTakes(uint32_t listener, const TcpConversation& client) const;
    void Join(const ConversationPointer& client, const ConversationPointer& accepted);
    void Choose(const ConversationPointer& chooser);
    void ChooseAll();
    void ReviewAwaiting();
    void HoldStream(const ConversationPointer& conversation, int direction, uint64_t end, TcpFinCause fin,
                    uint64_t microseconds, size_t bytes);

    const TracedSockets& sockets;
    HeldPackets& held;
    std::unordered_map<uint32_t, Side> sides;
    std::vector<std::weak_ptr<TcpConversation>> awaiting;   // connects to traced listeners, oldest first
    std::vector<std::weak_ptr<TcpConversation>> choosing;   // accepted sockets choosing among them
    uint32_t conversationCount = 0;
};
