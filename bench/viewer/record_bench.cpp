// What one record costs the traced program at the real viewer, against a bare round trip, and how
// fast a sender goes in a long flood, with the display running and with Log File Only.
//   record_bench [--rounds N] [--verbose]
//   run from the build's bin folder with WINEDLLOVERRIDES=ws2_32=n,b
// The viewer runs at High with a text log file, 225 ms updates, a 1 MB backlog and the other
// settings at their defaults. Each round measures in four slices, each after a Clear so that the
// backlog never fills, in an order that turns from slice to slice: the bare round trip (a
// record-sized WM_COPYDATA to a window of another process that only replies), and the time a
// sender waits per record for a text record, a 12-byte and a 1 KiB data record (binary, so shown
// as hex) with the display running. Then the sustained rate of text records after more than the
// backlog holds, with the display running and with Log File Only, in one order or the other.
// Figures are medians over the rounds; the ratios are medians of each round's own ratios, so the
// machine's drift falls on all cases.
#include "Architecture.h"
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../../common/LogRecord.h"
#include "BareRoundTrip.h"
#include "BenchViewer.h"
#include "Clock.h"

namespace {

const BenchSettings Settings = {2, 1048576, 225, "record-bench.log"};
const int BareRounds = 2000;
const int Slices = 4;   // each round measures every case in this many turns
const DWORD SmallSocket = 5001, LargeSocket = 5002;

struct CostCase {
    const char* name;
    std::string record;
    int count;   // few enough that the backlog never fills
};

// A text line as long as a typical call line; a backlog entry of about 100 bytes.
const char TextLine[] = "socket (1234) sending data synchronously [len=512] on a connected stream socket";
// A flood: more text records than the backlog holds, which filled it when the display showed
// one batch a tick and leaves every tick a buffer's worth to show now; then those timed.
const int FillRecords = int(Settings.backlogSize / 100) + 1500;
const int SustainedRecords = 3000;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Microseconds per record of count sends.
double TimeSends(const BenchViewer& viewer, const std::string& record, int count)
{
    double start = Now();
    for (int i = 0; i < count; i++)
        viewer.Send(record);
    return (Now() - start) * 1e6 / count;
}

// Lines per second deep in a flood (with Log File Only there is no display to keep up).
double SustainedRate(const BenchViewer& viewer, bool verbose)
{
    std::string record = TextRecord(TextLine);
    const int chunk = 500;
    for (int sent = 0; sent < FillRecords; sent += chunk) {
        double microseconds = TimeSends(viewer, record, chunk);
        if (verbose)
            printf("  fill %5d: %.1f us/record\n", sent + chunk, microseconds);
    }
    return 1e6 / TimeSends(viewer, record, SustainedRecords);
}

bool Fail(const char* what)
{
    printf("record_bench: FAILED: %s\n", what);
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "receiver") == 0)
        return RunReceiver();
    int rounds = 5;
    bool verbose = false;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--rounds") == 0 && i + 1 < argc && atoi(argv[i + 1]) > 0) {
            rounds = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--verbose") == 0) {
            verbose = true;
        } else {
            printf("usage: record_bench [--rounds N] [--verbose]\n");
            return 2;
        }
    }
    if (GetFileAttributesA("kestrixlayer.dll") == INVALID_FILE_ATTRIBUTES) {
        printf("record_bench: run it in the build's bin folder, where kestrixlayer.dll is\n");
        return 2;
    }
    printf("build: %s\n", KESTRIX_BITNESS);  // which of the two builds these figures are from
    BareReceiver receiver;
    BenchViewer viewer;
    if (!receiver.Start("record_bench.exe"))
        return Fail("the receiver did not come up"), 1;
    if (!viewer.Open(Settings))
        return Fail("the viewer did not come up"), 1;

    const CostCase cases[] = {
        {"text record", TextRecord(TextLine), 2000},
        {"12-byte data record", DataRecord(RecordDataSent, SmallSocket, 12, "socket (5001) sent 12 bytes of data"), 2000},
        {"1 KiB High data record",
         DataRecord(RecordDataReceived, LargeSocket, 1024, "socket (5002) received 1024 bytes of data"), 120},
    };
    const int caseCount = sizeof cases / sizeof cases[0];
    std::vector<double> bare, display, fileOnly, sustainedRatio;
    std::vector<double> cost[caseCount], costRatio[caseCount];

    printf("record bench: %d rounds; viewer at High, text log file, %lu ms updates, %lu-byte backlog\n", rounds,
           Settings.updateInterval, Settings.backlogSize);
    for (int round = 0; round < rounds; round++) {
        // with the display running: the bare round trip and the record cases, in a turning order
        if (!viewer.StartCapture(false))
            return Fail("the capture did not start"), 1;
        viewer.Send(SocketRecord(RecordSocketCreated, SmallSocket, "socket (5001) created"));
        viewer.Send(SocketRecord(RecordSocketCreated, LargeSocket, "socket (5002) created"));
        // in slices, so that a change of the machine's pace within the round falls on every case
        double roundBare = 0, roundCost[caseCount] = {};
        for (int slice = 0; slice < Slices; slice++) {
            // a slice's records fill about a quarter of the backlog
            viewer.Clear();
            Sleep(50);
            for (int step = 0; step <= caseCount; step++) {
                int which = (step + round + slice) % (caseCount + 1);
                if (which == caseCount)
                    roundBare += receiver.RoundTripMicroseconds(BareRounds / Slices) / Slices;
                else
                    roundCost[which] += TimeSends(viewer, cases[which].record, cases[which].count / Slices) / Slices;
            }
        }
        bare.push_back(roundBare);
        for (int i = 0; i < caseCount; i++) {
            cost[i].push_back(roundCost[i]);
            costRatio[i].push_back(roundCost[i] / roundBare);
        }

        // the sustained rates, display first in even rounds
        double rate[2] = {};
        for (int step = 0; step < 2; step++) {
            bool logFileOnly = (step + round) % 2 == 1;
            if ((step > 0 || logFileOnly) && !(viewer.StopCapture() && viewer.StartCapture(logFileOnly)))
                return Fail("the capture did not restart"), 1;
            rate[logFileOnly] = SustainedRate(viewer, verbose);
        }
        if (!viewer.StopCapture())
            return Fail("the capture did not stop"), 1;
        display.push_back(rate[0]);
        fileOnly.push_back(rate[1]);
        sustainedRatio.push_back(rate[0] / rate[1]);
        printf("round %d: bare %.1f us; %s %.1f us, %s %.1f us, %s %.1f us; flood %.0f lines/s, "
               "Log File Only %.0f lines/s\n", round + 1, roundBare, cases[0].name, roundCost[0], cases[1].name,
               roundCost[1], cases[2].name, roundCost[2], rate[0], rate[1]);
        fflush(stdout);
    }

    printf("\nmedians of %d rounds\n", rounds);
    printf("%-40s %9.1f us\n", "bare WM_COPYDATA round trip", Median(bare));
    for (int i = 0; i < caseCount; i++)
        printf("%-40s %9.1f us  %5.2fx bare\n", cases[i].name, Median(cost[i]), Median(costRatio[i]));
    printf("%-40s %9.0f lines/s\n", "flood, display running", Median(display));
    printf("%-40s %9.0f lines/s\n", "Log File Only", Median(fileOnly));
    printf("%-40s %9.2f\n", "display running / Log File Only", Median(sustainedRatio));
    return 0;
}
