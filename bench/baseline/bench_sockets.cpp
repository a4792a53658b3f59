// Socket workload for comparing stacks and layers: TCP round trips of small messages and one
// bulk TCP transfer, client and server threads over 127.0.0.1, each made with synchronous
// send/recv, with overlapped WSASend/WSARecv waited on by event, or both. Prints one
// "name value" line per figure; rates are medians over the runs, and the _seconds, _data_calls
// and _data_bytes figures are totals over the runs (what a tracer of this process should see).
//   bench_sockets [--mode sync|overlapped|both] [--roundtrips N] [--message-bytes N]
//                 [--bulk-mib N] [--runs N]
// Overlapped figures carry the prefix "overlapped_". MB in the figures is 1,000,000 bytes.
#include "Architecture.h"
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <thread>
#include <vector>

#include "DataCalls.h"

namespace {

struct Options {
    long roundtrips = 20000;
    long messageBytes = 64;
    long bulkMiB = 64;
    long runs = 5;
    std::vector<const CallStyle*> styles = {&SynchronousCalls, &OverlappedCalls};
};

const char Usage[] = "usage: bench_sockets [--mode sync|overlapped|both] [--roundtrips N] "
                     "[--message-bytes N] [--bulk-mib N] [--runs N]\n";

const struct {
    const char* name;
    std::vector<const CallStyle*> styles;
} Modes[] = {{"sync", {&SynchronousCalls}},
             {"overlapped", {&OverlappedCalls}},
             {"both", {&SynchronousCalls, &OverlappedCalls}}};

bool TakeMode(const char* name, Options& options) {
    for (const auto& mode : Modes) {
        if (strcmp(name, mode.name) == 0) {
            options.styles = mode.styles;
            return true;
        }
    }
    return false;
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
        if (strcmp(argv[i], "--mode") == 0 && i + 1 < argc) {
            if (TakeMode(argv[++i], options))
                continue;
        }
        for (auto& row : table) {
            if (strcmp(argv[i], row.name) == 0 && i + 1 < argc) {
                *row.value = strtol(argv[++i], nullptr, 10);
                known = true;
            }
        }
        if (!known) {
            printf("%s", Usage);
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

struct Connection {
    Channel client;
    Channel server;
};

// socket() makes overlapped-capable sockets, and accept's inherit that from the listener, so
// one connection serves both call styles.
void Connect(SOCKET listener, Connection& c) {
    sockaddr_in address = {};
    int length = sizeof address;
    if (getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length))
        Fail("getsockname");
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (client == INVALID_SOCKET)
        Fail("socket");
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address))
        Fail("connect");
    // A loopback connect is already in the backlog; accept does not wait.
    SOCKET server = accept(listener, nullptr, nullptr);
    if (server == INVALID_SOCKET)
        Fail("accept");
    Prepare(client);
    Prepare(server);
    OpenChannel(c.client, client);
    OpenChannel(c.server, server);
}

struct Result {
    double seconds;
    long calls;
    long long bytes;
};

Result Finish(Connection& c, double seconds) {
    Result result = {seconds, c.client.calls + c.server.calls, c.client.bytes + c.server.bytes};
    CloseChannel(c.client);
    CloseChannel(c.server);
    return result;
}

// The echo side counts the messages instead of waiting for the end of the stream, so every
// data call of the workload moves bytes.
Result RoundTrips(SOCKET listener, const CallStyle& style, const Options& options) {
    Connection c;
    Connect(listener, c);
    std::thread echo([&] {
        std::vector<char> buffer(options.messageBytes);
        for (long i = 0; i < options.roundtrips; ++i) {
            if (!ReceiveExactly(c.server, style, buffer.data(), options.messageBytes))
                Fail("the stream ended before the last message");
            SendAll(c.server, style, buffer.data(), options.messageBytes);
        }
    });
    std::vector<char> message(options.messageBytes, 'k'), reply(options.messageBytes);
    double start = Seconds();
    for (long i = 0; i < options.roundtrips; ++i) {
        message[0] = char(i);
        SendAll(c.client, style, message.data(), options.messageBytes);
        if (!ReceiveExactly(c.client, style, reply.data(), options.messageBytes) ||
            reply[0] != char(i))
            Fail("the echo differs from the message");
    }
    double elapsed = Seconds() - start;
    echo.join();
    return Finish(c, elapsed);
}

