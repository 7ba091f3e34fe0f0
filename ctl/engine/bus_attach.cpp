// The program's registration with the bus driver: an event handed over its control
// interface while the program runs.
#include "common_control.h"

#include "bus_control.h"
#include "message_box.h"

namespace pta {

int CCommonControl::BusAttach()
{
    if (busHandle_ != INVALID_HANDLE_VALUE) return 1;
    busHandle_ = OpenBusInterface(true);
    bool attached = false;
    if (busHandle_ != INVALID_HANDLE_VALUE) {
        if (busEvent_ == INVALID_HANDLE_VALUE) {
            HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
            if (event) busEvent_ = event;
        }
        attached = busEvent_ != INVALID_HANDLE_VALUE && BusAttachEvent(busHandle_, busEvent_);
    }
    if (attached) return 1;

    // Most likely a run that never detached left its registration behind.
    const int answer = ShowMessageBox(
        "Previous execution of PortaraCtl was not terminated correctly.\nPerform cleanup for next execution?",
        MB_YESNO | MB_ICONERROR);
    if (busHandle_ != INVALID_HANDLE_VALUE) {
        if (answer == IDYES) BusDetachEvent(busHandle_, busEvent_);
        CloseHandle(busHandle_);
        busHandle_ = INVALID_HANDLE_VALUE;
    }
    return 0;
}

int CCommonControl::BusDetach()
{
    int result = 1;
    if (busHandle_ != INVALID_HANDLE_VALUE) {
        if (!BusDetachEvent(busHandle_, busEvent_)) result = 0;
        CloseHandle(busHandle_);
    }
    if (busEvent_ != INVALID_HANDLE_VALUE) CloseHandle(busEvent_);
    busHandle_ = INVALID_HANDLE_VALUE;
    busEvent_ = INVALID_HANDLE_VALUE;
    return result;
}

}  // namespace pta
