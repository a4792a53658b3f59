// The held packets of a TCP conversation: its opening, and each record's part of a direction's
// bytes or its FIN. Each waits until the conversation's other end is known and its bytes are
// carried, or can no longer be. Pure code.
#pragma once
#include <cstdint>
#include <memory>

#include "HeldPackets.h"

class TcpConversation;
class TcpConversations;

enum class TcpFinCause {
    None,
    ByReceiver,   // the receiving end read the end of the stream: the FIN is where it read it
    BySender,     // the sending end shut down or closed: the FIN follows all the other end receives
};

// The handshake where the trace shows one, and the endpoints fixed.
std::unique_ptr<HeldItem> NewTcpOpenItem(TcpConversations& owner, std::shared_ptr<TcpConversation> conversation,
                                         uint64_t microseconds);
// direction's bytes up to end, then a FIN when fin asks for one.
std::unique_ptr<HeldItem> NewTcpStreamItem(TcpConversations& owner, std::shared_ptr<TcpConversation> conversation,
                                           int direction, uint64_t end, TcpFinCause fin, uint64_t microseconds);
