#include "port_manager_access.h"

#include "com_db.h"
#include "common_control.h"
#include "port_worker.h"

namespace pta::ui {

int CommonControlAccess::StartUp()
{
    return control_.StartUp();
}

void CommonControlAccess::TearDown()
{
    control_.TearDown();
}

int CommonControlAccess::AnyPortInUse()
{
    return control_.IsPortInUse(-1);
}

int CommonControlAccess::ReloadPortSettings()
{
    return control_.ReloadPortSettings();
}

void CommonControlAccess::SetMainWindow(HWND window)
{
    control_.SetMainWindow(window);
}

int CommonControlAccess::ReadSetting(const char* name, DWORD* value)
{
    return control_.ReadDword(ProductKey, name, value);
}

int CommonControlAccess::WriteSetting(const char* name, DWORD value)
{
    return control_.WriteDword(ProductKey, name, value);
}

const PortConfigMap& CommonControlAccess::Ports()
{
    return control_.Ports();
}

HANDLE CommonControlAccess::TableMutex()
{
    return control_.TableMutex();
}

int CommonControlAccess::ReadDword(const char* subkey, const char* name, DWORD* value)
{
    return control_.ReadDword(subkey, name, value);
}

int CommonControlAccess::WriteDword(const char* subkey, const char* name, DWORD value)
{
    return control_.WriteDword(subkey, name, value);
}

int CommonControlAccess::WriteString(const char* subkey, const char* name, const char* text)
{
    return control_.WriteString(subkey, name, text);
}

int CommonControlAccess::IsPortInUse(int slot)
{
    return control_.IsPortInUse(slot);
}

int CommonControlAccess::ForceClosePort(int slot, const char* comName)
{
    return control_.ForceClosePort(slot, comName);
}

bool CommonControlAccess::WorkerIndicators(uint32_t slot, IndicatorValues& values)
{
    auto* worker = dynamic_cast<PortWorker*>(control_.Worker(slot));
    if (!worker) return false;
    const worker::PortStatus status = worker->Status();
    for (uint32_t i = 0; i < worker::kIndicatorCount; ++i) values[i] = status.value[i];
    return true;
}

void CommonControlAccess::ResetActivity(uint32_t slot)
{
    if (auto* worker = dynamic_cast<PortWorker*>(control_.Worker(slot))) worker->ResetActivity();
}

bool CommonControlAccess::ComPortUsage(std::vector<uint8_t>* usage)
{
    ComPortDb db;
    if (db.Open() != ERROR_SUCCESS) return false;
    ComDbBitmap bitmap;
    if (db.Usage(&bitmap) != ERROR_SUCCESS) return false;
    usage->assign(kMaxComNumber, 0);
    for (uint32_t com = 1; com <= kMaxComNumber; ++com) (*usage)[com - 1] = ComDbInUse(bitmap, com) ? 1 : 0;
    return true;
}

void CommonControlAccess::SetSlotOpenCallback(SlotOpenCallback callback)
{
    control_.SetSlotOpenCallback(std::move(callback));
}

}  // namespace pta::ui
