// The registry side of the bus: which slots are configured, and the keys the port driver
// and the system read for each child (its port name and friendly name).
#include "core/child_names.h"
#include "ptamf2.h"

namespace ptamf2 {

namespace {

// A counted string over UTF-16 text of the given length.
UNICODE_STRING Counted(const char16_t* text, size_t chars)
{
    UNICODE_STRING s;
    s.Buffer = reinterpret_cast<PWCH>(const_cast<char16_t*>(text));
    s.Length = static_cast<USHORT>(chars * sizeof(WCHAR));
    s.MaximumLength = s.Length;
    return s;
}

// fmt formatted with number, as a counted string over buffer (kMaxNameChars long).
UNICODE_STRING Name(char16_t* buffer, const char* fmt, ULONG number = 0)
{
    return Counted(buffer, FormatName(buffer, kMaxNameChars, fmt, number));
}

NTSTATUS OpenKey(HANDLE* key, HANDLE root, UNICODE_STRING name, ACCESS_MASK access, bool create)
{
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               root, nullptr);
    if (!create) return ZwOpenKey(key, access, &attributes);
    return ZwCreateKey(key, access, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE, nullptr);
}

// Creates the key at path and every missing key above it, below the first existing
// characters of the path (keys are created one level at a time).
NTSTATUS CreateKeyPath(HANDLE* key, const char16_t* path, size_t chars, size_t existing)
{
    for (size_t i = existing + 1; i <= chars; ++i) {
        if (i < chars && path[i] != u'\\') continue;
        NTSTATUS status = OpenKey(key, nullptr, Counted(path, i), KEY_ALL_ACCESS, true);
        if (!NT_SUCCESS(status)) return status;
        if (i < chars) ZwClose(*key);
    }
    return STATUS_SUCCESS;
}

NTSTATUS SetValue(HANDLE key, const char* name, ULONG type, const void* data, ULONG bytes)
{
    char16_t text[kMaxNameChars];
    UNICODE_STRING valueName = Name(text, name);
    return ZwSetValueKey(key, &valueName, 0, type, const_cast<void*>(data), bytes);
}

// Sets a REG_SZ value to fmt formatted with number.
NTSTATUS SetText(HANDLE key, const char* name, const char* fmt, ULONG number)
{
    char16_t text[kMaxNameChars];
    const size_t chars = FormatName(text, kMaxNameChars, fmt, number);
    if (chars == 0) return STATUS_INVALID_PARAMETER;
    return SetValue(key, name, REG_SZ, text, static_cast<ULONG>((chars + 1) * sizeof(char16_t)));
}

// Reads the ComPort value of a slot's subkey into the configuration.
void ReadComPort(SlotConfig* config, HANDLE productKey, const UNICODE_STRING& subkey, ULONG slot)
{
    HANDLE key;
    if (!NT_SUCCESS(OpenKey(&key, productKey, subkey, KEY_QUERY_VALUE, false))) return;
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 16];
    } value;
    char16_t text[kMaxNameChars];
    UNICODE_STRING name = Name(text, pta::ComPortValue);
    ULONG length;
    if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, &value, sizeof(value),
                                   &length)))
        config->NoteComPort(slot, value.info.Type, value.info.Data, value.info.DataLength);
    ZwClose(key);
}

}  // namespace

NTSTATUS ReadSlotConfig(SlotConfig* config)
{
    char16_t path[kMaxNameChars];
    HANDLE productKey;
    NTSTATUS status = OpenKey(&productKey, nullptr, Name(path, kProductKeyPath), KEY_READ, false);
    // No product key: no slot is configured.
    if (status == STATUS_OBJECT_NAME_NOT_FOUND) return STATUS_SUCCESS;
    if (!NT_SUCCESS(status)) return status;

    union {
        KEY_BASIC_INFORMATION info;
        UCHAR bytes[sizeof(KEY_BASIC_INFORMATION) + 64 * sizeof(WCHAR)];
    } subkey;
    for (ULONG index = 0;; ++index) {
        ULONG length;
        status = ZwEnumerateKey(productKey, index, KeyBasicInformation, &subkey, sizeof(subkey),
                                &length);
        // A name too long for the buffer is no slot name.
        if (status == STATUS_BUFFER_OVERFLOW || status == STATUS_BUFFER_TOO_SMALL) continue;
        if (!NT_SUCCESS(status)) break;
        const auto* name = reinterpret_cast<const char16_t*>(subkey.info.Name);
        const size_t chars = subkey.info.NameLength / sizeof(WCHAR);
        const ULONG slot = config->NoteSubkey(name, chars);
        if (slot != SlotSet::kNone) ReadComPort(config, productKey, Counted(name, chars), slot);
    }
    ZwClose(productKey);
    return status == STATUS_NO_MORE_ENTRIES ? STATUS_SUCCESS : status;
}

NTSTATUS WriteChildKeys(ULONG slot, ULONG comNumber)
{
    char16_t root[kMaxNameChars];
    char16_t path[kMaxNameChars];
    const size_t existing = Name(root, kEnumRootPath).Length / sizeof(WCHAR);
    const UNICODE_STRING instancePath = Name(path, kInstanceKeyFormat, slot);
    HANDLE instanceKey;
    NTSTATUS status =
        CreateKeyPath(&instanceKey, path, instancePath.Length / sizeof(WCHAR), existing);
    if (!NT_SUCCESS(status)) return status;
    status = SetText(instanceKey, kFriendlyNameValue, kFriendlyNameFormat, comNumber);
    HANDLE parametersKey;
    if (NT_SUCCESS(status))
        status = OpenKey(&parametersKey, instanceKey, Name(path, PTA_DEVICE_PARAMETERS),
                         KEY_ALL_ACCESS, true);
    ZwClose(instanceKey);
    if (!NT_SUCCESS(status)) return status;

    const ULONG multiport = 0;
    status = SetText(parametersKey, PTA_PORT_NAME_VALUE, kComNameFormat, comNumber);
    if (NT_SUCCESS(status))
        status = SetValue(parametersKey, PTA_MULTIPORT_VALUE, REG_DWORD, &multiport,
                          sizeof(multiport));
    ZwClose(parametersKey);
    return status;
}

}  // namespace ptamf2
