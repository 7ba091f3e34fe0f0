#include <winsock2.h>

#include "common_control.h"

#include "bus_contract.h"
#include "message_box.h"

namespace pta {

CCommonControl::CCommonControl() : tableMutex_(CreateMutexA(nullptr, FALSE, nullptr)) {}

CCommonControl::~CCommonControl()
{
    TearDown();
    for (PortWorkerBase*& worker : workers_) {
        delete worker;
        worker = nullptr;
    }
    if (tableMutex_) CloseHandle(tableMutex_);
}

void CCommonControl::TearDown()
{
    if (tornDown_) return;
    tornDown_ = true;
    // Freeing a worker stops it, in use or not.
    if (tableMutex_) {
        TableLock lock(tableMutex_);
        for (uint32_t slot = 0; slot < kPortSlotCount; ++slot) SetWorker(slot, nullptr);
    }
    if (socketsStarted_) WSACleanup();
    socketsStarted_ = false;
    BusDetach();
    CloseSection();
}

PortWorkerBase* CCommonControl::Worker(uint32_t slot) const
{
    return slot < kPortSlotCount ? workers_[slot] : nullptr;
}

void CCommonControl::SetWorker(uint32_t slot, std::unique_ptr<PortWorkerBase> worker)
{
    if (slot >= kPortSlotCount) return;
    delete workers_[slot];
    workers_[slot] = worker.release();
}

std::unique_ptr<PortWorkerBase> CCommonControl::TakeWorker(uint32_t slot)
{
    if (slot >= kPortSlotCount) return nullptr;
    std::unique_ptr<PortWorkerBase> worker(workers_[slot]);
    workers_[slot] = nullptr;
    return worker;
}

// The reload's view of the registry, the workers and the message boxes.
class CCommonControl::ReloadHost : public PortReloadHost {
public:
    explicit ReloadHost(CCommonControl& control) : c_(control) {}

    bool SlotListed(uint32_t slot) override
    {
        return c_.workers_[slot] != nullptr && c_.KeyExists(SlotSubkey(slot).c_str());
    }

    std::optional<std::string> PortName(uint32_t slot) override
    {
        // Windows keeps the name in a 20-byte buffer's worth: "COM1024" fits with room.
        std::string name;
        if (c_.ReadTextValue(ChildParametersKey(slot).c_str(), PTA_PORT_NAME_VALUE, 20, false,
                             &name) != ValueRead::Present)
            return std::nullopt;
        return name;
    }

    ValueRead ReadSlotDword(uint32_t slot, const char* name, uint32_t& value) override
    {
        DWORD read = 0;
        const ValueRead result = c_.ReadDwordValue(SlotSubkey(slot).c_str(), name, &read);
        value = read;
        return result;
    }

    bool WriteSlotDword(uint32_t slot, const char* name, uint32_t value) override
    {
        return c_.WriteDword(SlotSubkey(slot).c_str(), name, value) == 1;
    }

    ValueRead ReadSlotString(uint32_t slot, const char* name, std::string& text) override
    {
        return c_.ReadTextValue(SlotSubkey(slot).c_str(), name, kCommentBytes, true, &text);
    }

    bool WriteSlotString(uint32_t slot, const char* name, const std::string& text) override
    {
        return c_.WriteString(SlotSubkey(slot).c_str(), name, text.c_str()) == 1;
    }

    bool PortInUse(uint32_t slot) override { return c_.workers_[slot]->IsInUse(); }

    bool RefreshPortNames(uint32_t slot, uint32_t comNumber) override
    {
        return c_.workers_[slot]->RefreshNames(comNumber);
    }

    void ShowError(const std::string& text) override { ShowMessageBox(text, MB_OK | MB_ICONERROR); }

private:
    CCommonControl& c_;
};

int CCommonControl::ReloadPortSettings()
{
    TableLock lock(tableMutex_);
    // Built aside and swapped in whole: a reader on this thread while a message box of the
    // reload is open still sees a complete map.
    PortConfigMap map;
    ReloadHost host(*this);
    const int result = BuildPortConfigMap(host, map);
    portConfigMap_.swap(map);
    return result;
}

}  // namespace pta
