#include "PcapngWriter.h"

namespace {

const uint32_t SectionHeaderBlockType = 0x0A0D0D0A;
const uint32_t InterfaceDescriptionBlockType = 1;
const uint32_t EnhancedPacketBlockType = 6;
const uint32_t ByteOrderMagic = 0x1A2B3C4D;
const uint16_t MajorVersion = 1, MinorVersion = 0;
const uint64_t UnknownSectionLength = ~uint64_t(0);

const uint16_t OptionEnd = 0;
const uint16_t OptionComment = 1;
const uint16_t SectionOptionApplication = 4;   // shb_userappl
const uint16_t InterfaceOptionName = 2;        // if_name
const uint16_t InterfaceOptionDescription = 3; // if_description

// Block type, total length, and the total length again at the end.
const size_t BlockFrameLength = 12;
const size_t OptionHeaderLength = 4;

struct BlockOption {
    uint16_t code;
    const char* value;
    size_t length;   // 0: the block has no such option
};

size_t Padded(size_t length)
{
    return (length + 3) & ~size_t(3);
}

void Put16(std::string& out, uint16_t value)
{
    const char bytes[2] = {char(value), char(value >> 8)};
    out.append(bytes, 2);
}

void Put32(std::string& out, uint32_t value)
{
    const char bytes[4] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
    out.append(bytes, 4);
}

void Put64(std::string& out, uint64_t value)
{
    Put32(out, uint32_t(value));
    Put32(out, uint32_t(value >> 32));
}

void PutPadded(std::string& out, const void* data, size_t length)
{
    out.append(static_cast<const char*>(data), length);
    out.append(Padded(length) - length, '\0');
}

// An option's length field holds 16 bits: a longer text is cut, at a character's start.
BlockOption TextOption(uint16_t code, const std::string* text)
{
    const size_t limit = 0xFFFC;
    if (!text)
        return {code, nullptr, 0};
    size_t length = text->size();
    if (length > limit) {
        length = limit;
        while (length > 0 && (static_cast<unsigned char>((*text)[length]) & 0xC0) == 0x80)
            length--;
    }
    return {code, text->data(), length};
}

// The options that have a value, and the end marker after them; nothing when none has one.
template <size_t N>
size_t OptionsLength(const BlockOption (&options)[N])
{
    size_t length = 0;
    for (const BlockOption& option : options)
        if (option.length)
            length += OptionHeaderLength + Padded(option.length);
    return length ? length + OptionHeaderLength : 0;
}

template <size_t N>
void PutOptions(std::string& out, const BlockOption (&options)[N])
{
    if (!OptionsLength(options))
        return;
    for (const BlockOption& option : options)
        if (option.length) {
            Put16(out, option.code);
            Put16(out, uint16_t(option.length));
            PutPadded(out, option.value, option.length);
        }
    Put16(out, OptionEnd);
    Put16(out, 0);
}

}  // namespace

void AppendSectionHeaderBlock(std::string& out, const std::string& application, const std::string& comment)
{
    const BlockOption options[] = {TextOption(OptionComment, &comment),
                                   TextOption(SectionOptionApplication, &application)};
    const uint32_t total = uint32_t(BlockFrameLength + 16 + OptionsLength(options));
    Put32(out, SectionHeaderBlockType);
    Put32(out, total);
    Put32(out, ByteOrderMagic);
    Put16(out, MajorVersion);
    Put16(out, MinorVersion);
    Put64(out, UnknownSectionLength);
    PutOptions(out, options);
    Put32(out, total);
}

void AppendInterfaceBlock(std::string& out, uint16_t linkType, uint32_t snapLength, const std::string& name,
                          const std::string& description)
{
    const BlockOption options[] = {TextOption(InterfaceOptionName, &name),
                                   TextOption(InterfaceOptionDescription, &description)};
    const uint32_t total = uint32_t(BlockFrameLength + 8 + OptionsLength(options));
    Put32(out, InterfaceDescriptionBlockType);
    Put32(out, total);
    Put16(out, linkType);
    Put16(out, 0);   // reserved
    Put32(out, snapLength);
    PutOptions(out, options);
    Put32(out, total);
}

void AppendEnhancedPacketBlock(std::string& out, const CapturedPacket& packet)
{
    const BlockOption options[] = {TextOption(OptionComment, packet.comment)};
    const uint32_t total =
        uint32_t(BlockFrameLength + 20 + Padded(packet.capturedLength) + OptionsLength(options));
    out.reserve(out.size() + total);
    Put32(out, EnhancedPacketBlockType);
    Put32(out, total);
    Put32(out, packet.interfaceId);
    Put32(out, uint32_t(packet.microseconds >> 32));
    Put32(out, uint32_t(packet.microseconds));
    Put32(out, packet.capturedLength);
    Put32(out, packet.originalLength);
    PutPadded(out, packet.data, packet.capturedLength);
    PutOptions(out, options);
    Put32(out, total);
}
