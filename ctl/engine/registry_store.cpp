// The registry operations of CCommonControl.
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>

#include "bus_contract.h"
#include "common_control.h"

namespace pta {

std::string SlotSubkey(uint32_t slot)
{
    char key[64];
    snprintf(key, sizeof key, SlotSubkeyFormat, static_cast<int>(slot));
    return key;
}

std::string ChildParametersKey(uint32_t slot)
{
    char key[128];
    snprintf(key, sizeof key, PTA_CHILD_ENUM_KEY "\\" PTA_CHILD_INSTANCE_FORMAT
             "\\" PTA_DEVICE_PARAMETERS, static_cast<unsigned>(slot));
    return key;
}

LONG CCommonControl::OpenKey(const char* subkey, REGSAM access, HKEY* key)
{
    return RegOpenKeyExA(root_, subkey, 0, access, key);
}

LONG CCommonControl::CreateKey(const char* subkey, REGSAM access, HKEY* key)
{
    return RegCreateKeyExA(root_, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                           key, nullptr);
}

LONG CCommonControl::OpenForRead(const char* subkey, HKEY* key)
{
    LONG rc = OpenKey(subkey, kRegReadAccess, key);
    if (rc == ERROR_ACCESS_DENIED) rc = OpenKey(subkey, kRegReadAccess, key);
    return rc;
}

namespace {

ValueRead Query(HKEY key, const char* name, BYTE* data, DWORD* length, DWORD* type)
{
    const LONG rc = RegQueryValueExA(key, name, nullptr, type, data, length);
    RegCloseKey(key);
    if (rc == ERROR_FILE_NOT_FOUND) return ValueRead::Missing;
    return rc == ERROR_SUCCESS ? ValueRead::Present : ValueRead::Unusable;
}

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

}  // namespace

ValueRead CCommonControl::ReadDwordValue(const char* subkey, const char* name, DWORD* value)
{
    *value = 0;
    HKEY key;
    if (OpenForRead(subkey, &key) != ERROR_SUCCESS) return ValueRead::Unusable;
    DWORD data = 0, length = sizeof data, type = REG_NONE;
    ValueRead read = Query(key, name, reinterpret_cast<BYTE*>(&data), &length, &type);
    if (read != ValueRead::Present) return read;
    if (type != REG_DWORD || length != sizeof data) return ValueRead::Unusable;
    *value = data;
    return ValueRead::Present;
}

ValueRead CCommonControl::ReadTextValue(const char* subkey, const char* name, DWORD bufferBytes,
                                        bool multiString, std::string* text)
{
    text->clear();
    HKEY key;
    if (OpenForRead(subkey, &key) != ERROR_SUCCESS) return ValueRead::Unusable;
    // The whole value is read, even one longer than the buffer, so that an unusable
    // value still gives the text it holds.
    DWORD length = 0, type = REG_NONE;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &length);
    std::string buffer(length > bufferBytes ? length : bufferBytes, '\0');
    if (rc == ERROR_SUCCESS) {
        length = static_cast<DWORD>(buffer.size());
        rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &length);
    }
    RegCloseKey(key);
    if (rc == ERROR_FILE_NOT_FOUND) return ValueRead::Missing;
    if (rc != ERROR_SUCCESS) return ValueRead::Unusable;
    // The text ends at its first zero, which must lie within the stored bytes and the
    // buffer.
    const size_t zero = buffer.find('\0');
    const bool textType = type == REG_SZ || (multiString && type == REG_MULTI_SZ);
    const bool stringLike = textType || type == REG_EXPAND_SZ || type == REG_MULTI_SZ || type == REG_BINARY;
    if (stringLike) {
        size_t end = zero < length ? zero : length;
        if (end > bufferBytes - 1) end = bufferBytes - 1;
        text->assign(buffer, 0, end);
    }
    return textType && length <= bufferBytes && zero < length ? ValueRead::Present : ValueRead::Unusable;
}

int CCommonControl::WriteDword(const char* subkey, const char* name, DWORD value)
{
    HKEY key;
    if (CreateKey(subkey, kRegWriteAccess, &key) != ERROR_SUCCESS) return 0;
    const LONG rc = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                   sizeof value);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 1 : 0;
}

int CCommonControl::ReadDword(const char* subkey, const char* name, DWORD* value)
{
    return ReadDwordValue(subkey, name, value) == ValueRead::Present ? 1 : 0;
}

int CCommonControl::WriteString(const char* subkey, const char* name, const char* text)
{
    char data[kCommentBytes] = {};
    const std::string kept = CutComment(text ? text : "", IsLeadByte);
    memcpy(data, kept.data(), kept.size());
    HKEY key;
    if (CreateKey(subkey, kRegWriteAccess, &key) != ERROR_SUCCESS) return 0;
    const LONG rc = RegSetValueExA(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data),
                                   sizeof data);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 1 : 0;
}

int CCommonControl::ReadString(const char* subkey, const char* name, std::string* text)
{
    if (ReadTextValue(subkey, name, kCommentBytes, true, text) == ValueRead::Present) return 1;
    text->clear();
    return 0;
}

int CCommonControl::KeyExists(const char* subkey)
{
    HKEY key;
    if (OpenForRead(subkey, &key) != ERROR_SUCCESS) return 0;
    RegCloseKey(key);
    return 1;
}

int CCommonControl::DeleteKey(const char* subkey)
{
    if (subkey == nullptr || subkey[0] == '\0') return 0;
    SHDeleteKeyA(root_, subkey);
    // Gone means the key is not found any more; a key that merely cannot be opened is
    // still there.
    HKEY key;
    const LONG rc = OpenForRead(subkey, &key);
    if (rc == ERROR_SUCCESS) {
        RegCloseKey(key);
        return 0;
    }
    return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND ? 1 : 0;
}

}  // namespace pta
