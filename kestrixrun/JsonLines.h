// The JSON-lines form of a trace: one object per record, one line each. Pure text code: no
// window or kernel calls; texts come in UTF-8.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "TraceRecord.h"


// The record's kind as the "kind" member names it: process_attached, socket_created,
// socket_closed, data_sent, data_received, process_detached, or message for a record that
// carries only text or a kind this program does not know; status or error for the capture's
// own lines.
const char* JsonKindName(TraceKind kind);

// {"time":1.234567,"pid":…,"kind":…,"socket":…,"count":…,"text":…,"data":…} and a LF; members
// the record does not have are left out.
std::string JsonLineOf(const TraceRecord& record);

void AppendJsonString(std::string& out, const char* text, size_t length);
std::string Base64Of(const uint8_t* data, size_t length);
