// Socket workload for comparing stacks and layers: TCP round trips of small messages and one
// bulk TCP transfer, client and server threads over 127.0.0.1. Prints one "name value" line per
// figure; the summary figures are medians over the runs.
//   bench_sockets [--roundtrips N] [--message-bytes N] [--bulk-mib N] [--runs N]
// MB in the figures is 1,000,000 bytes.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <thread>
#include <vector>

namespace {

struct Options {
    long roundtrips = 20000;
    long messageBytes = 64;
    long bulkMiB = 64;
    long runs = 5;
};

constexpr int kBulkChunk = 64 * 1024;
constexpr DWORD kStallMs = 30000;  // no single socket call may wait longer than this

[[noreturn]] void Fail(const char* what) {
    printf("bench_sockets: FAILED: %s (error %d)\n", what, WSAGetLastError());
    fflush(stdout);
    ExitProcess(1);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    struct {
        const char* name;
        long* value;
    } table[] = {{"--roundtrips", &options.roundtrips},
                 {"--message-bytes", &options.messageBytes},
                 {"--bulk-mib", &options.bulkMiB},
                 {"--runs", &options.runs}};
    for (int i = 1; i < argc; ++i) {
        bool known = false;
        for (auto& row : table) {
            if (strcmp(argv[i], row.name) == 0 && i + 1 < argc) {
                *row.value = strtol(argv[++i], nullptr, 10);
                known = true;
            }
        }
        if (!known) {
            printf("usage: bench_sockets [--roundtrips N] [--message-bytes N] [--bulk-mib N] "
                   "[--runs N]\n");
            ExitProcess(2);
        }
    }
    if (options.roundtrips < 0 || options.messageBytes < 1 || options.messageBytes > kBulkChunk ||
        options.bulkMiB < 0 || options.runs < 1) {
        printf("bench_sockets: counts must be positive, --message-bytes at most %d\n", kBulkChunk);
        ExitProcess(2);
    }
    return options;
}

double Seconds() {
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

void Prepare(SOCKET s) {
    DWORD stall = kStallMs;
    BOOL noDelay = TRUE;
    if (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&stall), sizeof stall) ||
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&stall), sizeof stall) ||
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&noDelay), sizeof noDelay))
        Fail("setsockopt");
}

void SendAll(SOCKET s, const char* data, long length) {
    while (length > 0) {
        int sent = send(s, data, length < kBulkChunk ? int(length) : kBulkChunk, 0);
        if (sent == SOCKET_ERROR)
            Fail("send");
        data += sent;
        length -= sent;
    }
}

// False at a clean end of stream before the first byte.
bool ReceiveExactly(SOCKET s, char* data, long length) {
    long total = 0;
    while (total < length) {
        int got = recv(s, data + total, int(length - total), 0);
        if (got == SOCKET_ERROR)
            Fail("recv");
        if (got == 0) {
            if (total == 0)
                return false;
            Fail("stream ended inside a message");
        }
        total += got;
    }
    return true;
}

struct Connection {
    SOCKET client;
    SOCKET server;
};

Connection Connect(SOCKET listener) {
    sockaddr_in address = {};
    int length = sizeof address;
    if (getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length))
        Fail("getsockname");
    Connection c;
    c.client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (c.client == INVALID_SOCKET)
        Fail("socket");
    if (connect(c.client, reinterpret_cast<sockaddr*>(&address), sizeof address))
        Fail("connect");
    // A loopback connect is already in the backlog; accept does not wait.
    c.server = accept(listener, nullptr, nullptr);
    if (c.server == INVALID_SOCKET)
        Fail("accept");
    Prepare(c.client);
    Prepare(c.server);
    return c;
}

double RoundTripsPerSecond(SOCKET listener, const Options& options) {
    Connection c = Connect(listener);
    std::thread echo([&] {
        std::vector<char> buffer(options.messageBytes);
        while (ReceiveExactly(c.server, buffer.data(), options.messageBytes))
            SendAll(c.server, buffer.data(), options.messageBytes);
    });
    std::vector<char> message(options.messageBytes, 'k'), reply(options.messageBytes);
    double start = Seconds();
    for (long i = 0; i < options.roundtrips; ++i) {
        message[0] = char(i);
        SendAll(c.client, message.data(), options.messageBytes);
        if (!ReceiveExactly(c.client, reply.data(), options.messageBytes) || reply[0] != char(i))
            Fail("the echo differs from the message");
    }
    double elapsed = Seconds() - start;
    shutdown(c.client, SD_SEND);
    echo.join();
    closesocket(c.client);
    closesocket(c.server);
    return elapsed > 0 ? options.roundtrips / elapsed : 0;
}

double BulkMegabytesPerSecond(SOCKET listener, const Options& options) {
    Connection c = Connect(listener);
    long long total = options.bulkMiB * 1024LL * 1024LL;
    std::thread sink([&] {
        std::vector<char> buffer(kBulkChunk);
        long long received = 0;
        while (received < total) {
            int got = recv(c.server, buffer.data(), kBulkChunk, 0);
            if (got == SOCKET_ERROR || got == 0)
                Fail("bulk recv");
            received += got;
        }
        char done = 1;
        SendAll(c.server, &done, 1);  // the sender's clock stops when all has arrived
    });
    std::vector<char> chunk(kBulkChunk, 'b');
    double start = Seconds();
    for (long long left = total; left > 0; left -= kBulkChunk)
        SendAll(c.client, chunk.data(), left < kBulkChunk ? long(left) : kBulkChunk);
    char done = 0;
    if (!ReceiveExactly(c.client, &done, 1) || done != 1)
        Fail("no end-of-transfer byte");
    double elapsed = Seconds() - start;
    sink.join();
    closesocket(c.client);
    closesocket(c.server);
    return elapsed > 0 ? double(total) / 1e6 / elapsed : 0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data))
        Fail("WSAStartup");
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        listen(listener, 4))
        Fail("listener");

    printf("bench_sockets: %ld runs; %ld round trips of %ld bytes; %ld MiB bulk; 127.0.0.1\n",
           options.runs, options.roundtrips, options.messageBytes, options.bulkMiB);
    std::vector<double> roundtrips, bulk;
    for (long run = 1; run <= options.runs; ++run) {
        if (options.roundtrips > 0) {
            roundtrips.push_back(RoundTripsPerSecond(listener, options));
            printf("run %ld roundtrip_ops_per_s %.0f\n", run, roundtrips.back());
        }
        if (options.bulkMiB > 0) {
            bulk.push_back(BulkMegabytesPerSecond(listener, options));
            printf("run %ld bulk_mb_per_s %.1f\n", run, bulk.back());
        }
        fflush(stdout);
    }
    if (!roundtrips.empty()) {
        double median = Median(roundtrips);
        printf("roundtrip_ops_per_s %.0f\n", median);
        printf("roundtrip_us %.1f\n", median > 0 ? 1e6 / median : 0.0);
    }
    if (!bulk.empty())
        printf("bulk_mb_per_s %.1f\n", Median(bulk));
    closesocket(listener);
    WSACleanup();
    return 0;
}
