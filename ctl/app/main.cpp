// PortaraCtl: the control program of the virtual serial ports.
#include <windows.h>

#include "common_control.h"
#include "portara_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    pta::ui::CommonControlAccess ports(pta::TheCommonControl());
    pta::CComPortaraApp app(ports);
    app.InitInstance();
    return 0;
}
