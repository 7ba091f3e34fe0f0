// Registry fixture for the store's tests: test slots high in the table, their child
// device keys, and removal of everything the test created, leaving what was there before.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "bus_contract.h"
#include "common_control.h"
#include "message_box.h"

namespace pta_test {

using namespace pta;

constexpr uint32_t kTestSlots[] = {250, 251, 252};
constexpr const char* kVendorKey = "SOFTWARE\\Kelvor";
constexpr const char* kBusEnumKey = "SYSTEM\\CurrentControlSet\\Enum\\PTAMF2";

inline bool KeyPresent(const char* key)
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

inline std::string ChildInstanceKey(uint32_t slot)
{
    char key[128];
    snprintf(key, sizeof key, PTA_CHILD_ENUM_KEY "\\" PTA_CHILD_INSTANCE_FORMAT, slot);
    return key;
}

inline void SetRaw(const std::string& key, const char* name, DWORD type, const void* data,
                   DWORD size)
{
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &h, nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(h, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(h);
}

inline void SetDword(const std::string& key, const char* name, DWORD value)
{
    SetRaw(key, name, REG_DWORD, &value, sizeof value);
}

// The raw bytes and type of a value; false when it cannot be read.
inline bool GetRaw(const std::string& key, const char* name, DWORD* type, std::string* data)
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    char buffer[512];
    DWORD size = sizeof buffer;
    const LONG rc = RegQueryValueExA(h, name, nullptr, type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS) return false;
    data->assign(buffer, size);
    return true;
}

inline bool ValuePresent(const std::string& key, const char* name)
{
    DWORD type;
    std::string data;
    return GetRaw(key, name, &type, &data);
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vendorExisted_ = KeyPresent(kVendorKey);
        busEnumExisted_ = KeyPresent(kBusEnumKey);
        RemoveTestKeys();  // leftovers of an interrupted run
    }

    void TearDown() override
    {
        RemoveTestKeys();
        if (!vendorExisted_) SHDeleteKeyA(HKEY_LOCAL_MACHINE, kVendorKey);
        if (!busEnumExisted_) SHDeleteKeyA(HKEY_LOCAL_MACHINE, kBusEnumKey);
    }

    static void RemoveTestKeys()
    {
        for (uint32_t slot : kTestSlots) {
            SHDeleteKeyA(HKEY_LOCAL_MACHINE, SlotSubkey(slot).c_str());
            SHDeleteKeyA(HKEY_LOCAL_MACHINE, ChildInstanceKey(slot).c_str());
        }
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(ProductKey) + "\\TestTree").c_str());
    }

    // A port subkey with every value the list needs.
    static void ConfigureSlot(uint32_t slot, DWORD comPort)
    {
        const std::string key = SlotSubkey(slot);
        SetDword(key, EncryptionValue, 2);
        SetDword(key, IpAddressValue, 0xC0A80001);
        SetDword(key, TcpPortValue, 4001);
        SetDword(key, ComPortValue, comPort);
        SetDword(key, AliveRxTimerValue, 25000);
        SetDword(key, AliveTxTimerValue, 10000);
        char comment[64] = "a comment";
        SetRaw(key, Comment1Value, REG_MULTI_SZ, comment, sizeof comment);
        SetRaw(key, Comment2Value, REG_MULTI_SZ, comment, sizeof comment);
    }

    static void SetPortName(uint32_t slot, const char* name)
    {
        SetRaw(ChildParametersKey(slot), PTA_PORT_NAME_VALUE, REG_SZ, name,
               static_cast<DWORD>(strlen(name) + 1));
    }

private:
    bool vendorExisted_ = false;
    bool busEnumExisted_ = false;
};

}  // namespace pta_test
