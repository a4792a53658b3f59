#include "EntryLine.h"

#include <cctype>
#include <cstdio>

namespace {

std::string Narrow(const std::wstring& text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(length > 0 ? length - 1 : 0, '\0');
    if (length > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

} // namespace

std::string EntryLine(const WSAPROTOCOL_INFOW& entry, const std::wstring& path)
{
    int chainLength = entry.ProtocolChain.ChainLen;
    std::string chain = "chain " + std::to_string(chainLength);
    if (chainLength == LAYERED_PROTOCOL) {
        chain += " (hidden)";
    } else {
        chain += " [";
        for (int i = 0; i < chainLength && i < MAX_PROTOCOL_CHAIN; ++i)
            chain += (i ? " " : "") + std::to_string(entry.ProtocolChain.ChainEntries[i]);
        chain += "]";
    }
    char numbers[96];
    snprintf(numbers, sizeof numbers, "flags 0x%08lx  af %d type %d proto %d",
             entry.dwServiceFlags1, entry.iAddressFamily, entry.iSocketType, entry.iProtocol);
    return std::to_string(entry.dwCatalogEntryId) + "  " + chain + "  " + numbers + "  " +
           Narrow(entry.szProtocol) + "  " + Narrow(path);
}

bool ParseGuid(const std::string& text, GUID* guid)
{
    std::string bare = text;
    if (bare.size() == 38 && bare.front() == '{' && bare.back() == '}')
        bare = bare.substr(1, 36);
    if (bare.size() != 36)
        return false;
    for (size_t i = 0; i < bare.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? bare[i] != '-' : !isxdigit(static_cast<unsigned char>(bare[i])))
            return false;
    }
    unsigned long data1 = 0;
    unsigned int data2 = 0, data3 = 0, bytes[8] = {};
    int consumed = 0;
    if (sscanf(bare.c_str(), "%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x%n", &data1, &data2, &data3,
               &bytes[0], &bytes[1], &bytes[2], &bytes[3], &bytes[4], &bytes[5], &bytes[6],
               &bytes[7], &consumed) != 11 ||
        consumed != 36)
        return false;
    guid->Data1 = data1;
    guid->Data2 = static_cast<unsigned short>(data2);
    guid->Data3 = static_cast<unsigned short>(data3);
    for (int i = 0; i < 8; ++i)
        guid->Data4[i] = static_cast<unsigned char>(bytes[i]);
    return true;
}
