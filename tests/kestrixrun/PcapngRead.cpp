#include "PcapngRead.h"

#include <cstdio>
#include <cstring>
#include <map>

namespace {

uint32_t Little32(const std::string& b, size_t at)
{
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}

uint16_t Little16(const std::string& b, size_t at)
{
    return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

uint16_t Big16(const std::string& b, size_t at)
{
    return uint16_t(uint8_t(b[at]) << 8 | uint8_t(b[at + 1]));
}

uint32_t Big32(const std::string& b, size_t at)
{
    return uint32_t(Big16(b, at)) << 16 | Big16(b, at + 2);
}

// Options from at to end: code to value; false when they run past end or do not end well.
bool ReadOptions(const std::string& b, size_t at, size_t end, std::map<uint16_t, std::string>& options)
{
    while (at + 4 <= end) {
        uint16_t code = Little16(b, at), length = Little16(b, at + 2);
        if (code == 0)
            return length == 0 && at + 4 == end;
        size_t padded = (size_t(length) + 3) & ~size_t(3);
        if (at + 4 + padded > end)
            return false;
        for (size_t pad = at + 4 + length; pad < at + 4 + padded; pad++)
            if (b[pad] != 0)
                return false;
        options[code] = b.substr(at + 4, length);
        at += 4 + padded;
    }
    return at == end;
}

uint32_t Sum(const std::string& b, size_t at, size_t length, uint32_t sum)
{
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += Big16(b, at + i);
    if (length % 2)
        sum += uint32_t(uint8_t(b[at + length - 1])) << 8;
    return sum;
}

bool SumsToZero(uint32_t sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return sum == 0xFFFF;
}

std::string AddressText(const std::string& b, size_t at, int version, uint16_t port)
{
    char text[80];
    if (version == 4) {
        snprintf(text, sizeof text, "%u.%u.%u.%u:%u", uint8_t(b[at]), uint8_t(b[at + 1]), uint8_t(b[at + 2]),
                 uint8_t(b[at + 3]), port);
        return text;
    }
    std::string groups;
    for (int g = 0; g < 8; g++) {
        snprintf(text, sizeof text, g ? ":%x" : "%x", Big16(b, at + 2 * size_t(g)));
        groups += text;
    }
    snprintf(text, sizeof text, "[%s]:%u", groups.c_str(), port);
    return text;
}

// Decodes the IP packet in data; false when it is not a well-formed one.
bool Decode(const std::string& data, uint32_t originalLength, PcapngPacket& packet)
{
    if (data.empty())
        return false;
    packet.ipVersion = uint8_t(data[0]) >> 4;
    size_t header, addressAt, addressLength;
    uint32_t pseudo;
    size_t upperLength;
    if (packet.ipVersion == 4) {
        header = size_t(uint8_t(data[0]) & 15) * 4;
        if (header != 20 || data.size() < header || Big16(data, 2) != originalLength)
            return false;
        packet.protocol = uint8_t(data[9]);
        addressAt = 12;
        addressLength = 4;
        upperLength = originalLength - header;
        if (!SumsToZero(Sum(data, 0, header, 0)))
            return true;   // decoded, checksums invalid
    } else if (packet.ipVersion == 6) {
        header = 40;
        if (data.size() < header || Big16(data, 4) + header != originalLength)
            return false;
        packet.protocol = uint8_t(data[6]);
        addressAt = 8;
        addressLength = 16;
        upperLength = originalLength - header;
    } else {
        return false;
    }
    pseudo = Sum(data, addressAt, 2 * addressLength, 0) + uint32_t(packet.protocol) + uint32_t(upperLength >> 16) +
             uint32_t(upperLength & 0xFFFF);
    size_t upper = header;
    bool whole = data.size() == originalLength;
    if (packet.protocol == 6) {
        if (data.size() < upper + 20)
            return false;
        size_t tcpHeader = size_t(uint8_t(data[upper + 12]) >> 4) * 4;
        if (tcpHeader < 20 || data.size() < upper + tcpHeader)
            return false;
        packet.sequence = Big32(data, upper + 4);
        packet.acknowledgement = Big32(data, upper + 8);
        packet.flags = uint8_t(data[upper + 13]);
        packet.payload = data.substr(upper + tcpHeader);
        packet.checksumsValid = whole && SumsToZero(Sum(data, upper, upperLength, pseudo));
    } else if (packet.protocol == 17) {
        if (data.size() < upper + 8 || Big16(data, upper + 4) != upperLength)
            return false;
        packet.payload = data.substr(upper + 8);
        packet.udpChecksumAbsent = Big16(data, upper + 6) == 0;
        packet.checksumsValid = packet.udpChecksumAbsent || (whole && SumsToZero(Sum(data, upper, upperLength, pseudo)));
    } else {
        return false;
    }
    packet.source = AddressText(data, addressAt, packet.ipVersion, Big16(data, upper));
    packet.destination = AddressText(data, addressAt + addressLength, packet.ipVersion, Big16(data, upper + 2));
    return true;
}

}  // namespace

PcapngFile ReadPcapng(const std::string& b)
{
    PcapngFile file;
    size_t at = 0;
    bool section = false, interface = false;
    while (at < b.size()) {
        if (at + 12 > b.size()) {
            file.error = "a block's frame runs past the end";
            return file;
        }
        uint32_t type = Little32(b, at), total = Little32(b, at + 4);
        if (total % 4 || total < 12 || at + total > b.size() || Little32(b, at + total - 4) != total) {
            file.error = "block at " + std::to_string(at) + ": bad total length";
            return file;
        }
        std::map<uint16_t, std::string> options;
        bool optionsWell = true;
        if (type == 0x0A0D0D0A) {
            section = at == 0 && Little32(b, at + 8) == 0x1A2B3C4D && Little16(b, at + 12) == 1 &&
                      Little16(b, at + 14) == 0 && Little32(b, at + 16) == 0xFFFFFFFF &&
                      Little32(b, at + 20) == 0xFFFFFFFF;
            optionsWell = ReadOptions(b, at + 24, at + total - 4, options);
            file.sectionComment = options[1];
            file.application = options[4];
        } else if (type == 1) {
            interface = section && !interface;
            file.linkType = Little16(b, at + 8);
            optionsWell = ReadOptions(b, at + 16, at + total - 4, options);
            file.interfaceName = options[2];
        } else if (type == 6) {
            PcapngPacket packet;
            if (!interface || Little32(b, at + 8) != 0) {
                file.error = "a packet before its interface";
                return file;
            }
            packet.microseconds = uint64_t(Little32(b, at + 12)) << 32 | Little32(b, at + 16);
            packet.capturedLength = Little32(b, at + 20);
            packet.originalLength = Little32(b, at + 24);
            size_t padded = (size_t(packet.capturedLength) + 3) & ~size_t(3);
            if (28 + padded + 4 > total || packet.capturedLength > packet.originalLength) {
                file.error = "a packet's lengths do not fit its block";
                return file;
            }
            optionsWell = ReadOptions(b, at + 28 + padded, at + total - 4, options);
            packet.comment = options[1];
            if (!Decode(b.substr(at + 28, packet.capturedLength), packet.originalLength, packet)) {
                file.error = "packet " + std::to_string(file.packets.size() + 1) + " is not a well-formed IP packet";
                return file;
            }
            file.packets.push_back(packet);
        } else {
            file.error = "unexpected block type " + std::to_string(type);
            return file;
        }
        if (!optionsWell || !section) {
            file.error = "block at " + std::to_string(at) + ": bad options or no section first";
            return file;
        }
        at += total;
    }
    if (!interface)
        file.error = "no interface";
    return file;
}

std::string FlagsText(uint8_t flags)
{
    static const struct {
        uint8_t bit;
        const char* name;
    } names[] = {{0x02, "SYN"}, {0x01, "FIN"}, {0x10, "ACK"}, {0x08, "PSH"}, {0x04, "RST"}};
    std::string text;
    for (const auto& name : names)
        if (flags & name.bit)
            text += text.empty() ? name.name : std::string(" ") + name.name;
    return text;
}
