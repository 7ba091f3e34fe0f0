// Driver entry: the add-device routine and the requests the port devices serve. The
// driver keeps no global state; everything lives in the device extensions.
#include "ptaser2.h"

namespace {

// Nothing to release: each device frees its own resources at removal.
extern "C" void NTAPI PtaUnload(PDRIVER_OBJECT) {}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    driver->DriverExtension->AddDevice = PtaAddDevice;
    driver->DriverUnload = PtaUnload;
    driver->MajorFunction[IRP_MJ_CREATE] = PtaDispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = PtaDispatchClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = PtaDispatchCleanup;
    driver->MajorFunction[IRP_MJ_READ] = PtaDispatchRead;
    driver->MajorFunction[IRP_MJ_WRITE] = PtaDispatchWrite;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = PtaDispatchDeviceControl;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = PtaDispatchInternalDeviceControl;
    driver->MajorFunction[IRP_MJ_POWER] = PtaDispatchPower;
    driver->MajorFunction[IRP_MJ_PNP] = PtaDispatchPnp;
    return STATUS_SUCCESS;
}
