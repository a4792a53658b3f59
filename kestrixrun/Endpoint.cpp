#include "Endpoint.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const size_t IPv6Groups = 8;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexValue(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A decimal number of at most limit, with no sign; false for anything else.
bool ParseDecimal(const char* text, size_t length, uint32_t limit, uint32_t& value)
{
    if (length == 0 || length > 5)
        return false;
    value = 0;
    for (size_t i = 0; i < length; i++) {
        if (!IsDigit(text[i]))
            return false;
        value = value * 10 + uint32_t(text[i] - '0');
    }
    return value <= limit;
}

bool ParseIPv4(const char* text, size_t length, uint8_t* address)
{
    size_t start = 0;
    for (int part = 0; part < 4; part++) {
        size_t end = start;
        while (end < length && text[end] != '.')
            end++;
        uint32_t value;
        if (!ParseDecimal(text + start, end - start, 255, value) || (part < 3) != (end < length))
            return false;
        address[part] = uint8_t(value);
        start = end + 1;
    }
    return true;
}

// Groups of up to four hex digits split by ':', one "::" standing for the zero groups it
// leaves out, and an IPv4 address in place of the last two groups.
bool ParseIPv6(const char* text, size_t length, uint8_t* address)
{
    uint16_t groups[IPv6Groups] = {};
    size_t count = 0, gapAt = IPv6Groups + 1;
    size_t i = 0;
    if (length >= 2 && text[0] == ':' && text[1] == ':') {
        gapAt = 0;
        i = 2;
    }
    while (i < length) {
        size_t end = i;
        while (end < length && text[end] != ':')
            end++;
        if (memchr(text + i, '.', end - i)) {
            uint8_t v4[4];
            if (end != length || count + 2 > IPv6Groups || !ParseIPv4(text + i, end - i, v4))
                return false;
            groups[count++] = uint16_t(v4[0] << 8 | v4[1]);
            groups[count++] = uint16_t(v4[2] << 8 | v4[3]);
            i = end;
            break;
        }
        if (end == i || end - i > 4 || count == IPv6Groups)
            return false;
        uint16_t value = 0;
        for (size_t j = i; j < end; j++) {
            int digit = HexValue(text[j]);
            if (digit < 0)
                return false;
            value = uint16_t(value << 4 | digit);
        }
        groups[count++] = value;
        i = end;
        if (i == length)
            break;
        i++;   // the ':'
        if (i < length && text[i] == ':') {
            if (gapAt <= IPv6Groups)
                return false;
            gapAt = count;
            i++;
        } else if (i == length) {
            return false;   // a single ':' at the end
        }
    }
    bool gap = gapAt <= IPv6Groups;
    if (gap ? count >= IPv6Groups : count != IPv6Groups)
        return false;
    uint16_t full[IPv6Groups] = {};
    size_t missing = IPv6Groups - count;
    for (size_t g = 0; g < count; g++)
        full[gap && g >= gapAt ? g + missing : g] = groups[g];
    for (size_t g = 0; g < IPv6Groups; g++) {
        address[2 * g] = uint8_t(full[g] >> 8);
        address[2 * g + 1] = uint8_t(full[g]);
    }
    return true;
}

bool IsZero(const uint8_t* bytes, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (bytes[i])
            return false;
    return true;
}

// The usual short form: the longest run of two or more zero groups written as "::".
std::string IPv6Text(const uint8_t* address)
{
    uint16_t groups[IPv6Groups];
    for (size_t g = 0; g < IPv6Groups; g++)
        groups[g] = uint16_t(address[2 * g] << 8 | address[2 * g + 1]);
    size_t runStart = IPv6Groups, runLength = 1;
    for (size_t g = 0; g < IPv6Groups;) {
        size_t end = g;
        while (end < IPv6Groups && groups[end] == 0)
            end++;
        if (end - g > runLength) {
            runStart = g;
            runLength = end - g;
        }
        g = end > g ? end : g + 1;
    }
    std::string text;
    char group[8];
    for (size_t g = 0; g < IPv6Groups; g++) {
        if (g == runStart) {
            text += "::";
            g += runLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':')
            text += ':';
        snprintf(group, sizeof group, "%x", unsigned(groups[g]));
        text += group;
    }
    return text;
}

