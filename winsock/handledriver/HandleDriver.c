/* ws2handles.sys: the device whose opens are the socket handles the drop-in ws2_32 makes for
   providers without handles of their own. Every open is one socket handle; the one request it
   serves completes at once with the status and byte count it carries, and it is always
   completed as pending, so Wine delivers it the way it delivers any overlapped I/O: the
   application's event, a packet on the port the handle is bound to, with its key and
   overlapped, even for a failure. */
#include <ntddk.h>

#include "../HandleDriverControl.h"

static NTSTATUS Finish(IRP *irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Opens, cleanups and closes need nothing: a handle has no state here. */
static NTSTATUS WINAPI DispatchOpenClose(DEVICE_OBJECT *device, IRP *irp)
{
    (void)device;
    return Finish(irp, STATUS_SUCCESS);
}

static NTSTATUS WINAPI DispatchControl(DEVICE_OBJECT *device, IRP *irp)
{
    (void)device;
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.IoControlCode != WS2_HANDLE_COMPLETE_REQUEST ||
        stack->Parameters.DeviceIoControl.InputBufferLength != sizeof(Ws2HandleCompletion) ||
        stack->Parameters.DeviceIoControl.OutputBufferLength != 0)
        return Finish(irp, STATUS_INVALID_DEVICE_REQUEST);
    const Ws2HandleCompletion *completion = irp->AssociatedIrp.SystemBuffer;
    /* A request that failed without pending would reach neither the event nor the port. */
    IoMarkIrpPending(irp);
    irp->IoStatus.Status = completion->status;
    irp->IoStatus.Information = completion->bytes;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_PENDING;
}

static void WINAPI Unload(DRIVER_OBJECT *driver)
{
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, WS2_HANDLE_LINK_NAME);
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registryPath)
{
    (void)registryPath;
    UNICODE_STRING name, link;
    DEVICE_OBJECT *device;
    RtlInitUnicodeString(&name, WS2_HANDLE_DEVICE_NAME);
    RtlInitUnicodeString(&link, WS2_HANDLE_LINK_NAME);
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchOpenClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchOpenClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchOpenClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
