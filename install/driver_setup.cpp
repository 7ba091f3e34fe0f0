#include "driver_setup.h"

#include <setupapi.h>

#include <newdev.h>

namespace pta {
namespace {

// A device information set closed when it goes out of scope.
struct DevInfoSet {
    HDEVINFO Handle;
    explicit DevInfoSet(HDEVINFO h) : Handle(h) {}
    ~DevInfoSet()
    {
        if (Handle != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(Handle);
    }
    DevInfoSet(const DevInfoSet&) = delete;
    DevInfoSet& operator=(const DevInfoSet&) = delete;
    bool Valid() const { return Handle != INVALID_HANDLE_VALUE; }
};

std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

bool RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

SetupResult StageInf(const std::string& infPath, const char* sysName)
{
    char dest[MAX_PATH] = {};
    if (!SetupCopyOEMInfA(infPath.c_str(), nullptr, SPOST_NONE, 0, dest, sizeof dest, nullptr,
                          nullptr))
        return SetupResult::Failed("SetupCopyOEMInf", GetLastError());
    if (sysName && *sysName) {
        std::string from = FolderOf(infPath) + "\\" + sysName;
        std::string to = FolderOf(dest) + "\\" + sysName;
        if (!CopyFileA(from.c_str(), to.c_str(), FALSE))
            return SetupResult::Failed("CopyFile", GetLastError());
    }
    return {};
}

SetupResult InstallRootEnumeratedDriver(const std::string& infPath, const char* hardwareId)
{
    GUID classGuid;
    char className[32];
    if (!SetupDiGetINFClassA(infPath.c_str(), &classGuid, className, sizeof className, nullptr))
        return SetupResult::Failed("GetINFClass", GetLastError());

    DevInfoSet set(SetupDiCreateDeviceInfoList(&classGuid, nullptr));
    if (!set.Valid()) return SetupResult::Failed("CreateDeviceInfoList", GetLastError());

    SP_DEVINFO_DATA dev = {};
    dev.cbSize = sizeof dev;
    if (!SetupDiCreateDeviceInfoA(set.Handle, className, &classGuid, nullptr, nullptr,
                                  DICD_GENERATE_ID, &dev))
        return SetupResult::Failed("CreateDeviceInfo", GetLastError());

    // The hardware id property is a multi-string: the id, then an empty string.
    std::string ids(hardwareId);
    ids.push_back('\0');
    ids.push_back('\0');
    if (!SetupDiSetDeviceRegistryPropertyA(set.Handle, &dev, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(ids.data()),
                                           static_cast<DWORD>(ids.size())))
        return SetupResult::Failed("SetDeviceRegistryProperty", GetLastError());

    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.Handle, &dev))
        return SetupResult::Failed("CallClassInstaller(REGISTERDEVICE)", GetLastError());

    typedef BOOL(WINAPI * UpdateDriverFn)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);
    SetupResult result;
    HMODULE newdev = LoadLibraryA("newdev.dll");
    UpdateDriverFn update =
        newdev ? reinterpret_cast<UpdateDriverFn>(reinterpret_cast<void*>(
                     GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesA")))
               : nullptr;
    BOOL reboot = FALSE;
    if (!update)
        result = SetupResult::Failed("UpdateDriverForPlugAndPlayDevices", GetLastError());
    else if (!update(nullptr, hardwareId, infPath.c_str(), INSTALLFLAG_FORCE, &reboot))
        result = SetupResult::Failed("UpdateDriverForPlugAndPlayDevices", GetLastError());
    if (newdev) FreeLibrary(newdev);

    if (!result.Ok && !SetupDiCallClassInstaller(DIF_REMOVE, set.Handle, &dev))
        result.Step = "CallClassInstaller(REMOVE)";  // the first error is kept
    return result;
}

}  // namespace pta
