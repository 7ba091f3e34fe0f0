#include "port_manager_access.h"

#include "common_control.h"

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

}  // namespace pta::ui
