#include "RecordTexts.h"

#include <cstring>

namespace {

// The forms of the layer's texts. In a form, %S stands for the socket's number, %O for another
// socket's, %A for an address, %F for a family name, %T for a socket type name, %C for a
// command line and %* for any text; everything else stands for itself, and a form covers the
// whole text.
struct TextForm {
    const char* form;
    TextMeaning meaning;
};

const TextForm Forms[] = {
    {"socket (%S) created [family=%F, type=%T, protocol=%*]", TextMeaning::Created},
    {"socket (%S) accepted a connection on new socket (%O) [addr=%A]", TextMeaning::Accepted},
    {"socket (%S) accepted a connection on new socket (%O)%*", TextMeaning::Accepted},
    {"socket (%S) accepted a connection on existing socket (%O) [addr=%A]", TextMeaning::AcceptedOnExisting},
    {"socket (%S) accepted a connection on existing socket (%O)%*", TextMeaning::AcceptedOnExisting},
    {"socket (%S) bound [name=%A]", TextMeaning::Bound},
    {"socket (%S) established for listening [backlog=%*]", TextMeaning::Listening},
    {"socket (%S) connecting synchronously [name=%A]", TextMeaning::Connecting},
    {"socket (%S) connecting synchronously without blocking [name=%A]", TextMeaning::Connecting},
    {"socket (%S) connecting asynchronously [name=%A]", TextMeaning::Connecting},
    {"socket (%S) connecting asynchronously [name=%A], result will not be displayed", TextMeaning::Connecting},
    {"socket (%S) connected", TextMeaning::Connected},
    {"socket (%S) could not connect - WSAEWOULDBLOCK%*", TextMeaning::ConnectWouldBlock},
    {"socket (%S) could not connect - %*", TextMeaning::ConnectFailed},
    {"socket (%S) set its default address for sending and receiving [name=%A]", TextMeaning::DefaultAddress},
    {"socket (%S) determined its local name [name=%A]", TextMeaning::LocalName},
    {"socket (%S) determined its peer's name [name=%A]", TextMeaning::PeerName},
    {"socket (%S) sending a datagram %*, to=%A]", TextMeaning::SendingDatagramTo},
    {"socket (%S) sending a datagram %*to its default address %*", TextMeaning::SendingToDefault},
    {"socket (%S) sent %* bytes of data", TextMeaning::StreamData},
    {"socket (%S) received %* bytes of data", TextMeaning::StreamData},
    {"socket (%S) transmitted %* bytes of file data", TextMeaning::StreamData},
    {"socket (%S) sent a datagram that is %* bytes", TextMeaning::DatagramData},
    {"socket (%S) received a datagram that is %* bytes [%*from=%A]", TextMeaning::DatagramFrom},
    {"socket (%S) received a datagram that is %* bytes%*", TextMeaning::DatagramData},
    {"socket (%S) disabled its sends", TextMeaning::SendsDisabled},
    {"socket (%S) disabled its sends and receives", TextMeaning::SendsDisabled},
    {"socket (%S) did not receive any data, closed gracefully by peer", TextMeaning::ClosedByPeer},
    {"process attached, command line='%C'", TextMeaning::ProcessAttached},
};

struct NameValue {
    const char* name;
    int value;
};

const NameValue FamilyNames[] = {{"AF_INET", int(TextFamily::IPv4)}, {"AF_INET6", int(TextFamily::IPv6)}};
const NameValue TypeNames[] = {{"SOCK_STREAM", int(TextSocketType::Stream)},
                               {"SOCK_DGRAM", int(TextSocketType::Datagram)}};

struct Span {
    const char* text = nullptr;
    size_t length = 0;
};

struct Captures {
    Span socket, other, address, family, type, commandLine, rest;
};

// How most forms begin, then %R for the rest of the text.
const char SocketFormBeginning[] = "socket (%S) %R";
const size_t SocketFormBeginningLength = sizeof SocketFormBeginning - 3;

Span* CaptureFor(char marker, Captures& captures)
{
    switch (marker) {
    case 'S': return &captures.socket;
    case 'O': return &captures.other;
    case 'A': return &captures.address;
    case 'F': return &captures.family;
    case 'T': return &captures.type;
    case 'C': return &captures.commandLine;
    case 'R': return &captures.rest;
    default: return nullptr;
    }
}

bool IsNumberCharacter(const char* at, const char* start)
{
    return (*at >= '0' && *at <= '9') || (*at == '-' && at == start);
}

// Whether text matches form from here on. A number takes all its digits; any other marker takes
// the shortest text that lets the rest match, trying only the places where the literal after it
// can begin, and none but %* takes an empty one. No two markers meet in a form.
bool Matches(const char* form, const char* text, const char* end, Captures& captures)
{
    while (*form && *form != '%') {
        if (text == end || *form != *text)
            return false;
        form++;
        text++;
    }
    if (!*form)
        return text == end;
    char marker = form[1];
    const char* rest = form + 2;
    Span* capture = CaptureFor(marker, captures);
    const char* stop = text;
    if (marker == 'S' || marker == 'O') {
        while (stop < end && IsNumberCharacter(stop, text))
            stop++;
        if (stop == text || !Matches(rest, stop, end, captures))
            return false;
    } else if (!*rest) {
        stop = end;   // the rest of the text
        if (stop == text && marker != '*')
            return false;
    } else {
        if (marker != '*')
            stop++;
        for (;; stop++) {
            stop = stop < end ? static_cast<const char*>(memchr(stop, *rest, size_t(end - stop))) : nullptr;
            if (!stop)
                return false;
            if (Matches(rest, stop, end, captures))
                break;
        }
    }
    if (capture)
        *capture = {text, size_t(stop - text)};
    return true;
}

// A socket number as the layer writes it: the handle as a signed decimal.
bool SocketNumber(const Span& span, uint32_t& number)
{
    const char* p = span.text;
    const char* end = p + span.length;
    bool negative = p < end && *p == '-';
    if (negative)
        p++;
    if (p == end || end - p > 10)
        return false;
    uint64_t value = 0;
    for (; p < end; p++) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + uint64_t(*p - '0');
    }
    if (value > 0xFFFFFFFFu)
        return false;
    number = negative ? uint32_t(0 - uint32_t(value)) : uint32_t(value);
    return true;
}

