// The JSON-lines form of a trace: one object per record, one line each. Pure text code: no
// window or kernel calls; texts come in UTF-8.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct JsonRecord {
    double seconds = 0;            // arrival, since the capture started
    uint32_t processId = 0;        // 0: a line of the capture's own, which names no process
    const char* kind = "";
    bool hasSocket = false;
    uint32_t socket = 0;
    bool hasCount = false;
    uint32_t count = 0;            // bytes the call moved
    const char* text = nullptr;    // UTF-8; null when the record has none
    size_t textLength = 0;
    const uint8_t* data = nullptr; // the bytes the record carries; none below High
    size_t dataLength = 0;
};

// The record's kind as the "kind" member names it: process_attached, socket_created,
// socket_closed, data_sent, data_received, process_detached, or message for a record that
// carries only text or a kind this program does not know.
const char* JsonKindName(uint32_t payloadLength, uint32_t kind);

// {"time":1.234567,"pid":…,"kind":…,"socket":…,"count":…,"text":…,"data":…} and a LF; members
// the record does not have are left out.
std::string JsonLineOf(const JsonRecord& record);

void AppendJsonString(std::string& out, const char* text, size_t length);
std::string Base64Of(const uint8_t* data, size_t length);
