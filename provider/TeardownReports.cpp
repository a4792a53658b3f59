#include "TeardownReports.h"
#include "Channel.h"
#include "SocketContext.h"
#include "SocketLifeReports.h"

struct TeardownReport {
    int result;
    int error;
    SocketContext context;   // a copy of the fields the report reads
};

static TeardownReport* reports;
static int reportCount, reportRoom;

void QueueTeardownReport(int result, const SocketContext* context, int error)
{
    if (!viewerWindow)
        return;
    if (reportCount == reportRoom) {
        int room = reportRoom ? reportRoom * 2 : 16;
        void* grown = reports ? HeapReAlloc(GetProcessHeap(), 0, reports, room * sizeof(*reports))
                              : HeapAlloc(GetProcessHeap(), 0, room * sizeof(*reports));
        if (!grown) {
            ReportTeardownClose(result, context, context->layeredHandle, &error);
            return;
        }
        reports = static_cast<TeardownReport*>(grown);
        reportRoom = room;
    }
    reports[reportCount++] = TeardownReport{result, error, *context};
}

void SendTeardownReports()
{
    for (int i = 0; i < reportCount; i++) {
        const TeardownReport& report = reports[i];
        ReportTeardownClose(report.result, &report.context, report.context.layeredHandle,
                            &report.error);
    }
    if (reports)
        HeapFree(GetProcessHeap(), 0, reports);
    reports = nullptr;
    reportCount = reportRoom = 0;
}
