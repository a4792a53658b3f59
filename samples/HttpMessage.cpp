#include "HttpMessage.h"

#include <ctype.h>
#include <stdlib.h>

const char kSampleHttpPath[] = "/kestrix.bin";

namespace {

const char kLineEnd[] = "\r\n";
const char kHeadEnd[] = "\r\n\r\n";

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::vector<std::string> SplitLines(const std::string& head) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = head.find(kLineEnd, start);
        if (end == std::string::npos) {
            if (start < head.size())
                lines.push_back(head.substr(start));
            return lines;
        }
        lines.push_back(head.substr(start, end - start));
        start = end + 2;
    }
}

bool ParseHeaders(const std::vector<std::string>& lines, HttpHeaders& headers, std::string& error) {
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty())
            break;
        size_t colon = lines[i].find(':');
        if (colon == std::string::npos || colon == 0) {
            error = "header line without a name: \"" + lines[i] + "\"";
            return false;
        }
        size_t value = lines[i].find_first_not_of(" \t", colon + 1);
        headers.emplace_back(lines[i].substr(0, colon),
                             value == std::string::npos ? "" : lines[i].substr(value));
    }
    return true;
}

}  // namespace

size_t HttpHeadLength(const std::string& data) {
    size_t end = data.find(kHeadEnd);
    return end == std::string::npos ? std::string::npos : end + 4;
}

std::string BuildHttpRequest(const std::string& path, const std::string& host) {
    return "GET " + path + " HTTP/1.0\r\n"
           "Host: " + host + "\r\n"
           "User-Agent: kestrix-sample-client/1.0\r\n"
           "Accept: */*\r\n"
           "\r\n";
}

bool ParseHttpRequest(const std::string& head, HttpRequest& request, std::string& error) {
    std::vector<std::string> lines = SplitLines(head);
    if (lines.empty() || lines[0].empty()) {
        error = "empty request";
        return false;
    }
    const std::string& line = lines[0];
    size_t firstSpace = line.find(' ');
    size_t secondSpace = firstSpace == std::string::npos ? std::string::npos
                                                         : line.find(' ', firstSpace + 1);
    if (secondSpace == std::string::npos || line.find(' ', secondSpace + 1) != std::string::npos) {
        error = "request line is not \"METHOD PATH VERSION\": \"" + line + "\"";
        return false;
    }
    request.method = line.substr(0, firstSpace);
    request.path = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    request.version = line.substr(secondSpace + 1);
    if (request.method.empty() || request.path.empty() || request.path[0] != '/' ||
        request.version.compare(0, 5, "HTTP/") != 0) {
        error = "malformed request line: \"" + line + "\"";
        return false;
    }
    return ParseHeaders(lines, request.headers, error);
}

std::string BuildHttpResponse(int status, const std::string& reason,
                              const std::string& contentType, const std::string& body) {
    return "HTTP/1.0 " + std::to_string(status) + " " + reason + "\r\n"
           "Server: kestrix-sample-server/1.0\r\n"
           "Content-Type: " + contentType + "\r\n"
           "Content-Length: " + std::to_string(body.size()) + "\r\n"
           "Connection: close\r\n"
           "\r\n" + body;
}

bool ParseHttpResponse(const std::string& message, HttpResponse& response, std::string& error) {
    size_t headLength = HttpHeadLength(message);
    if (headLength == std::string::npos) {
        error = "the response has no blank line after its headers";
        return false;
    }
    std::vector<std::string> lines = SplitLines(message.substr(0, headLength));
    const std::string& line = lines.empty() ? std::string() : lines[0];
    // "HTTP/1.x NNN reason"
    if (line.size() < 12 || line.compare(0, 5, "HTTP/") != 0 || line[8] != ' ' ||
        !isdigit(static_cast<unsigned char>(line[9])) ||
        !isdigit(static_cast<unsigned char>(line[10])) ||
        !isdigit(static_cast<unsigned char>(line[11])) || (line.size() > 12 && line[12] != ' ')) {
        error = "malformed status line: \"" + line + "\"";
        return false;
    }
    response.status = atoi(line.substr(9, 3).c_str());
    response.reason = line.size() > 13 ? line.substr(13) : "";
    if (!ParseHeaders(lines, response.headers, error))
        return false;
    response.body = message.substr(headLength);
    if (const std::string* length = FindHttpHeader(response.headers, "Content-Length")) {
        char* end = nullptr;
        unsigned long declared = strtoul(length->c_str(), &end, 10);
        if (length->empty() || *end != '\0' || declared != response.body.size()) {
            error = "Content-Length " + *length + " but the body has " +
                    std::to_string(response.body.size()) + " bytes";
            return false;
        }
    }
    return true;
}

const std::string* FindHttpHeader(const HttpHeaders& headers, const std::string& name) {
    for (const auto& header : headers) {
        if (EqualIgnoringCase(header.first, name))
            return &header.second;
    }
    return nullptr;
}

std::string SampleHttpBody() {
    std::string body;
    for (int i = 0; i < 256; ++i)
        body.push_back(static_cast<char>(i));
    body += "\r\nThis is the text part of the Kestrix sample document.\r\n";
    return body;
}