size_t AddressLength(IpVersion version)
{
    return version == IpVersion::V6 ? 16 : 4;
}

}  // namespace

bool ParseEndpointText(const char* text, size_t length, Endpoint& endpoint)
{
    Endpoint parsed;
    const char* address = text;
    size_t addressLength = length;
    uint32_t port = 0;
    if (length > 0 && text[0] == '[') {
        const char* close = static_cast<const char*>(memchr(text, ']', length));
        if (!close)
            return false;
        address = text + 1;
        addressLength = size_t(close - address);
        size_t rest = length - size_t(close + 1 - text);
        if (rest > 0 && (close[1] != ':' || !ParseDecimal(close + 2, rest - 1, 65535, port)))
            return false;
    } else if (std::count(text, text + length, ':') == 1) {
        // one colon: an IPv4 address and its port; more: an IPv6 address without one
        const char* colon = static_cast<const char*>(memchr(text, ':', length));
        addressLength = size_t(colon - text);
        if (!ParseDecimal(colon + 1, length - addressLength - 1, 65535, port))
            return false;
    }
    // an IPv6 scope ("%3") does not appear in packets
    if (const char* percent = static_cast<const char*>(memchr(address, '%', addressLength)))
        addressLength = size_t(percent - address);
    bool v6 = memchr(address, ':', addressLength) != nullptr;
    if (v6 ? !ParseIPv6(address, addressLength, parsed.address) : !ParseIPv4(address, addressLength, parsed.address))
        return false;
    parsed.version = v6 ? IpVersion::V6 : IpVersion::V4;
    parsed.hasAddress = !IsZero(parsed.address, AddressLength(parsed.version));
    parsed.port = uint16_t(port);
    endpoint = parsed;
    return true;
}

std::string EndpointText(const Endpoint& endpoint)
{
    char text[64];
    const uint8_t* a = endpoint.address;
    if (endpoint.version == IpVersion::V6) {
        std::string address = IPv6Text(a);
        if (!endpoint.port)
            return address;
        snprintf(text, sizeof text, "[%s]:%u", address.c_str(), unsigned(endpoint.port));
        return text;
    }
    if (endpoint.port)
        snprintf(text, sizeof text, "%u.%u.%u.%u:%u", a[0], a[1], a[2], a[3], unsigned(endpoint.port));
    else
        snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    return text;
}

void MergeEndpoint(Endpoint& into, const Endpoint& from)
{
    if (from.version == IpVersion::Unknown)
        return;
    if (into.version == IpVersion::Unknown)
        into.version = from.version;
    else if (into.version != from.version)
        return;
    if (!into.hasAddress && from.hasAddress) {
        memcpy(into.address, from.address, sizeof into.address);
        into.hasAddress = true;
    }
    if (!into.port)
        into.port = from.port;
}

bool MayBeSameEndpoint(const Endpoint& a, const Endpoint& b)
{
    if (a.version != IpVersion::Unknown && b.version != IpVersion::Unknown && a.version != b.version)
        return false;
    if (a.hasAddress && b.hasAddress && memcmp(a.address, b.address, sizeof a.address) != 0)
        return false;
    return !a.port || !b.port || a.port == b.port;
}

bool IsLoopbackAddress(const Endpoint& endpoint)
{
    static const uint8_t IPv6Loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const uint8_t IPv4MappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (!endpoint.hasAddress)
        return false;
    if (endpoint.version == IpVersion::V4)
        return endpoint.address[0] == 127;
    return memcmp(endpoint.address, IPv6Loopback, 16) == 0 ||
           (memcmp(endpoint.address, IPv4MappedPrefix, 12) == 0 && endpoint.address[12] == 127);
}
