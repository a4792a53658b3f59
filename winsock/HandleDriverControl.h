/* What the drop-in ws2_32 and the handle driver (ws2handles.sys) share: the device's names and
   the one request the driver serves. C, because the driver is built as C. */
#pragma once

#define WS2_HANDLE_SERVICE_NAME L"WS2LayerHandles"
#define WS2_HANDLE_DEVICE_NAME L"\\Device\\WS2LayerHandles"
#define WS2_HANDLE_LINK_NAME L"\\DosDevices\\WS2LayerHandles"
#define WS2_HANDLE_OPEN_NAME L"\\\\.\\WS2LayerHandles"
#define WS2_HANDLE_DRIVER_FILE L"ws2handles.sys"

/* CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS), written out so that
   neither side needs the other's headers. The input is one Ws2HandleCompletion; there is no
   output, so the byte count in the request's result is never taken for output data. */
#define WS2_HANDLE_COMPLETE_REQUEST 0x00222004u

typedef struct Ws2HandleCompletion {
    long status;            /* NTSTATUS the request completes with */
    unsigned long bytes;    /* its Information: the byte count the application is told */
} Ws2HandleCompletion;
