// The control program's event handles, resolved to referenced event objects in the
// context of the request that carried them (passive level).
#include "ptaser2.h"

extern "C" NTSYSAPI NTSTATUS NTAPI ZwDuplicateObject(HANDLE SourceProcessHandle,
                                                     HANDLE SourceHandle,
                                                     HANDLE TargetProcessHandle,
                                                     PHANDLE TargetHandle,
                                                     ACCESS_MASK DesiredAccess,
                                                     ULONG HandleAttributes, ULONG Options);

namespace {

// mingw declares ExEventObjectType one indirection off.
POBJECT_TYPE EventType()
{
    return reinterpret_cast<POBJECT_TYPE>(ExEventObjectType);
}

// Wine cannot reference a handle of the requesting process directly. During dispatch
// the current process id is the requester's: the handle is duplicated from there into
// this process and referenced as a kernel handle.
NTSTATUS ReferenceThroughDuplicate(HANDLE handle, PVOID* object)
{
    CLIENT_ID client;
    client.UniqueProcess = PsGetCurrentProcessId();
    client.UniqueThread = nullptr;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE process;
    NTSTATUS status = ZwOpenProcess(&process, PROCESS_DUP_HANDLE, &attributes, &client);
    if (!NT_SUCCESS(status)) return status;
    HANDLE duplicate = nullptr;
    status = ZwDuplicateObject(process, handle, NtCurrentProcess(), &duplicate, EVENT_MODIFY_STATE,
                               0, 0);
    ZwClose(process);
    if (!NT_SUCCESS(status)) return status;
    status = ObReferenceObjectByHandle(duplicate, EVENT_MODIFY_STATE, EventType(), KernelMode,
                                       object, nullptr);
    ZwClose(duplicate);
    return status;
}

}  // namespace

PKEVENT ReferenceCallerEvent(uint64_t value, KPROCESSOR_MODE mode)
{
    if (value == 0) return nullptr;
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
    PVOID object = nullptr;
    NTSTATUS status =
        ObReferenceObjectByHandle(handle, EVENT_MODIFY_STATE, EventType(), mode, &object, nullptr);
    if (status == STATUS_NOT_IMPLEMENTED) status = ReferenceThroughDuplicate(handle, &object);
    return NT_SUCCESS(status) ? static_cast<PKEVENT>(object) : nullptr;
}
