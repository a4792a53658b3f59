// A small HTTP/1.0 server on 127.0.0.1: serves one binary document and answers 404 for any
// other path, for a bounded number of requests, then exits.
//   http_server [--port N] [--port-file PATH] [--requests N]
// Port 0 picks a free port; --port-file tells the client which one.
#include "HttpMessage.h"
#include "PortFile.h"
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <stdlib.h>
#include <string.h>

namespace {

constexpr DWORD kClientWaitMs = 60000;  // a person may start the client by hand
constexpr size_t kMaxHeadLength = 8192;

struct ServerOptions {
    unsigned short port = 8080;
    const char* portFile = nullptr;
    int requests = 2;
};

ServerOptions ParseOptions(int argc, char** argv) {
    ServerOptions options;
    for (int i = 1; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (strcmp(argv[i], "--port") == 0 && hasValue)
            options.port = static_cast<unsigned short>(atoi(argv[++i]));
        else if (strcmp(argv[i], "--port-file") == 0 && hasValue)
            options.portFile = argv[++i];
        else if (strcmp(argv[i], "--requests") == 0 && hasValue)
            options.requests = atoi(argv[++i]);
        else
            Fail("usage: http_server [--port N] [--port-file PATH] [--requests N]");
    }
    Check(options.requests > 0, "--requests must be at least 1");
    return options;
}

// Reads up to the blank line that ends the request head; false when the client gave up.
bool ReadRequestHead(SOCKET s, std::string& head) {
    char buffer[1024];
    while (HttpHeadLength(head) == std::string::npos) {
        if (head.size() > kMaxHeadLength)
            return false;
        int got = recv(s, buffer, sizeof buffer, 0);
        if (got == SOCKET_ERROR || got == 0)
            return false;
        head.append(buffer, got);
    }
    head.resize(HttpHeadLength(head));
    return true;
}

std::string Answer(const HttpRequest& request, bool valid, const std::string& error) {
    if (!valid)
        return BuildHttpResponse(400, "Bad Request", "text/plain", error + "\r\n");
    if (request.method != "GET")
        return BuildHttpResponse(501, "Not Implemented", "text/plain",
                                 "only GET is served here\r\n");
    if (request.path != kSampleHttpPath)
        return BuildHttpResponse(404, "Not Found", "text/plain",
                                 "no document at " + request.path + "\r\n");
    return BuildHttpResponse(200, "OK", "application/octet-stream", SampleHttpBody());
}

void ServeOne(SOCKET listener, int number) {
    SOCKET client = AcceptWithin(listener, kClientWaitMs);
    SetBlockingTimeouts(client, kWaitMs);
    std::string peer = AddressText(PeerAddressOf(client));

    std::string head;
    HttpRequest request;
    std::string error = "the request head did not end within " + std::to_string(kMaxHeadLength) +
                        " bytes";
    bool valid = ReadRequestHead(client, head) && ParseHttpRequest(head, request, error);
    if (valid)
        Step("request %d from %s: %s %s %s", number, peer.c_str(), request.method.c_str(),
             request.path.c_str(), request.version.c_str());
    else
        Step("request %d from %s is malformed: %s", number, peer.c_str(), error.c_str());

    std::string response = Answer(request, valid, error);
    SendAll(client, response.data(), static_cast<int>(response.size()));
    CheckSocketCall(shutdown(client, SD_SEND), "shutdown");
    // Read what the client may still send, so closing does not reset the connection.
    char rest[256];
    while (recv(client, rest, sizeof rest, 0) > 0) {
    }
    CheckSocketCall(closesocket(client), "closesocket");
    Step("answered \"%s\" with %u bytes", response.substr(0, response.find('\r')).c_str(),
         static_cast<unsigned>(response.size()));
}

}  // namespace

int main(int argc, char** argv) {
    SampleStart("http_server", 2 * kClientWaitMs);
    ServerOptions options = ParseOptions(argc, argv);
    SOCKET listener = CheckSocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), "socket");
    sockaddr_storage address = LoopbackAddress(AF_INET, options.port);
    CheckSocketCall(bind(listener, reinterpret_cast<sockaddr*>(&address), AddressLength(address)),
                    "bind");
    CheckSocketCall(listen(listener, SOMAXCONN), "listen");
    sockaddr_storage listening = LocalAddressOf(listener);
    Step("listening on http://%s%s, serving %d request%s", AddressText(listening).c_str(),
         kSampleHttpPath, options.requests, options.requests == 1 ? "" : "s");
    if (options.portFile)
        WritePortFile(options.portFile, AddressPort(listening));

    for (int i = 1; i <= options.requests; ++i)
        ServeOne(listener, i);
    CheckSocketCall(closesocket(listener), "closesocket");
    Step("served %d request%s, closing", options.requests, options.requests == 1 ? "" : "s");
    return SampleFinish();
}
