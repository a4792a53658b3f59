#include "JsonLines.h"

#include <cstdio>
#include <cstring>

namespace {

// By TraceKind.
const char* const KindNames[] = {
    "process_attached", "socket_created", "socket_closed", "data_sent", "data_received", "process_detached",
    "message",          "status",         "error",
};

const char Base64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void AppendNumber(std::string& out, const char* name, uint32_t value)
{
    char text[32];
    snprintf(text, sizeof text, ",\"%s\":%lu", name, static_cast<unsigned long>(value));
    out += text;
}

}  // namespace

const char* JsonKindName(TraceKind kind)
{
    return KindNames[int(kind)];
}

void AppendJsonString(std::string& out, const char* text, size_t length)
{
    out += '"';
    for (size_t i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += char(c);
            }
        }
    }
    out += '"';
}

std::string Base64Of(const uint8_t* data, size_t length)
{
    std::string out;
    out.reserve((length + 2) / 3 * 4);
    for (size_t i = 0; i < length; i += 3) {
        uint32_t group = uint32_t(data[i]) << 16;
        if (i + 1 < length)
            group |= uint32_t(data[i + 1]) << 8;
        if (i + 2 < length)
            group |= data[i + 2];
        out += Base64Digits[group >> 18 & 63];
        out += Base64Digits[group >> 12 & 63];
        out += i + 1 < length ? Base64Digits[group >> 6 & 63] : '=';
        out += i + 2 < length ? Base64Digits[group & 63] : '=';
    }
    return out;
}

std::string JsonLineOf(const TraceRecord& record)
{
    char time[48];
    snprintf(time, sizeof time, "{\"time\":%.6f", record.seconds);
    std::string line = time;
    if (record.processId)
        AppendNumber(line, "pid", record.processId);
    line += ",\"kind\":";
    const char* kind = JsonKindName(record.kind);
    AppendJsonString(line, kind, strlen(kind));
    if (record.hasSocket)
        AppendNumber(line, "socket", record.socket);
    if (record.hasCount)
        AppendNumber(line, "count", record.count);
    if (record.text) {
        line += ",\"text\":";
        AppendJsonString(line, record.text, record.textLength);
    }
    if (record.data) {
        line += ",\"data\":\"";
        line += Base64Of(record.data, record.dataLength);
        line += '"';
    }
    return line + "}\n";
}
