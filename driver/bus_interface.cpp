// The bus child's query interface, asked for with a synchronous Plug and Play request.
#include "ptaser2.h"

NTSTATUS QueryBusInterface(PDEVICE_OBJECT target, pta::PtaBusInterface* bus)
{
    RtlZeroMemory(bus, sizeof *bus);
    if (target == nullptr) return STATUS_NOT_SUPPORTED;

    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb;
    PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, target, nullptr, 0, nullptr, &done, &iosb);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;

    // Nobody answering leaves the status a Plug and Play request starts with.
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MinorFunction = IRP_MN_QUERY_INTERFACE;
    stack->Parameters.QueryInterface.InterfaceType = &pta::AsGuid(pta::PtaBusInterfaceGuid);
    stack->Parameters.QueryInterface.Size = pta::kPtaBusInterfaceSize;
    stack->Parameters.QueryInterface.Version = pta::kPtaBusInterfaceVersion;
    stack->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(bus);
    stack->Parameters.QueryInterface.InterfaceSpecificData = nullptr;

    NTSTATUS status = IoCallDriver(target, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = iosb.Status;
    }
    if (!NT_SUCCESS(status)) return status;

    // A referenced interface without the calls this driver makes is released and refused.
    if (bus->GetChildInfo == nullptr || bus->InterfaceDereference == nullptr) {
        if (bus->InterfaceDereference != nullptr) bus->InterfaceDereference(bus->Context);
        RtlZeroMemory(bus, sizeof *bus);
        return STATUS_NOT_SUPPORTED;
    }
    return STATUS_SUCCESS;
}