template <size_t N>
int ValueOfName(const NameValue (&table)[N], const Span& span, int otherwise)
{
    for (const NameValue& row : table)
        if (strlen(row.name) == span.length && memcmp(row.name, span.text, span.length) == 0)
            return row.value;
    return otherwise;
}

}  // namespace

TextFacts ReadRecordText(const char* text, size_t length)
{
    TextFacts facts;
    if (!text)
        return facts;
    const char* end = text + length;
    // Most forms begin alike: their common beginning is matched once.
    Captures common;
    const size_t commonLength = SocketFormBeginningLength;
    const char* afterCommon = Matches(SocketFormBeginning, text, end, common) ? common.rest.text : nullptr;
    for (const TextForm& form : Forms) {
        Captures captures = common;
        bool socketForm = strncmp(form.form, SocketFormBeginning, commonLength) == 0;
        if (socketForm ? !afterCommon || !Matches(form.form + commonLength, afterCommon, end, captures)
                       : !Matches(form.form, text, end, captures))
            continue;
        if (captures.socket.text && !SocketNumber(captures.socket, facts.socket))
            continue;
        if (captures.other.text && !SocketNumber(captures.other, facts.other))
            continue;
        facts.meaning = form.meaning;
        facts.address = captures.address.text;
        facts.addressLength = captures.address.length;
        facts.commandLine = captures.commandLine.text;
        facts.commandLineLength = captures.commandLine.length;
        if (captures.family.text)
            facts.family = TextFamily(ValueOfName(FamilyNames, captures.family, int(TextFamily::Other)));
        if (captures.type.text)
            facts.type = TextSocketType(ValueOfName(TypeNames, captures.type, int(TextSocketType::Other)));
        return facts;
    }
    return facts;
}
