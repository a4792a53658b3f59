// One end of a conversation as far as a trace names it: an IPv4 or IPv6 address and a port,
// either of which may be missing. Read from the address texts of the layer's records
// ("127.0.0.1:80", "127.0.0.1" for port 0, "[::1]:80", "::1", "[fe80::1%3]:80"). A wildcard
// address or port 0 names nothing: the system picks the real one. Pure text code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

enum class IpVersion : uint8_t { Unknown, V4, V6 };

struct Endpoint {
    IpVersion version = IpVersion::Unknown;
    bool hasAddress = false;
    uint8_t address[16] = {};   // network order; an IPv4 address in the first four bytes
    uint16_t port = 0;          // 0: not named

    bool Complete() const { return hasAddress && port != 0; }
};

// False when the text is no address (cut, 'invalid socket address', a name); endpoint untouched.
bool ParseEndpointText(const char* text, size_t length, Endpoint& endpoint);

// "1.2.3.4:80", "[::1]:80"; "1.2.3.4" or "::1" without a port.
std::string EndpointText(const Endpoint& endpoint);

// Fills what into lacks from what from names, when both are of one version (or into of none).
void MergeEndpoint(Endpoint& into, const Endpoint& from);

// Whether both may name the same end: every part both name is equal.
bool MayBeSameEndpoint(const Endpoint& a, const Endpoint& b);

bool IsLoopbackAddress(const Endpoint& endpoint);
