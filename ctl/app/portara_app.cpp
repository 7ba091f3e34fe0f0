#include "portara_app.h"

#include <windows.h>
#include <commctrl.h>

#include "main_dlg.h"
#include "port_list_page.h"

namespace pta {

bool CComPortaraApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    // Workers tell the port list when an application opens or closes a port.
    ports_.SetSlotOpenCallback(&ui::NotifyPortActState);
    if (ports_.StartUp()) {
        ui::CComMainDlg dialog(ports_);
        // The dialog ends when the program quits; whatever its result, the ports stop.
        dialog.DoModal(nullptr);
    }
    ports_.TearDown();
    return false;
}

}  // namespace pta
