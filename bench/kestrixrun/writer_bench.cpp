// The cost of one record to kestrixrun's writers, JSON lines and pcapng, for the same records: a
// loopback echo between two sockets of the traced process, as the layer describes it at High
// (each data record with the text records before it), for 64-byte, 1 KiB and 64 KiB messages.
// Each round times both writers on every size, in a turning order; the figures are medians of the
// rounds. The records' UTF-8 conversion and the file's write, which both writers share, are left
// out.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Architecture.h"
#include "JsonLines.h"
#include "PcapngTrace.h"

namespace {

const int Rounds = 7;
const int RoundTrips = 4000;
const uint32_t Listener = 100, Client = 104, Server = 108;

double Now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

struct OwnedRecord {
    TraceKind kind;
    uint32_t socket;
    std::string text;
    std::string data;
};

std::string SocketText(uint32_t socket, const std::string& rest)
{
    return "socket (" + std::to_string(socket) + ") " + rest;
}

// The records of a loopback echo: the connection, then per round trip the send and the receive
// on each side with their before-texts, then the close.
std::vector<OwnedRecord> EchoTrace(size_t messageLength)
{
    const std::string message(messageLength, 'k');
    const std::string length = std::to_string(messageLength);
    const std::string created = "created [family=AF_INET, type=SOCK_STREAM, protocol=IPPROTO_TCP]";
    std::vector<OwnedRecord> records = {
        {TraceKind::ProcessAttached, 0, "process attached, command line='echo.exe'", ""},
        {TraceKind::SocketCreated, Listener, SocketText(Listener, created), ""},
        {TraceKind::Message, 0, SocketText(Listener, "bound [name=127.0.0.1:5000]"), ""},
        {TraceKind::Message, 0, SocketText(Listener, "established for listening [backlog=5]"), ""},
        {TraceKind::SocketCreated, Client, SocketText(Client, created), ""},
        {TraceKind::Message, 0, SocketText(Client, "connecting synchronously [name=127.0.0.1:5000]"), ""},
        {TraceKind::Message, 0, SocketText(Client, "connected"), ""},
        {TraceKind::SocketCreated, Server,
         SocketText(Listener, "accepted a connection on new socket (108) [addr=127.0.0.1:40000]"), ""},
    };
    for (int i = 0; i < RoundTrips; i++) {
        for (uint32_t from : {Client, Server}) {
            uint32_t to = from == Client ? Server : Client;
            records.push_back({TraceKind::Message, 0, SocketText(from, "sending data synchronously [len=" + length + "]"), ""});
            records.push_back({TraceKind::DataSent, from, SocketText(from, "sent " + length + " bytes of data"), message});
            records.push_back({TraceKind::Message, 0, SocketText(to, "receiving data synchronously [len=65536]"), ""});
            records.push_back(
                {TraceKind::DataReceived, to, SocketText(to, "received " + length + " bytes of data"), message});
        }
    }
    records.push_back({TraceKind::SocketClosed, Client, SocketText(Client, "closed"), ""});
    records.push_back({TraceKind::SocketClosed, Server, SocketText(Server, "closed"), ""});
    records.push_back({TraceKind::ProcessDetached, 0, "process detached", ""});
    return records;
}

std::vector<TraceRecord> ViewsOf(const std::vector<OwnedRecord>& owned)
{
    std::vector<TraceRecord> views;
    for (size_t i = 0; i < owned.size(); i++) {
        const OwnedRecord& o = owned[i];
        TraceRecord record;
        record.seconds = double(i) * 1e-5;
        record.processId = 4242;
        record.kind = o.kind;
        record.hasSocket = o.socket != 0;
        record.socket = o.socket;
        record.hasCount = o.kind == TraceKind::DataSent || o.kind == TraceKind::DataReceived;
        record.count = uint32_t(o.data.size());
        record.text = o.text.c_str();
        record.textLength = o.text.size();
        if (!o.data.empty()) {
            record.data = reinterpret_cast<const uint8_t*>(o.data.data());
            record.dataLength = o.data.size();
        }
        views.push_back(record);
    }
    return views;
}

// Seconds per record; bytes says how much the writer produced.
double TimeJson(const std::vector<TraceRecord>& records, size_t& bytes)
{
    bytes = 0;
    double start = Now();
    for (const TraceRecord& record : records)
        bytes += JsonLineOf(record).size();
    return (Now() - start) / double(records.size());
}

double TimePcapng(const std::vector<TraceRecord>& records, size_t& bytes)
{
    bytes = 0;
    std::string out;
    double start = Now();
    PcapngTrace trace(1700000000000000ull, "Kestrix bench");
    for (const TraceRecord& record : records) {
        out.clear();   // as kestrixrun does once it has written a record's blocks
        trace.Record(record, out);
        bytes += out.size();
    }
    out.clear();
    trace.Finish(out);
    bytes += out.size();
    return (Now() - start) / double(records.size());
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main()
{
    const size_t sizes[] = {64, 1024, 65536};
    const size_t sizeCount = sizeof sizes / sizeof sizes[0];
    std::vector<std::vector<TraceRecord>> traces;
    std::vector<std::vector<OwnedRecord>> owned;
    for (size_t size : sizes) {
        owned.push_back(EchoTrace(size));
        traces.push_back(ViewsOf(owned.back()));
    }
    std::vector<double> json[sizeCount], pcapng[sizeCount];
    size_t jsonBytes[sizeCount] = {}, pcapngBytes[sizeCount] = {};
    for (int round = 0; round < Rounds; round++)
        for (size_t i = 0; i < sizeCount; i++) {
            // a turning order, so that a change of the machine's pace falls on both writers
            if ((round + int(i)) % 2) {
                json[i].push_back(TimeJson(traces[i], jsonBytes[i]));
                pcapng[i].push_back(TimePcapng(traces[i], pcapngBytes[i]));
            } else {
                pcapng[i].push_back(TimePcapng(traces[i], pcapngBytes[i]));
                json[i].push_back(TimeJson(traces[i], jsonBytes[i]));
            }
        }
    printf("writer_bench: a loopback echo traced at High, %d round trips, medians of %d rounds\n", RoundTrips, Rounds);
    printf("build: %s\n", KESTRIX_BITNESS);
    printf("%-9s %9s %14s %14s %10s %12s %12s\n", "message", "records", "JSON us/rec", "pcapng us/rec", "pcapng/JSON",
           "JSON MB", "pcapng MB");
    for (size_t i = 0; i < sizeCount; i++) {
        double j = Median(json[i]) * 1e6, p = Median(pcapng[i]) * 1e6;
        printf("%-9zu %9zu %14.3f %14.3f %10.2f %12.1f %12.1f\n", sizes[i], traces[i].size(), j, p, p / j,
               double(jsonBytes[i]) / 1e6, double(pcapngBytes[i]) / 1e6);
    }
    return 0;
}
