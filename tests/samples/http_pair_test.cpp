// The HTTP pair against a counterpart written here, over real loopback sockets: the client must
// catch every wrong answer, and the server must answer bad requests and then stop after its count.
#include "HttpMessage.h"
#include "ProgramRun.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

class Winsock : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data)); }
    void TearDown() override { WSACleanup(); }
    WSADATA data;
};

sockaddr_in Loopback(unsigned short port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

bool Readable(SOCKET s, long ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval timeout = {ms / 1000, (ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &timeout) == 1;
}

std::string ReadHead(SOCKET s) {
    std::string head;
    char buffer[512];
    while (HttpHeadLength(head) == std::string::npos && Readable(s, 5000)) {
        int got = recv(s, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        head.append(buffer, got);
    }
    return head;
}

std::string ReadAll(SOCKET s) {
    std::string all;
    char buffer[4096];
    while (Readable(s, 5000)) {
        int got = recv(s, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        all.append(buffer, got);
    }
    return all;
}

// Answers each connection with the canned answer for the requested path, until stopped.
class CannedServer {
public:
    CannedServer(std::string document, std::string missing)
        : document(std::move(document)), missing(std::move(missing)) {
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = Loopback(0);
        int length = sizeof address;
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener, 5);
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        worker = std::thread([this] { Serve(); });
    }
    ~CannedServer() {
        stop = true;
        worker.join();
        closesocket(listener);
    }
    unsigned short port = 0;

private:
    void Serve() {
        while (!stop) {
            if (!Readable(listener, 100))
                continue;
            SOCKET client = accept(listener, nullptr, nullptr);
            std::string head = ReadHead(client);
            const std::string& answer =
                head.find(std::string("GET ") + kSampleHttpPath + " ") == 0 ? document : missing;
            send(client, answer.data(), static_cast<int>(answer.size()), 0);
            shutdown(client, SD_SEND);
            closesocket(client);
        }
    }
    std::string document, missing;
    SOCKET listener = INVALID_SOCKET;
    std::atomic<bool> stop{false};
    std::thread worker;
};

std::string Document(std::string body) {
    return BuildHttpResponse(200, "OK", "application/octet-stream", body);
}

std::string Flipped(size_t at) {
    std::string body = SampleHttpBody();
    body[at] ^= 0x01;
    return body;
}

const std::string kNotFound = BuildHttpResponse(404, "Not Found", "text/plain", "gone\r\n");

struct ClientCase {
    const char* name;
    std::string document;
    std::string missing;
    DWORD expectedExit;
    const char* expectedText;
};

TEST_F(Winsock, ClientAcceptsOnlyTheRightAnswers) {
    const ClientCase rows[] = {
        {"right answers", Document(SampleHttpBody()), kNotFound, 0, "all checks passed"},
        {"one byte changed", Document(Flipped(100)), kNotFound, 1, "body byte 100 is 0x65"},
        {"text part changed", Document(Flipped(300)), kNotFound, 1, "body byte 300 is"},
        {"body cut short", Document(SampleHttpBody().substr(0, 200)), kNotFound, 1,
         "the body has 200 bytes"},
        {"length disagrees",
         "HTTP/1.0 200 OK\r\nContent-Length: 999\r\n\r\n" + SampleHttpBody(), kNotFound, 1,
         "Content-Length 999 but the body has 313 bytes"},
        {"server error", BuildHttpResponse(500, "Internal Server Error", "text/plain", "x"),
         kNotFound, 1, "answered 500 Internal Server Error"},
        {"missing path found", Document(SampleHttpBody()), Document("surprise"), 1,
         "answered 200 OK, expected 404"},
        {"garbage status line", "HTTX/1.0 200 OK\r\n\r\n", kNotFound, 1, "malformed status line"},
        {"no head end", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n", kNotFound, 1,
         "no blank line after its headers"},
    };
    for (const ClientCase& row : rows) {
        SCOPED_TRACE(row.name);
        CannedServer server(row.document, row.missing);
        ProgramResult run = RunProgram("http_client.exe --port " + std::to_string(server.port), {},
                                       20000);
        ASSERT_TRUE(run.finished) << run.output;
        EXPECT_EQ(row.expectedExit, run.exitCode) << run.output;
        EXPECT_NE(std::string::npos, run.output.find(row.expectedText)) << run.output;
        if (row.expectedExit != 0) {
            size_t failures = 0;
            for (size_t at = run.output.find("FAILED"); at != std::string::npos;
                 at = run.output.find("FAILED", at + 1))
                ++failures;
            EXPECT_EQ(1u, failures) << "one reason line expected:\n" << run.output;
        }
    }
}

std::string Exchange(unsigned short port, const std::string& request) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = Loopback(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        closesocket(s);
        return "connect failed with " + std::to_string(WSAGetLastError());
    }
    send(s, request.data(), static_cast<int>(request.size()), 0);
    std::string answer = ReadAll(s);
    closesocket(s);
    return answer;
}

unsigned short WaitForPort(const std::string& path) {
    for (int tries = 0; tries < 500; ++tries, Sleep(20)) {
        if (FILE* file = fopen(path.c_str(), "r")) {
            unsigned port = 0;
            int fields = fscanf(file, "%u", &port);
            fclose(file);
            if (fields == 1)
                return static_cast<unsigned short>(port);
        }
    }
    return 0;
}

TEST_F(Winsock, ServerAnswersEachRequestThenStops) {
    struct {
        const char* request;
        const char* expectedStatusLine;
    } rows[] = {
        {"POST /kestrix.bin HTTP/1.0\r\n\r\n", "HTTP/1.0 501 Not Implemented"},
        {"nonsense\r\n\r\n", "HTTP/1.0 400 Bad Request"},
        {"GET /elsewhere HTTP/1.0\r\n\r\n", "HTTP/1.0 404 Not Found"},
        {"GET /kestrix.bin HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", "HTTP/1.0 200 OK"},
    };
    char folder[MAX_PATH], portFile[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(sizeof folder, folder));
    ASSERT_NE(0u, GetTempFileNameA(folder, "kxt", 0, portFile));
    DeleteFileA(portFile);

    ProgramResult run;
    std::thread server([&] {
        run = RunProgram(std::string("http_server.exe --port 0 --requests 4 --port-file ") +
                             portFile, {}, 30000);
    });
    unsigned short port = WaitForPort(portFile);
    ASSERT_NE(0, port) << "the server wrote no port";
    std::string lastAnswer;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request);
        lastAnswer = Exchange(port, row.request);
        EXPECT_EQ(0u, lastAnswer.find(std::string(row.expectedStatusLine) + "\r\n")) << lastAnswer;
    }
    server.join();
    DeleteFileA(portFile);
    EXPECT_TRUE(run.finished) << run.output;
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("served 4 requests")) << run.output;

    HttpResponse response;
    std::string error;
    ASSERT_TRUE(ParseHttpResponse(lastAnswer, response, error)) << error;
    EXPECT_EQ(SampleHttpBody(), response.body);
}

}  // namespace
