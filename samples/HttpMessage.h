// The HTTP/1.0 text of the sample pair: building and parsing request and response messages.
// Pure text work, no sockets, so it can be tested on its own.
#pragma once

#include <stddef.h>

#include <string>
#include <utility>
#include <vector>

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method;
    std::string path;
    std::string version;
    HttpHeaders headers;
};

struct HttpResponse {
    int status = 0;
    std::string reason;
    HttpHeaders headers;
    std::string body;
};

// Where the head of a message ends (just past the blank line), or npos while incomplete.
size_t HttpHeadLength(const std::string& data);

std::string BuildHttpRequest(const std::string& path, const std::string& host);
// Parses a complete request head. False, with a reason, for anything malformed.
bool ParseHttpRequest(const std::string& head, HttpRequest& request, std::string& error);

std::string BuildHttpResponse(int status, const std::string& reason,
                              const std::string& contentType, const std::string& body);
// Parses a whole response as read until the server closed. The body must match
// Content-Length when the server gave one.
bool ParseHttpResponse(const std::string& message, HttpResponse& response, std::string& error);

// Header value by case-insensitive name; null when absent.
const std::string* FindHttpHeader(const HttpHeaders& headers, const std::string& name);

// The body the server sends for its one document: bytes 0..255, then a line of text, so a
// viewer shows both hex rows and text.
std::string SampleHttpBody();
extern const char kSampleHttpPath[];
