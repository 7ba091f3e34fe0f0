// CComPortaraApp: the control program's start and end. The port manager starts, the main
// window runs as a modal dialog for the program's whole life, and the port manager is
// torn down at the end, however the program was asked to quit.
#pragma once

#include "port_manager_access.h"

namespace pta {

class CComPortaraApp {
public:
    explicit CComPortaraApp(ui::PortManagerAccess& ports) : ports_(ports) {}

    // Runs the program from start to end; false: there is no message loop to enter
    // afterwards.
    bool InitInstance();

private:
    ui::PortManagerAccess& ports_;
};

}  // namespace pta