Result Bulk(SOCKET listener, const CallStyle& style, const Options& options) {
    Connection c;
    Connect(listener, c);
    long long total = options.bulkMiB * 1024LL * 1024LL;
    std::thread sink([&] {
        std::vector<char> buffer(kBulkChunk);
        for (long long left = total; left > 0; left -= kBulkChunk)
            if (!ReceiveExactly(c.server, style, buffer.data(),
                                left < kBulkChunk ? long(left) : kBulkChunk))
                Fail("bulk stream ended early");
        char done = 1;
        SendAll(c.server, style, &done, 1);  // the sender's clock stops when all has arrived
    });
    std::vector<char> chunk(kBulkChunk, 'b');
    double start = Seconds();
    for (long long left = total; left > 0; left -= kBulkChunk)
        SendAll(c.client, style, chunk.data(), left < kBulkChunk ? long(left) : kBulkChunk);
    char done = 0;
    if (!ReceiveExactly(c.client, style, &done, 1) || done != 1)
        Fail("no end-of-transfer byte");
    double elapsed = Seconds() - start;
    sink.join();
    return Finish(c, elapsed);
}

double RoundTripRate(const Result& result, const Options& options) {
    return result.seconds > 0 ? options.roundtrips / result.seconds : 0;
}

double BulkRate(const Result& result, const Options& options) {
    return result.seconds > 0 ? options.bulkMiB * 1024.0 * 1024.0 / 1e6 / result.seconds : 0;
}

struct Workload {
    const char* name;
    const char* rateName;       // after the name: the median rate's figure
    const char* rateFormat;
    long Options::*amount;      // the workload is left out when this is 0
    Result (*run)(SOCKET, const CallStyle&, const Options&);
    double (*rate)(const Result&, const Options&);
    bool perOperationTime;      // also print the median time of one operation, in us
};

const Workload Workloads[] = {
    {"roundtrip", "ops_per_s", "%.0f", &Options::roundtrips, RoundTrips, RoundTripRate, true},
    {"bulk", "mb_per_s", "%.1f", &Options::bulkMiB, Bulk, BulkRate, false},
};

// What one workload in one call style gave over the runs.
struct Series {
    const Workload* workload;
    const CallStyle* style;
    std::vector<double> rates;
    Result total = {0, 0, 0};
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintFigure(const Series& series, const char* name, const char* format, double value) {
    printf("%s%s_%s ", series.style->prefix, series.workload->name, name);
    printf(format, value);
    printf("\n");
}

void PrintSummary(const Series& series) {
    const Workload& workload = *series.workload;
    double median = Median(series.rates);
    PrintFigure(series, workload.rateName, workload.rateFormat, median);
    if (workload.perOperationTime)
        PrintFigure(series, "us", "%.1f", median > 0 ? 1e6 / median : 0.0);
    PrintFigure(series, "seconds", "%.6f", series.total.seconds);
    PrintFigure(series, "data_calls", "%.0f", double(series.total.calls));
    PrintFigure(series, "data_bytes", "%.0f", double(series.total.bytes));
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    printf("build: %s\n", KESTRIX_BITNESS);  // which of the two builds these figures are from
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

    printf("bench_sockets: %ld runs; %ld round trips of %ld bytes; %ld MiB bulk; %s; 127.0.0.1\n",
           options.runs, options.roundtrips, options.messageBytes, options.bulkMiB,
           options.styles.size() > 1 ? "synchronous and overlapped"
           : options.styles[0] == &OverlappedCalls ? "overlapped" : "synchronous");
    std::vector<Series> series;
    for (const CallStyle* style : options.styles)
        for (const Workload& workload : Workloads)
            if (options.*workload.amount > 0)
                series.push_back({&workload, style, {}});
    for (long run = 1; run <= options.runs; ++run) {
        for (Series& s : series) {
            Result result = s.workload->run(listener, *s.style, options);
            s.rates.push_back(s.workload->rate(result, options));
            s.total.seconds += result.seconds;
            s.total.calls += result.calls;
            s.total.bytes += result.bytes;
            printf("run %ld ", run);
            PrintFigure(s, s.workload->rateName, s.workload->rateFormat, s.rates.back());
        }
        fflush(stdout);
    }
    for (const Series& s : series)
        PrintSummary(s);
    closesocket(listener);
    WSACleanup();
    return 0;
}
