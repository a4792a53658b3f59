// The HTTP/1.0 client of the sample pair: fetches the server's binary document and checks every
// byte, then asks for a missing path and expects 404.
//   http_client [--port N] [--port-file PATH]
#include "HttpMessage.h"
#include "PortFile.h"
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <stdlib.h>
#include <string.h>

namespace {

const char kMissingPath[] = "/missing";
constexpr int kMaxResponseLength = 64 * 1024;

unsigned short ServerPort(int argc, char** argv) {
    unsigned short port = 8080;
    for (int i = 1; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (strcmp(argv[i], "--port") == 0 && hasValue)
            port = static_cast<unsigned short>(atoi(argv[++i]));
        else if (strcmp(argv[i], "--port-file") == 0 && hasValue)
            port = WaitForPortFile(argv[++i], kWaitMs);
        else
            Fail("usage: http_client [--port N] [--port-file PATH]");
    }
    return port;
}

HttpResponse Fetch(unsigned short port, const char* path) {
    sockaddr_storage server = LoopbackAddress(AF_INET, port);
    SOCKET s = CheckSocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), "socket");
    SetBlockingTimeouts(s, kWaitMs);
    CheckSocketCall(connect(s, reinterpret_cast<sockaddr*>(&server), AddressLength(server)),
                    "connect to the server");
    std::string request = BuildHttpRequest(path, AddressText(server));
    SendAll(s, request.data(), static_cast<int>(request.size()));
    Step("sent GET %s HTTP/1.0 to %s", path, AddressText(server).c_str());

    static char buffer[kMaxResponseLength];
    int length = ReceiveUntilClosed(s, buffer, sizeof buffer);
    CheckSocketCall(closesocket(s), "closesocket");
    HttpResponse response;
    std::string error;
    // Parse first: the reason must be complete before Check reads it.
    bool parsed = ParseHttpResponse(std::string(buffer, length), response, error);
    Check(parsed, "bad response to GET %s: %s", path, error.c_str());
    const std::string* type = FindHttpHeader(response.headers, "Content-Type");
    Step("got %d %s, %s, %u bytes of body", response.status, response.reason.c_str(),
         type ? type->c_str() : "no Content-Type", static_cast<unsigned>(response.body.size()));
    return response;
}

void CheckDocument(const HttpResponse& response) {
    Check(response.status == 200, "GET %s answered %d %s", kSampleHttpPath, response.status,
          response.reason.c_str());
    std::string expected = SampleHttpBody();
    Check(response.body.size() == expected.size(), "the body has %u bytes, expected %u",
          static_cast<unsigned>(response.body.size()), static_cast<unsigned>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i)
        Check(response.body[i] == expected[i], "body byte %u is 0x%02x, expected 0x%02x",
              static_cast<unsigned>(i), response.body[i] & 0xff, expected[i] & 0xff);
    Step("body checks out: bytes 00..ff, then %u bytes of text",
         static_cast<unsigned>(expected.size() - 256));
}

}  // namespace

int main(int argc, char** argv) {
    SampleStart("http_client");
    unsigned short port = ServerPort(argc, argv);
    CheckDocument(Fetch(port, kSampleHttpPath));
    HttpResponse missing = Fetch(port, kMissingPath);
    Check(missing.status == 404, "GET %s answered %d %s, expected 404", kMissingPath,
          missing.status, missing.reason.c_str());
    Step("GET %s was answered 404 Not Found, as it should be", kMissingPath);
    return SampleFinish();
}
